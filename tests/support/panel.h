#pragma once
// The real panel — window, Form1 and the serial adapter — put together as
// the program does, with COM1 routed to a given device and COM2 to one that
// does not exist.

#include <QApplication>
#include <QPushButton>
#include <QTest>

#include <string>
#include <vector>

#include "panel/form1.h"
#include "platform/qt/serial_port.h"
#include "platform/qt/window.h"
#include "pty.h"

namespace qelo::e2e {

inline constexpr const char* kMissingDevice = "/dev/qelo-no-such-port";

class Panel {
public:
    explicit Panel(const std::string& com1)
        : port(platform::qt::routedPortMap({{1, com1}, {2, kMissingDevice}})), form(window, port) {
        window.messageBoxHook = [this](const std::string& text, const std::string&) { messages.push_back(text); };
        form.Form_Load();
        window.show();
    }

    QPushButton* widget(const char* name) {
        auto* w = window.findChild<QPushButton*>(name);
        if (!w) throw std::runtime_error(std::string("no button ") + name);
        return w;
    }
    void click(const char* name) { QTest::mouseClick(widget(name), Qt::LeftButton); }
    void press(const char* name) { QTest::mousePress(widget(name), Qt::LeftButton); }
    void release(const char* name) { QTest::mouseRelease(widget(name), Qt::LeftButton); }
    std::string caption(const char* label) { return window.label(label).caption(); }

    // Waits for a label to show a text; the event loop runs meanwhile.
    bool shows(const char* label, const std::string& text, int ms = 3000) {
        return spinUntil([&] { return caption(label) == text; }, ms);
    }
    // Waits until the reply window of the last send has closed, so that the
    // next reply is gathered from nothing.
    bool replyWindowClosed(int ms = 3000) {
        return spinUntil([&] { return !window.timer("Timer2").enabled(); }, ms);
    }

    platform::qt::QtSerialPort port;
    platform::qt::QtWindow window;
    panel::Form1 form;
    std::vector<std::string> messages;
};

// Splits what came over the line into frames at each CR.
inline std::vector<std::string> frames(const std::string& wire) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t cr; (cr = wire.find('\r', start)) != std::string::npos; start = cr + 1)
        out.push_back(wire.substr(start, cr - start));
    if (start < wire.size()) out.push_back(wire.substr(start));
    return out;
}

}  // namespace qelo::e2e
