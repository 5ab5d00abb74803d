#pragma once
// The termination signals (SIGTERM, SIGINT, SIGHUP) as a byte on a pipe,
// for every program: the panel's and the bridge's event loops read it
// through a notifier, the simulator's poll loop directly. A signal that was
// ignored when the program started (nohup, a background job) stays ignored.
//
// The pipe's write end is the one process-wide variable here, as a signal
// handler can reach nothing else; there is one pipe per process, however
// often this is asked for.

#include <QSocketNotifier>

#include <functional>
#include <memory>

namespace qelo::platform::qt {

// Installs the handlers and returns the pipe's read end (non-blocking, not
// inherited by what the program starts), or -1 with errno set. With
// restartCalls a signal does not interrupt the system call it arrives in;
// without, the call fails with EINTR (a write to a stuck terminal gives up).
int watchTermination(bool restartCalls = true);
// Whether a termination signal came; safe anywhere, a handler included.
bool terminationSignalled();
// Empties the pipe.
void drainTermination();

// Runs then on the event loop after termination signals, the pipe emptied.
// nullptr, with errno set, when the signals cannot be watched.
std::unique_ptr<QSocketNotifier> notifyTermination(std::function<void()> then);

}  // namespace qelo::platform::qt
