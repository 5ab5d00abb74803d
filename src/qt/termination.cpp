#include "qt/termination.h"

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace qelo::platform::qt {

namespace {

int pipeEnds[2] = {-1, -1};
volatile std::sig_atomic_t signalled = 0;

void onTermination(int) {
    const int saved = errno;
    signalled = 1;
    const char byte = 1;
    // Nothing more may happen in a signal handler; the loop does the rest.
    [[maybe_unused]] const auto written = ::write(pipeEnds[1], &byte, 1);
    errno = saved;
}

}  // namespace

int watchTermination(bool restartCalls) {
    if (pipeEnds[0] >= 0) return pipeEnds[0];
    if (::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) return -1;
    struct sigaction action {};
    action.sa_handler = onTermination;
    sigemptyset(&action.sa_mask);
    action.sa_flags = restartCalls ? SA_RESTART : 0;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction inherited {};
        if (sigaction(signal, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN) continue;
        sigaction(signal, &action, nullptr);
    }
    return pipeEnds[0];
}

bool terminationSignalled() { return signalled != 0; }

void drainTermination() {
    char bytes[64];
    while (pipeEnds[0] >= 0 && ::read(pipeEnds[0], bytes, sizeof bytes) > 0) {
    }
}

std::unique_ptr<QSocketNotifier> notifyTermination(std::function<void()> then) {
    const int fd = watchTermination();
    if (fd < 0) return nullptr;
    auto notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [then = std::move(then)] {
        drainTermination();
        then();
    });
    return notifier;
}

}  // namespace qelo::platform::qt
