// The table of accessible names, tooltips and descriptions, without a window.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "link/protocol.h"
#include "panel/accessibility.h"
#include "panel/buttons.h"
#include "panel/layout.h"

namespace qelo::test {
namespace {

namespace a11y = panel::accessibility;
namespace layout = panel::layout;

TEST(AccessibilityTable, EveryControlHasANameAndEveryActionableOneADistinctName) {
    std::set<std::string> actionable;
    for (const layout::Control& c : layout::controls()) {
        const auto e = a11y::find(c.name);
        ASSERT_TRUE(e) << c.name;
        EXPECT_FALSE(e->name.empty()) << c.name;
        // Two buttons both called "ON" would leave a screen-reader user guessing.
        if (c.kind == layout::Kind::Button || c.kind == layout::Kind::Radio) {
            EXPECT_TRUE(actionable.insert(e->name).second) << c.name << " shares the name " << e->name;
        }
    }
    const auto logo = a11y::find(layout::image().name);
    ASSERT_TRUE(logo);
    EXPECT_FALSE(logo->name.empty());
    EXPECT_EQ(a11y::entries().size(), layout::controls().size() + 1);
    EXPECT_FALSE(a11y::find("Command4"));
}

// A command button's name comes from the catalogue entry of the code its
// handler sends; that entry must be the button the operator sees, and the
// tooltip must show the code that really goes out.
TEST(AccessibilityTable, CommandButtonsAreNamedAndTippedAfterWhatTheySend) {
    auto check = [](const char* button, const char* code, bool held) {
        SCOPED_TRACE(button);
        const auto e = a11y::find(button);
        const layout::Control* c = layout::findControl(button);
        const link::CatalogueEntry* sent = link::findCode(code);
        ASSERT_TRUE(e && c && sent);
        EXPECT_STREQ(sent->caption, c->caption);
        EXPECT_EQ(e->tooltip.rfind(code, 0), 0u) << e->tooltip;
        EXPECT_EQ(e->tooltip.find("held") != std::string::npos, held) << e->tooltip;
        EXPECT_NE(e->name.find(*sent->group ? sent->group : ""), std::string::npos) << e->name;
    };
    for (const auto* b : panel::oneShotButtons()) check(b->name, b->code, false);
    for (const auto* b : panel::holdButtons()) check(b->name, b->code, true);
}

struct Shown {
    const char* control;
    const char* shown;
    const char* name;
};

class NameFor : public ::testing::TestWithParam<Shown> {};

TEST_P(NameFor, FollowsWhatTheControlShows) {
    const auto e = a11y::find(GetParam().control);
    ASSERT_TRUE(e);
    EXPECT_EQ(a11y::nameFor(*e, GetParam().shown), GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(
    Panel, NameFor,
    ::testing::Values(
        // What each kind of control is called before it shows anything.
        Shown{"Command1", "", "VOL +"}, Shown{"Command35", "", "Zoom -"}, Shown{"Command48", "", "D.Zoom +"},
        Shown{"Command5", "", "Cursor up"}, Shown{"Command8", "", "Cursor right"},
        Shown{"Command17", "", "POWER ON"}, Shown{"Command20", "", "AUDIO MUTE OFF"},
        Shown{"Command54", "", "POWER MANAGEMENT ON"}, Shown{"Label11", "", "TXD"}, Shown{"Label12", "", "RXD"},
        Shown{"Option4", "", "9600 baud"}, Shown{"Frame8", "", "Port settings"},
        // The toggle's captions, also as the window wraps them onto two lines.
        Shown{"Command34", "データを表示する", "Show data area"},
        Shown{"Command34", "データを表示しない", "Hide data area"},
        Shown{"Command34", "データを\n表示しない", "Hide data area"},
        Shown{"Command34", "CLOSE", "Close data area"},
        Shown{"Command34", "SOME\nTHING ELSE", "SOME THING ELSE"},
        Shown{"Command34", "", "Show data area"},
        // Display lines: the title, then what they show without the lead blank.
        Shown{"Label25", " Power ON", "STATUS: Power ON"},
        Shown{"Label25", "", "STATUS"},
        Shown{"Label25", "   ", "STATUS"},
        Shown{"Label11", " C 0 9 CR", "TXD: C 0 9 CR"},
        Shown{"Label12", " X X X X", "RXD: X X X X"},
        // Fixed names ignore what is shown.
        Shown{"Command1", "anything", "VOL +"}),
    [](const auto& info) { return std::string(info.param.control) + "_" + std::to_string(info.index); });

}  // namespace
}  // namespace qelo::test
