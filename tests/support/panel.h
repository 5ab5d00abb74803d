#pragma once
// The real panel as the program puts it together: the Qt window, the Qt
// serial adapter and Form1 between them, failures from Qt's delivery
// reported in a message box, then Form_Load and show. Message boxes are
// collected instead of shown. COM1 and COM2 lead wherever the test routes
// them.

#include <QApplication>
#include <QPushButton>
#include <QTest>

#include <exception>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "panel/form1.h"
#include "qt/serial_port.h"
#include "qt/window.h"
#include "support/pty.h"

namespace qelo::test {

using platform::qt::kMissingDevice;

class Panel {
public:
    // What Form1 sees of the window, when it is not the window itself (a
    // benchmark's stamping layer).
    using View = std::function<std::unique_ptr<platform::Window>(platform::qt::QtWindow&)>;

    // COM1 leads to com1, COM2 to a device that does not exist.
    explicit Panel(const std::string& com1, View view = {})
        : Panel(platform::qt::routedPortMap({{1, com1}, {2, kMissingDevice}}), std::move(view)) {}
    explicit Panel(platform::qt::PortMap map, View view = {})
        : port(std::move(map)), seen(view ? view(window) : nullptr), form(seen ? *seen : window, port) {
        window.messageBoxHook = [this](const std::string& text, const std::string&) { messages.push_back(text); };
        const auto reporter = [this](const std::exception_ptr& failure) { report(failure); };
        window.setFailureReporter(reporter);
        port.setFailureReporter(reporter);
        form.dispatch([this] { form.Form_Load(); });
        window.show();
    }
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

    platform::qt::QtSerialPort port;
    platform::qt::QtWindow window;
    std::unique_ptr<platform::Window> seen;
    panel::Form1 form;
    std::vector<std::string> messages;

private:
    void report(const std::exception_ptr& failure) {
        try {
            std::rethrow_exception(failure);
        } catch (const std::exception& e) {
            window.messageBox(e.what(), panel::kAppTitle);
        } catch (...) {
            window.messageBox("Unknown failure", panel::kAppTitle);
        }
    }
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
