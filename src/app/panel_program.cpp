#include "app/panel_program.h"

#include <string>

#include "qt/accessibility.h"
#include "qt/setup.h"
#include "qt/termination.h"

namespace qelo::app {

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
}  // namespace

PanelApplication::PanelApplication(int& argc, char** argv) : QApplication(argc, argv) {
    platform::qt::setupLook(*this);
    quitOnTermination();
}

void PanelApplication::quitOnTermination() {
    termination_ = platform::qt::notifyTermination([this] {
        terminating_ = true;
        // exit(), not quit(): a message box left open must not refuse it.
        QCoreApplication::exit(0);
    });
}

int PanelApplication::run() { return terminating_ ? 0 : exec(); }

PanelProgram::PanelProgram(platform::qt::PortMap map, PanelHooks hooks)
    : port(std::move(map)), view_(hooks.view ? hooks.view(window) : nullptr),
      form(view(), hooks.line ? *hooks.line : static_cast<platform::SerialPort&>(port)) {
    if (hooks.messageBox) window.messageBoxHook = std::move(hooks.messageBox);
    const auto reporter = [this](const std::exception_ptr& failure) { report(failure); };
    window.setFailureReporter(reporter);
    port.setFailureReporter(reporter);
    platform::qt::applyAccessibility(window);
    platform::qt::describePortDevices(window, [this](int number) { return port.deviceFor(number); });
}

PanelProgram::~PanelProgram() {
    try {
        if (port.portOpen()) port.setPortOpen(false);
    } catch (...) {
        // Leaving must not depend on a port that may be gone already.
    }
}

void PanelProgram::report(const std::exception_ptr& failure) {
    window.messageBox(describe(failure), panel::kAppTitle);
}

void PanelProgram::start() {
    window.deliver([this] { form.dispatch([this] { form.Form_Load(); }); });
    window.show();
}

}  // namespace qelo::app
