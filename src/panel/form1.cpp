// Binding of the window's events to Form1's handlers, and the one place
// where a serial failure that no handler caught reaches the operator.
#include "panel/form1.h"

#include <string>

#include "panel/buttons.h"

namespace qelo::panel {

Form1::Form1(platform::Window& window, platform::SerialPort& port)
    : window_(window),
      port_(port),
      label11_(window.label("Label11")),
      label12_(window.label("Label12")),
      label25_(window.label("Label25")),
      timer1_(window.timer("Timer1")),
      timer2_(window.timer("Timer2")),
      timer3_(window.timer("Timer3")),
      timer4_(window.timer("Timer4")),
      frame8_(window.frame("Frame8")),
      command34_(window.button("Command34")) {
    bindEvents();
}

void Form1::bindEvents() {
    auto on = [this](void (Form1::*handler)()) {
        return [this, handler] { dispatch([this, handler] { (this->*handler)(); }); };
    };

    for (const layout::Control* row : oneShotButtons())
        window_.button(row->name).onClick([this, row] { dispatch([&] { Command_Click(*row); }); });
    for (const layout::Control* row : holdButtons()) {
        auto& button = window_.button(row->name);
        button.onMouseDown([this, row](const platform::MouseEvent& e) {
            dispatchHold([&] { Command_MouseDown(*row, e); });
        });
        button.onMouseUp([this, row](const platform::MouseEvent& e) {
            dispatch([&] { Command_MouseUp(*row, e); });
        });
    }
    window_.button("Command16").onClick(on(&Form1::Command16_Click));
    window_.button("Command33").onClick(on(&Form1::Command33_Click));
    command34_.onClick(on(&Form1::Command34_Click));
    window_.radio("Option1").onClick(on(&Form1::Option1_Click));
    window_.radio("Option2").onClick(on(&Form1::Option2_Click));
    window_.radio("Option3").onClick(on(&Form1::Option3_Click));
    window_.radio("Option4").onClick(on(&Form1::Option4_Click));
    timer1_.onTick([this] { dispatchHold([this] { Timer1_Timer(); }); });
    timer2_.onTick(on(&Form1::Timer2_Timer));
    timer3_.onTick(on(&Form1::Timer3_Timer));
    timer4_.onTick(on(&Form1::Timer4_Timer));
    window_.onKeyDown([this](int key, int shift) { dispatch([&] { Form_KeyDown(key, shift); }); });
    port_.onComm(on(&Form1::MSComm1_OnComm));
}

void Form1::warn(const std::string& text) { window_.messageBox(text, kAppTitle); }

void Form1::dispatch(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const platform::LineError& e) {
        warn(e.what());
    }
}

void Form1::dispatchHold(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const platform::LineError& e) {
        // One failure per hold, not one per tick: the hold ends as its
        // release would end it, before the modal box lets timers run again.
        if (const layout::Control* held = heldButton(RepeatCode)) Command_MouseUp(*held, {});
        warn(e.what());
    }
}

}  // namespace qelo::panel
