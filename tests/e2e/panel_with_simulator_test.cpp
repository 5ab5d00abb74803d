// The real panel against the simulated projector in its own process: the
// whole road from a click to the projector's state and back to the words
// on the status line.

#include <gtest/gtest.h>

#include <memory>

#include "support/panel.h"
#include "support/simulator.h"

namespace qelo::test {
namespace {

class PanelWithSimulator : public ::testing::Test {
protected:
    void start(QStringList args) {
        sim = std::make_unique<Simulator>(QELO_SIM_PATH, args << "--reply-delay" << "10");
        panel = std::make_unique<Panel>(sim->pty());
        ASSERT_TRUE(panel->port.portOpen());
    }
    // Sends a query once its previous reply window is over, and waits for
    // the status line to show text.
    bool query(const char* button, const std::string& text, int ms = 1500) {
        panel->replyWindowClosed();
        panel->click(button);
        return panel->shows("Label25", text, ms);
    }

    std::unique_ptr<Simulator> sim;
    std::unique_ptr<Panel> panel;
};

TEST_F(PanelWithSimulator, PowerOnCountsDownAndThenIsOn) {
    start({"--countdown", "1500"});
    if (!sim) return;
    panel->click("Command17");
    EXPECT_TRUE(sim->logged("rx \"C00\\r\" accepted C00")) << sim->log();
    EXPECT_TRUE(panel->shows("Label12", " ACK CR ")) << panel->caption("Label12");
    EXPECT_TRUE(query("Command44", " Count down")) << panel->caption("Label25");

    bool on = false;
    for (int i = 0; i < 30 && !on; ++i) on = query("Command44", " Power ON", 400);
    EXPECT_TRUE(on) << panel->caption("Label25") << "\n" << sim->log();
    EXPECT_TRUE(panel->messages.empty());
}

TEST_F(PanelWithSimulator, LampTimeShowsTheHours) {
    start({"--hours", "1234"});
    if (!sim) return;
    EXPECT_TRUE(query("Command46", " 1 2 3 4 Hour")) << panel->caption("Label25");
}

TEST_F(PanelWithSimulator, ModeAfterVideoIsVideo) {
    start({});
    if (!sim) return;
    panel->click("Command29");
    EXPECT_TRUE(panel->shows("Label12", " ACK CR "));
    EXPECT_TRUE(query("Command45", " Video")) << panel->caption("Label25") << "\n" << sim->log();
}

TEST_F(PanelWithSimulator, AHangUpLeavesThePanelIdleAndTheNextSendIsReported) {
    start({});
    if (!sim) return;
    EXPECT_TRUE(query("Command44", " Stand by")) << panel->caption("Label25");
    const LoopCost baseline = loopCost(500);  // the same panel, idle on a live line
    sim->command("hangup");
    ASSERT_TRUE(spinUntil([&] { return !panel->port.portOpen(); }, 3000)) << sim->log();

    const LoopCost after = loopCost(500);
    EXPECT_TRUE(asIdleAs(after, baseline, 500))
        << "the panel kept busy after the hang-up: " << describe(after) << " against " << describe(baseline);

    panel->click("Command44");
    ASSERT_EQ(panel->messages.size(), 1u);
    EXPECT_NE(panel->messages[0].find(sim->pty() + " (COM1) is not open: the device went away"), std::string::npos)
        << panel->messages[0];
}

}  // namespace
}  // namespace qelo::test
