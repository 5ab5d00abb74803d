#pragma once
// The real panel as the program puts it together (PanelProgram, started),
// with message boxes collected instead of shown. COM1 and COM2 lead wherever
// the test routes them.

#include <QApplication>
#include <QPushButton>
#include <QTest>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/panel_program.h"
#include "support/pty.h"

namespace qelo::test {

using platform::qt::kMissingDevice;

class Panel {
public:
    using View = decltype(app::PanelHooks::view);

    // COM1 leads to com1, COM2 to a device that does not exist.
    explicit Panel(const std::string& com1, View view = {})
        : Panel(platform::qt::routedPortMap({{1, com1}, {2, kMissingDevice}}), std::move(view)) {}
    explicit Panel(platform::qt::PortMap map, View view = {}, platform::SerialPort* line = nullptr)
        : program(std::move(map), {std::move(view),
                                   [this](const std::string& text, const std::string&) { messages.push_back(text); },
                                   line}) {
        program.start();
    }
    // Form1 talks to line (a fake) instead of the serial port.
    explicit Panel(platform::SerialPort& line) : Panel(platform::qt::defaultPortMap(), {}, &line) {}
    Panel(const Panel&) = delete;
    Panel& operator=(const Panel&) = delete;
    QPushButton* widget(const std::string& name) {
        auto* w = window.findChild<QPushButton*>(QString::fromStdString(name));
        if (!w) throw std::runtime_error("no button " + name);
        return w;
    }
    void click(const std::string& name) { QTest::mouseClick(widget(name), Qt::LeftButton); }
    void press(const std::string& name) { QTest::mousePress(widget(name), Qt::LeftButton); }
    void release(const std::string& name) { QTest::mouseRelease(widget(name), Qt::LeftButton); }
    std::string caption(const std::string& label) { return window.label(label).caption(); }

    // Waits for a label to show a text; the event loop runs meanwhile.
    bool shows(const std::string& label, const std::string& text, int ms = 3000) {
        return spinUntil([&] { return caption(label) == text; }, ms);
    }
    // Waits until the reply window of the last send has closed, so that the
    // next reply is gathered from nothing.
    bool replyWindowClosed(int ms = 3000) {
        return spinUntil([&] { return !window.timer("Timer2").enabled(); }, ms);
    }

    std::vector<std::string> messages;  // before the program, which may show one until its end
    app::PanelProgram program;
    platform::qt::QtSerialPort& port = program.port;
    platform::qt::QtWindow& window = program.window;
    panel::Form1& form = program.form;
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

}  // namespace qelo::test
