#pragma once
// The simulated projector as another program starts it: the demo, the tests
// and the benchmarks.
#include <QProcess>
#include <QString>

namespace qelo::app {

// Waits for the started simulator's first line, which says where it listens:
// its pseudo-terminal ("PTY /dev/pts/N" gives the path) or, with --listen, a
// TCP port ("TCP host:port" gives tcp://host:port). Empty on failure, and why.
QString awaitSimulator(QProcess& simulator, QString& why, int ms = 10000);

// Ends it: asked first, then forced.
void stopSimulator(QProcess& simulator);

}  // namespace qelo::app
