#pragma once
// What every program that shows the panel puts together the same way: the
// application with its one failure reporter, the window, the serial port,
// Form1 and the start-up.
#include <QApplication>
#include <QSocketNotifier>

#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "panel/form1.h"
#include "qt/serial_port.h"
#include "qt/window.h"

namespace qelo::app {

// The application as the panel programs set it up: style, fonts, and an
// orderly end on a termination signal.
class PanelApplication final : public QApplication {
public:
    PanelApplication(int& argc, char** argv);

    // exec(), unless a termination signal came while the start-up still ran
    // (a start-up message box, say): exec() would forget that request.
    int run();

private:
    bool terminating_ = false;
    std::unique_ptr<QSocketNotifier> termination_;
    // A logout or a kill asks politely: leave the event loop so that the port
    // is closed and its lock released, as when the window is closed.
    void quitOnTermination();
};

// What a test or a benchmark puts in place of the program's own pieces;
// empty, the program's.
struct PanelHooks {
    // What Form1 sees of the window, when it is not the window itself (a
    // benchmark's stamping layer, say).
    std::function<std::unique_ptr<platform::Window>(platform::qt::QtWindow&)> view;
    // Where message boxes go instead of the screen.
    std::function<void(const std::string& text, const std::string& title)> messageBox;
    // The line Form1 talks to, when it is not the serial port (a fake).
    platform::SerialPort* line = nullptr;
};

class PanelProgram {
public:
    // Whatever a handler called from Qt lets through is reported in a
    // message box: the window and the port deliver Qt's events to the logic,
    // and they are the one place where failures are caught on the way.
    explicit PanelProgram(platform::qt::PortMap map, PanelHooks hooks = {});
    ~PanelProgram();  // closes the port, however the window was closed

    // Runs the start-up, then shows the window.
    void start();

    // What Form1 sees of the window: the window, unless a hook put a view
    // in between.
    platform::Window& view() { return view_ ? *view_ : window; }

    platform::qt::QtWindow window;
    platform::qt::QtSerialPort port;

private:
    std::unique_ptr<platform::Window> view_;  // before form, which is built on it

public:
    panel::Form1 form;

private:
    void report(const std::exception_ptr& failure);
};

}  // namespace qelo::app
