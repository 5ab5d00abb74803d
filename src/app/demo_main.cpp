// The panel wired to a simulated projector, for trying it without one.
//
//   qelo-demo [SIMULATOR OPTION]...
//
// Starts qelo-projector-sim on a pseudo-terminal, routes COM1 to it and COM2
// to a device that does not exist (so the port panel's failure path can be
// tried too), and shows the simulator's log beside the panel. Lines typed
// under the log go to the simulator ("silent on", "hangup", ...).
// COM1 is a link to the simulator's pseudo-terminal, as a device path is to
// an adapter: a hang-up pulls it, and "plug" plugs a fresh simulator in at
// the same path, so the panel's way back from a pulled cable can be tried.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QScreen>
#include <QSignalBlocker>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "app/panel_program.h"
#include "app/simulator_process.h"

namespace {

using namespace qelo;

constexpr const char* kSimulator = "qelo-projector-sim";
// The log's width when it shares the panel's window.
constexpr int kDockedLogWidth = 400;

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

// Started from a menu there is no terminal to read: say it on the screen
// too, where there is one.
int cannotStart(const QString& why) {
    std::fprintf(stderr, "qelo-demo: %s\n", qPrintable(why));
    const QString platform = QGuiApplication::platformName();
    if (platform != "offscreen" && platform != "minimal") QMessageBox::critical(nullptr, "qelo-demo", why);
    return 1;
}

// Wayland places windows itself and ignores where a program puts one: there
// a second window may land on the panel, so the log shares its window.
bool desktopPlacesWindows() { return QGuiApplication::platformName().startsWith("wayland"); }

// The simulator's log, and a line to type its run-time commands into.
class LogWindow final : public QWidget {
public:
    explicit LogWindow(QProcess& simulator) : simulator_(simulator) {
        setAttribute(Qt::WA_QuitOnClose, false);  // the panel decides when the demo ends
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(4, 4, 4, 4);
        title_ = new QLabel(this);
        title_->hide();  // a window of its own has its title bar
        layout->addWidget(title_);
        view_ = new QPlainTextEdit(this);
        view_->setReadOnly(true);
        view_->setMaximumBlockCount(5000);
        view_->setLineWrapMode(QPlainTextEdit::WidgetWidth);  // the window may be narrow
        view_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        view_->setAccessibleName("Simulated projector's log");
        layout->addWidget(view_);
        input_ = new QLineEdit(this);
        input_->setPlaceholderText("help, status, silent on, split 20, hangup, plug, ...");
        input_->setAccessibleName("Command for the simulated projector");
        layout->addWidget(input_);
        connect(input_, &QLineEdit::returnPressed, this, [this] { typed(input_->text().trimmed()); });
        resize(560, 420);
    }

    // The demo's own commands; true when it took the line.
    std::function<bool(const QString&)> command;

    void setTitle(const QString& text) {
        setWindowTitle(text);
        title_->setText(text);
    }

    // Shown here and copied to the terminal, which keeps it after the demo.
    void append(const QString& text) {
        for (const QString& line : text.split('\n', Qt::SkipEmptyParts)) {
            view_->appendPlainText(line);
            std::fprintf(stderr, "%s\n", qPrintable(line));
        }
    }

    // In the panel's own window, to its right.
    void dockInto(platform::qt::QtWindow& panel) {
        title_->show();
        panel.dock(this, kDockedLogWidth);
    }

    // Beside the panel, never over it: on the side with more room, narrowed
    // to fit; below the panel when neither side has a usable width. Placed
    // again once the window manager has framed both windows and perhaps
    // moved the panel, so that the frame, not only the inside, fits.
    void placeBeside(const QWidget& panel) {
        fitBeside(panel);
        show();
        QTimer::singleShot(300, this, [this, p = QPointer<const QWidget>(&panel)] {
            if (p) fitBeside(*p);
        });
    }

private:
    void fitBeside(const QWidget& panel) {
        const QRect p = panel.frameGeometry();
        const QRect screen = panel.screen() ? panel.screen()->availableGeometry() : QRect(0, 0, 1920, 1080);
        // What the window manager's frame adds to the log's inside (nothing yet before it is shown).
        const int frameW = frameGeometry().width() - width(), frameH = frameGeometry().height() - height();
        const int gap = 8, minWidth = 320, wanted = 560;
        const int right = screen.right() - p.right() - gap - frameW;
        const int left = p.left() - screen.left() - gap - frameW;
        const int room = std::max(right, left);
        if (room >= minWidth) {
            const int w = std::min(wanted, room);
            resize(w, std::max(height(), p.height() - frameH));
            move(right >= left ? p.right() + 1 + gap : p.left() - gap - w - frameW, p.top());
        } else {
            resize(std::min(wanted, screen.width() - frameW), std::max(200, screen.bottom() - p.bottom() - gap - frameH));
            move(std::max(screen.left(), p.left()), p.bottom() + 1 + gap);
        }
    }

    void typed(const QString& line) {
        input_->clear();
        if (line.isEmpty()) return;
        append("> " + line);
        if (command && command(line)) return;
        if (simulator_.state() == QProcess::Running) simulator_.write((line + "\n").toUtf8());
        else append("(the simulator has ended)");
    }

    QProcess& simulator_;
    QLabel* title_;
    QPlainTextEdit* view_;
    QLineEdit* input_;
};

// COM1's cable: a link in a folder of its own to the simulator's terminal.
class Cable {
public:
    // Empty when the link is in place; otherwise what failed and why.
    QString plug(const QString& pty) {
        if (!folder_.isValid())
            return "cannot make a folder for COM1 in " + QDir::tempPath() + ": " + folder_.errorString();
        QFile::remove(path());
        QFile target(pty);
        if (!target.link(path())) return "cannot make the link " + path() + " to " + pty + ": " + target.errorString();
        return {};
    }
    void pull() { QFile::remove(path()); }
    QString path() const { return folder_.filePath("COM1"); }

private:
    QTemporaryDir folder_;
};

class Demo {
public:
    Demo(QString simulatorPath, QStringList simulatorArgs)
        : simPath_(std::move(simulatorPath)), simArgs_(std::move(simulatorArgs)) {}

    // Empty when the panel is up; otherwise what failed and why.
    QString start() {
        launchSimulator();
        QString why;
        const QString pty = app::awaitSimulator(simulator_, why);
        if (pty.isEmpty()) return "the simulated projector did not start (" + simPath_ + "): " + why;
        if (const QString failed = cable_.plug(pty); !failed.isEmpty()) return failed;
        openLog(pty);
        startPanel();
        return {};
    }

    ~Demo() { stop(); }

    // The simulator's summary line goes to the terminal.
    void finish() {
        stop();
        const QByteArray summary = simulator_.readAllStandardOutput().trimmed();
        if (!summary.isEmpty()) std::printf("simulator: %s\n", summary.constData());
    }

private:
    // Its log is on standard error; standard output names the pty first and
    // sums up at the end. An ended standard input (this program gone) ends
    // it, however this program ends.
    void launchSimulator() { simulator_.start(simPath_, QStringList(simArgs_) << "--exit-on-eof"); }

    void stop() {
        simulator_.disconnect();
        app::stopSimulator(simulator_);
    }

    void openLog(const QString& pty) {
        ownLog_ = std::make_unique<LogWindow>(simulator_);
        log_ = ownLog_.get();
        log_->setTitle("Simulated projector on " + pty);
        QObject::connect(&simulator_, &QProcess::readyReadStandardError, log_,
                         [this] { log_->append(QString::fromLocal8Bit(simulator_.readAllStandardError())); });
        QObject::connect(&simulator_, &QProcess::readyReadStandardOutput, log_,
                         [this] { log_->append(QString::fromLocal8Bit(simulator_.readAllStandardOutput())); });
        log_->append(QString::fromLocal8Bit(simulator_.readAllStandardError()));  // what came before we listened
        QObject::connect(&simulator_, &QProcess::finished, log_, [this](int code, QProcess::ExitStatus status) {
            log_->append(status == QProcess::CrashExit ? QString("simulator crashed")
                                                       : QString("simulator ended, exit status %1").arg(code));
            cable_.pull();
            log_->append("the cable is pulled: type \"plug\" to plug a new projector in at " + cable_.path());
        });
        log_->command = [this](const QString& line) {
            if (line != "plug") return false;
            plugAgain();
            return true;
        };
    }

    void plugAgain() {
        if (simulator_.state() != QProcess::NotRunning) {
            log_->append("the projector is plugged in already");
            return;
        }
        launchSimulator();
        QString why;
        QString pty;
        {
            // The log must not take the line that names the new pty.
            const QSignalBlocker quiet(simulator_);
            pty = app::awaitSimulator(simulator_, why);
        }
        if (pty.isEmpty()) why = "the simulator did not start: " + why;
        else why = cable_.plug(pty);
        if (!why.isEmpty()) {
            log_->append(why);
            return;
        }
        log_->setTitle("Simulated projector on " + pty);
        log_->append("plugged in at " + cable_.path() + " (" + pty + ")");
    }

    void startPanel() {
        panel_ = std::make_unique<app::PanelProgram>(
            platform::qt::routedPortMap({{1, cable_.path().toStdString()}, {2, platform::qt::kMissingDevice}}));
        QObject::connect(&panel_->port, &platform::qt::QtSerialPort::portLost, log_,
                         [this](const QString& description) { log_->append("panel: " + description); });
        const bool docked = desktopPlacesWindows();
        if (docked) {
            log_->dockInto(panel_->window);
            ownLog_.release();  // the panel's window owns it now
        }
        panel_->start();
        if (!docked) log_->placeBeside(panel_->window);
    }

    const QString simPath_;
    const QStringList simArgs_;
    QProcess simulator_;
    Cable cable_;
    // Declared before the panel, whose window may own the log instead.
    std::unique_ptr<LogWindow> ownLog_;
    LogWindow* log_ = nullptr;
    std::unique_ptr<app::PanelProgram> panel_;
};

int printHelp(const QString& simPath) {
    std::printf("Usage: qelo-demo [SIMULATOR OPTION]...\n"
                "The panel wired to a simulated projector; the options go to the simulator:\n\n");
    std::fflush(stdout);
    return QProcess::execute(simPath, {"--help"});
}

}  // namespace

int main(int argc, char** argv) {
    app::PanelApplication app(argc, argv);
    const QStringList simArgs = app.arguments().mid(1);

    const QString simPath = findSimulator();
    if (simPath.isEmpty())
        return cannotStart(QString("cannot find %1 next to this program (%2) or on the PATH")
                               .arg(kSimulator, QCoreApplication::applicationDirPath()));
    if (simArgs.contains("-h") || simArgs.contains("--help")) return printHelp(simPath);

    Demo demo(simPath, simArgs);
    if (const QString why = demo.start(); !why.isEmpty()) return cannotStart(why);
    const int status = app.run();
    demo.finish();
    return status;
}
