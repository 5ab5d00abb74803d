#include "app/simulator_process.h"

#include <QDeadlineTimer>

namespace qelo::app {

QString awaitSimulator(QProcess& simulator, QString& why, int ms) {
    if (!simulator.waitForStarted(5000)) {
        why = simulator.errorString();
        return {};
    }
    QDeadlineTimer deadline(ms);
    while (!simulator.canReadLine()) {
        if (simulator.state() != QProcess::Running || deadline.hasExpired()) {
            simulator.waitForFinished(1000);
            why = QString::fromLocal8Bit(simulator.readAllStandardError()).trimmed();
            if (why.isEmpty()) why = "it ended without saying where it listens";
            return {};
        }
        simulator.waitForReadyRead(50);
    }
    const QString line = QString::fromLocal8Bit(simulator.readLine()).trimmed();
    if (line.startsWith("PTY ")) return line.mid(4);
    if (line.startsWith("TCP ")) return "tcp://" + line.mid(4);
    why = "it said \"" + line + "\" instead of where it listens";
    return {};
}

void stopSimulator(QProcess& simulator) {
    if (simulator.state() == QProcess::NotRunning) return;
    simulator.terminate();
    if (!simulator.waitForFinished(2000)) {
        simulator.kill();
        simulator.waitForFinished(2000);
    }
}

}  // namespace qelo::app
