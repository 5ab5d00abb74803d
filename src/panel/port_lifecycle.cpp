// The serial port's life: start-up, the COM1/COM2 and 19200/9600 choices on
// the port panel, and END.
#include <optional>

#include "panel/form1.h"
#include "panel/layout.h"

namespace qelo::panel {

namespace {
constexpr platform::LineSettings kSettings19200{19200};
constexpr platform::LineSettings kSettings9600{9600};
}  // namespace

void Form1::Form_Load() {
    PortSettings = kSettings19200;
    // Centred for the full design height, then made compact without
    // centring again: the compact window sits a little above the centre.
    window_.setLeft((window_.screenWidth() - window_.widthTwips()) / 2.0);
    window_.setTop((window_.screenHeight() - window_.heightTwips()) / 2.0);
    window_.setHeight(layout::kCompactHeight);
    RepeatCode = 0;
    WaitReply = 0;
    RecvData.clear();
    try {
        port_.setCommPort(1);
        port_.setSettings(PortSettings);
        port_.setPortOpen(true);
    } catch (const platform::LineError&) {
        // Not reported here: selecting COM1 below opens port 1 again and
        // tells the operator if that fails too, so one problem gives one box.
    }
    window_.radio("Option1").setValue(true);
}

void Form1::Option1_Click() { portSwitch(1, 2); }
void Form1::Option2_Click() { portSwitch(2, 1); }
void Form1::Option3_Click() { speedSwitch(kSettings19200); }
void Form1::Option4_Click() { speedSwitch(kSettings9600); }

void Form1::portSwitch(int number, int fallback) {
    // Every step runs even after one fails; the last failure is what the
    // operator reads.
    std::optional<std::string> failure;
    auto attempt = [&failure](auto&& operation) {
        try {
            operation();
        } catch (const platform::LineError& e) {
            failure = e.what();
        }
    };

    attempt([&] {
        if (port_.portOpen()) port_.setPortOpen(false);
    });
    attempt([&] { port_.setCommPort(number); });
    // The chosen port is opened even when none was open before: otherwise a
    // single failure would leave the panel closed for the rest of the run
    // while the switch looked successful.
    if (!failure) attempt([&] { port_.setPortOpen(true); });

    if (failure) {
        warn(*failure);
        attempt([&] { port_.setCommPort(fallback); });
        return;  // the panel stays in view so the operator can choose again
    }
    frame8_.setVisible(false);
}

void Form1::speedSwitch(const platform::LineSettings& settings) {
    PortSettings = settings;
    port_.setSettings(PortSettings);  // applies to the open port at once
    frame8_.setVisible(false);
}

void Form1::Command16_Click() {
    try {
        port_.setPortOpen(false);
    } catch (const platform::LineError&) {
        // Leaving must not depend on the port: it may be gone already.
    }
    window_.unload();
    window_.end();
}

}  // namespace qelo::panel
