#include "app/panel_program.h"

#include <string>

#include "platform/qt/accessibility.h"
#include "platform/qt/setup.h"

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
    platform::qt::setupStyle(*this);
    platform::qt::installFonts();
}

bool PanelApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        if (!reporter) throw;
        reporter(std::current_exception());
        return false;
    }
}

PanelProgram::PanelProgram(PanelApplication& app, platform::qt::PortMap map)
    : port(std::move(map)), form(window, port) {
    const auto reporter = [this](const std::exception_ptr& failure) { report(failure); };
    app.reporter = reporter;
    window.setFailureReporter(reporter);
    port.setFailureReporter(reporter);
    platform::qt::applyAccessibility(window);
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
    try {
        form.dispatch([this] { form.Form_Load(); });
    } catch (...) {
        report(std::current_exception());
    }
    window.show();
}

}  // namespace qelo::app
