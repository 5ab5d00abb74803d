// The panel on the machine's real serial ports.
#include <QApplication>

#include <exception>
#include <functional>
#include <string>

#include "panel/form1.h"
#include "platform/qt/serial_port.h"
#include "platform/qt/setup.h"
#include "platform/qt/window.h"

namespace {

std::string describe(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "Unknown failure";
    }
}

// Whatever a handler let through ends here instead of ending the program.
class PanelApplication final : public QApplication {
public:
    using QApplication::QApplication;
    std::function<void(const std::exception_ptr&)> reporter;

    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (...) {
            if (!reporter) throw;
            reporter(std::current_exception());
            return false;
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    using namespace qelo;

    PanelApplication app(argc, argv);
    platform::qt::setupStyle(app);
    platform::qt::installFonts();

    platform::qt::QtWindow window;
    platform::qt::QtSerialPort port;

    // The one reporter of failures that no handler caught.
    const auto report = [&window](const std::exception_ptr& failure) {
        window.messageBox(describe(failure), panel::kAppTitle);
    };
    app.reporter = report;
    window.setFailureReporter(report);

    panel::Form1 form(window, port);
    try {
        form.dispatch([&] { form.Form_Load(); });
    } catch (...) {
        report(std::current_exception());
    }

    window.show();
    const int status = app.exec();

    // Closing from the title bar ends here too: the port goes with the window.
    try {
        if (port.portOpen()) port.setPortOpen(false);
    } catch (...) {
    }
    return status;
}
