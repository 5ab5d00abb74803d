// The panel wired to a simulated projector, for trying it without one.
//
//   qelo-demo [SIMULATOR OPTION]...
//
// Starts qelo-projector-sim on a pseudo-terminal, routes COM1 to it and COM2
// to a device that does not exist (so the port panel's failure path can be
// tried too), and shows the simulator's log in a window beside the panel.
// Lines typed under the log go to the simulator ("silent on", "hangup", ...).
// COM1 is a link to the simulator's pseudo-terminal, as a device path is to
// an adapter: a hang-up pulls it, and "plug" plugs a fresh simulator in at
// the same path, so the panel's way back from a pulled cable can be tried.

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QScreen>
#include <QSignalBlocker>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>
#include <functional>
#include <string>

#include "app/panel_program.h"
#include "app/simulator_process.h"

namespace {

constexpr const char* kSimulator = "qelo-projector-sim";
constexpr const char* kMissingDevice = "/dev/qelo-no-such-port";

// Next to this program, where the build tree puts it, or on the PATH.
QString findSimulator() {
    const QString here = QCoreApplication::applicationDirPath();
    QStringList candidates{here + "/" + kSimulator, here + "/../sim/" + kSimulator};
#ifdef QELO_SIM_PATH
    candidates << QStringLiteral(QELO_SIM_PATH);
#endif
    for (const QString& c : candidates)
        if (QFileInfo(c).isExecutable()) return QDir::cleanPath(c);
    return QStandardPaths::findExecutable(kSimulator);
}

// The simulator's log, and a line to type its run-time commands into.
class LogWindow final : public QWidget {
public:
    explicit LogWindow(QProcess& simulator) : simulator_(simulator) {
        setAttribute(Qt::WA_QuitOnClose, false);  // the panel decides when the demo ends
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(4, 4, 4, 4);
        view_ = new QPlainTextEdit(this);
        view_->setReadOnly(true);
        view_->setMaximumBlockCount(5000);
        view_->setLineWrapMode(QPlainTextEdit::WidgetWidth);  // the window may be narrow
        view_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        layout->addWidget(view_);
        input_ = new QLineEdit(this);
        input_->setPlaceholderText("command for the projector: help, status, silent on, split 20, hangup, ...");
        layout->addWidget(input_);
        connect(input_, &QLineEdit::returnPressed, this, [this] {
            const QString line = input_->text().trimmed();
            input_->clear();
            if (line.isEmpty()) return;
            append("> " + line);
            if (command && command(line)) return;
            if (simulator_.state() == QProcess::Running) simulator_.write((line + "\n").toUtf8());
            else append("(the simulator has ended)");
        });
        resize(560, 420);
    }

    // The demo's own commands; true when it took the line.
    std::function<bool(const QString&)> command;

    // Shown here and copied to the terminal, which keeps it after the demo.
    void append(const QString& text) {
        for (const QString& line : text.split('\n', Qt::SkipEmptyParts)) {
            view_->appendPlainText(line);
            std::fprintf(stderr, "%s\n", qPrintable(line));
        }
    }

    // Beside the panel, never over it: on the side with more room, narrowed
    // to fit; below the panel when neither side has a usable width.
    void placeBeside(const QWidget& panel) {
        const QRect p = panel.frameGeometry();
        const QRect screen = panel.screen() ? panel.screen()->availableGeometry() : QRect(0, 0, 1920, 1080);
        const int gap = 8, minWidth = 320, wanted = 560;
        const int right = screen.right() - p.right() - gap;
        const int left = p.left() - screen.left() - gap;
        const int room = std::max(right, left);
        if (room >= minWidth) {
            const int w = std::min(wanted, room);
            resize(w, std::max(height(), p.height()));
            move(right >= left ? p.right() + gap : p.left() - gap - w, p.top());
        } else {
            resize(std::min(wanted, screen.width()), std::max(200, screen.bottom() - p.bottom() - gap));
            move(std::max(screen.left(), p.left()), p.bottom() + gap);
        }
    }

private:
    QProcess& simulator_;
    QPlainTextEdit* view_;
    QLineEdit* input_;
};

}  // namespace

int main(int argc, char** argv) {
    using namespace qelo;

    app::PanelApplication app(argc, argv);
    QStringList simArgs = app.arguments().mid(1);

    const QString simPath = findSimulator();
    if (simPath.isEmpty()) {
        std::fprintf(stderr, "qelo-demo: cannot find %s next to this program or on the PATH\n", kSimulator);
        return 1;
    }
    if (simArgs.contains("-h") || simArgs.contains("--help")) {
        std::printf("Usage: qelo-demo [SIMULATOR OPTION]...\n"
                    "The panel wired to a simulated projector; the options go to the simulator:\n\n");
        std::fflush(stdout);
        return QProcess::execute(simPath, {"--help"});
    }

    QProcess simulator;
    // Its log is on standard error; standard output names the pty first and
    // sums up at the end. An ended standard input (this program gone) ends it.
    simulator.start(simPath, simArgs << "--exit-on-eof");
    QString why;
    const QString pty = app::awaitSimulator(simulator, why);
    if (pty.isEmpty()) {
        const QString text = "The simulated projector did not start (" + simPath + "):\n" + why;
        std::fprintf(stderr, "qelo-demo: %s\n", qPrintable(text));
        QMessageBox::critical(nullptr, "qelo-demo", text);
        app::stopSimulator(simulator);
        return 1;
    }

    QTemporaryDir cable;
    const QString com1 = cable.filePath("COM1");
    if (!cable.isValid() || !QFile::link(pty, com1)) {
        std::fprintf(stderr, "qelo-demo: cannot make the link %s\n", qPrintable(com1));
        app::stopSimulator(simulator);
        return 1;
    }

    LogWindow log(simulator);
    log.setWindowTitle("Simulated projector on " + pty);
    QObject::connect(&simulator, &QProcess::readyReadStandardError, &log,
                     [&] { log.append(QString::fromLocal8Bit(simulator.readAllStandardError())); });
    QObject::connect(&simulator, &QProcess::readyReadStandardOutput, &log,
                     [&] { log.append(QString::fromLocal8Bit(simulator.readAllStandardOutput())); });
    log.append(QString::fromLocal8Bit(simulator.readAllStandardError()));  // what came before we listened
    QObject::connect(&simulator, &QProcess::finished, &log, [&](int code, QProcess::ExitStatus status) {
        log.append(status == QProcess::CrashExit ? QString("simulator crashed")
                                                 : QString("simulator ended, exit status %1").arg(code));
        QFile::remove(com1);
        log.append("the cable is pulled: type \"plug\" to plug a new projector in at " + com1);
    });
    log.command = [&](const QString& line) {
        if (line != "plug") return false;
        if (simulator.state() != QProcess::NotRunning) {
            log.append("the projector is plugged in already");
            return true;
        }
        simulator.start(simPath, simArgs);
        QString failed;
        QString next;
        {
            // The log must not take the line that names the new pty.
            const QSignalBlocker quiet(simulator);
            next = app::awaitSimulator(simulator, failed);
        }
        if (next.isEmpty() || !QFile::link(next, com1)) {
            log.append("the simulator did not start: " + failed);
            return true;
        }
        log.setWindowTitle("Simulated projector on " + next);
        log.append("plugged in at " + com1 + " (" + next + ")");
        return true;
    };

    app::PanelProgram panel(platform::qt::routedPortMap({{1, com1.toStdString()}, {2, kMissingDevice}}));
    QObject::connect(&panel.port, &platform::qt::QtSerialPort::portLost, &log,
                     [&](const QString& description) { log.append("panel: " + description); });
    panel.start();
    log.placeBeside(panel.window);
    log.show();
    const int status = app.run();

    simulator.disconnect();
    app::stopSimulator(simulator);
    // The simulator's summary line, for the terminal.
    const QByteArray summary = simulator.readAllStandardOutput().trimmed();
    if (!summary.isEmpty()) std::printf("simulator: %s\n", summary.constData());
    return status;
}
