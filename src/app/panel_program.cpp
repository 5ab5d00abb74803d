#include "app/panel_program.h"

#include <QSocketNotifier>

#include <csignal>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "qt/accessibility.h"
#include "qt/setup.h"

namespace qelo::app {

namespace {
int terminationPipe[2] = {-1, -1};

void onTermination(int) {
    const char byte = 1;
    // Nothing more may happen in a signal handler; the event loop does the rest.
    [[maybe_unused]] const auto written = ::write(terminationPipe[1], &byte, 1);
}

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
    if (terminationPipe[0] < 0 && ::pipe2(terminationPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    auto* notifier = new QSocketNotifier(terminationPipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char byte;
        while (::read(terminationPipe[0], &byte, 1) > 0) {
        }
        terminating_ = true;
        // exit(), not quit(): a message box left open must not refuse it.
        QCoreApplication::exit(0);
    });
    struct sigaction action {};
    action.sa_handler = onTermination;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        // Started under nohup or in the background, a signal is ignored on
        // purpose; keep it so.
        struct sigaction inherited {};
        if (sigaction(signal, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN) continue;
        sigaction(signal, &action, nullptr);
    }
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
