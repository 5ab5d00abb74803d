// Faults of the line and of the machine, end to end: the real panel, the
// real serial adapter, pseudo-terminals and the simulated projector. Every
// case checks the same four things: the panel survives, says what went wrong
// at most once per thing the operator did, goes quiet afterwards, and works
// again once the operator picks a port that works.

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRadioButton>
#include <QSerialPort>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <sys/ioctl.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "panel/form1.h"
#include "qt/serial_port.h"
#include "qt/window.h"
#include "support/panel.h"
#include "support/pty.h"
#include "support/simulator.h"

namespace qelo::test {
namespace {

constexpr const char* kNowhere = kMissingDevice;

// Writes to a pty's master from a thread of its own, so that the event loop
// on this thread keeps reading while the kernel's small buffer fills.
class Flood {
public:
    Flood(int fd, std::string bytes, bool repeat) : fd_(fd), bytes_(std::move(bytes)), repeat_(repeat) {
        thread_ = std::thread([this] { run(); });
    }
    ~Flood() { stop(); }
    void stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    bool done() const { return done_; }
    std::size_t written() const { return written_; }

private:
    void run() {
        std::size_t at = 0;
        while (!stop_) {
            if (at == bytes_.size()) {
                if (!repeat_) break;
                at = 0;
            }
            const ssize_t n = ::write(fd_, bytes_.data() + at, bytes_.size() - at);
            if (n > 0) {
                at += static_cast<std::size_t>(n);
                written_ += static_cast<std::size_t>(n);
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                break;
            } else {
                pollfd p{fd_, POLLOUT, 0};
                ::poll(&p, 1, 10);
            }
        }
        done_ = true;
    }

    int fd_;
    std::string bytes_;
    bool repeat_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> done_{false};
    std::atomic<std::size_t> written_{0};
    std::thread thread_;
};

// A lock file in the form serial programs leave for each other, naming this
// test as the program that holds the port: it goes stale with the test's
// process, so a test that dies cannot lock the device for anyone after it.
class ForeignLock {
public:
    explicit ForeignLock(const std::string& device) {
        const std::string base = device.substr(device.find('/', 1) + 1);  // "pts/3"
        QString name = QString::fromStdString(base).replace('/', '_');
        path_ = "/var/lock/LCK.." + name;
        QFile f(path_);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            throw std::runtime_error("cannot write " + path_.toStdString());
        f.write(QByteArray::number(QCoreApplication::applicationPid()) + "\n" +
                QFileInfo(QCoreApplication::applicationFilePath()).fileName().toUtf8() + "\n" +
                QSysInfo::machineHostName().toUtf8() + "\n");
    }
    ~ForeignLock() { QFile::remove(path_); }

private:
    QString path_;
};

// A device path that the test points at one line after another, as the
// system does when an adapter is plugged in again.
class Socket {
public:
    const std::string& path() const { return path_; }
    void plug(const std::string& device) {
        ::unlink(path_.c_str());
        if (::symlink(device.c_str(), path_.c_str()) != 0) throw std::runtime_error("cannot link " + path_);
    }
    void pull() { ::unlink(path_.c_str()); }

private:
    QTemporaryDir dir_;
    std::string path_ = dir_.filePath("com1").toStdString();
};

// The panel as the program puts it together, with port numbers routed by
// the test: a route can change while the panel runs, and a hook sees every
// lookup, which is the moment the adapter is about to open a device.
class Rig {
public:
    Rig() = default;
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;
    // The panel goes first, as the program would, while its lines still exist.
    ~Rig() { program.reset(); }

    std::map<int, std::string> routes;
    std::function<void(int)> onLookUp;

    std::unique_ptr<Panel> program;
    platform::qt::QtSerialPort* port = nullptr;
    platform::qt::QtWindow* window = nullptr;
    panel::Form1* form = nullptr;

    std::unique_ptr<Simulator> sim;
    std::unique_ptr<Simulator> spare;  // the working port chosen at the end
    std::unique_ptr<Pty> pty;
    std::unique_ptr<Pty> pty2;
    std::unique_ptr<Socket> socket;

    const std::vector<std::string>& messages() const { return program ? program->messages : none_; }

    // Starting the program is itself something the operator did.
    void start() {
        act([&] {
            program = std::make_unique<Panel>([this](int n) {
                if (onLookUp) onLookUp(n);
                auto it = routes.find(n);
                return it == routes.end() ? std::string(kNowhere) : it->second;
            });
            port = &program->port;
            window = &program->window;
            form = &program->form;
        });
    }

    // One thing the operator does, then a moment for its consequences; no
    // more than one message may come of it.
    void act(const std::function<void()>& action, int settleMs = 200) {
        const std::size_t before = messages().size();
        action();
        spinFor(settleMs);
        EXPECT_LE(messages().size() - before, 1u) << "one action, several messages:" << since(before);
    }
    std::string since(std::size_t from) const {
        std::string all;
        for (std::size_t i = from; i < messages().size(); ++i) all += "\n  " + messages()[i];
        return all;
    }

    // Waits for the reply window to close, then asks for the power status.
    bool statusReads(const std::string& text) {
        spinUntil([&] { return !window->timer("Timer2").enabled(); });
        act([&] { program->click("Command44"); }, 0);
        return program->shows("Label25", text, 1500);
    }

    // The operator opens the port panel and picks a port.
    void choosePort(int number) {
        act([&] { program->click("Command33"); });
        const char* radio = number == 1 ? "Option1" : "Option2";
        act([&] { QTest::mouseClick(window->findChild<QRadioButton*>(radio), Qt::LeftButton); });
    }

private:
    const std::vector<std::string> none_{};
};

std::unique_ptr<Simulator> simulator(QStringList args = {}) {
    return std::make_unique<Simulator>(QELO_SIM_PATH, args << "--reply-delay" << "5");
}

int countOf(const std::string& haystack, const std::string& needle) {
    int n = 0;
    for (auto at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1)) ++n;
    return n;
}

struct Fault {
    const char* name;
    // What the operator should read (part of every message), or null when
    // the fault must pass without a message.
    const char* complaint;
    // Sets the fault up, starts the panel (rig.start()) and lets it happen.
    std::function<void(Rig&)> run;
    friend void PrintTo(const Fault& f, std::ostream* os) { *os << f.name; }
};

// Pulls the cable: the device path goes, the simulator hangs up, and the
// panel notices. Without the path gone, a send would open whatever line
// the system gave the freed pseudo-terminal's number to next.
void pull(Rig& rig) {
    if (rig.socket) rig.socket->pull();
    rig.sim->command("hangup");
}

void hangUp(Rig& rig) {
    pull(rig);
    ASSERT_TRUE(spinUntil([&] { return !rig.port->portOpen(); })) << rig.sim->log();
}

// Holds a button until the send fails under it, then lets go.
void holdThroughHangUp(Rig& rig, const char* button, const std::string& frame) {
    rig.program->press(button);
    ASSERT_TRUE(spinUntil([&] { return countOf(rig.sim->log(), "rx \"" + frame + "\\r\"") >= 3; }))
        << rig.sim->log();
    pull(rig);
    // The hold ends when a tick's send fails, whether or not the button is up.
    ASSERT_TRUE(spinUntil([&] { return !rig.messages().empty(); })) << "the failed hold said nothing";
    EXPECT_EQ(rig.form->repeatCode(), 0);
    spinFor(300);
    rig.program->release(button);
}

// COM1 is a path the test controls, with a simulator plugged in.
void startOnSocket(Rig& rig, QStringList args = {}) {
    rig.socket = std::make_unique<Socket>();
    rig.sim = simulator(args);
    rig.socket->plug(rig.sim->pty());
    rig.routes[1] = rig.socket->path();
    rig.start();
}

// The cable is pulled; a new line (a fresh simulator) turns up, at the same
// path unless told where.
void replug(Rig& rig, bool samePath = true) {
    hangUp(rig);
    rig.sim = simulator();
    if (samePath) rig.socket->plug(rig.sim->pty());
}

const Fault kFaults[] = {
    {"ReplugAtTheSamePath", nullptr,
     [](Rig& rig) {
         startOnSocket(rig);
         ASSERT_TRUE(rig.statusReads(" Stand by"));
         replug(rig);
         EXPECT_FALSE(rig.port->portOpen()) << "nothing opens the line before it is used";
         // The next command opens the line again and goes out.
         EXPECT_TRUE(rig.statusReads(" Stand by")) << rig.since(0) << rig.sim->log();
         EXPECT_EQ(rig.port->device(), rig.socket->path());
     }},
    {"ReplugAndChooseThePortInUseAgain", nullptr,
     [](Rig& rig) {
         startOnSocket(rig);
         ASSERT_TRUE(rig.statusReads(" Stand by"));
         replug(rig);
         ASSERT_TRUE(rig.window->radio("Option1").value());
         rig.choosePort(1);
         EXPECT_TRUE(rig.port->portOpen()) << "choosing COM1 again did not reopen it";
         EXPECT_FALSE(rig.window->frame("Frame8").visible());
         EXPECT_TRUE(rig.statusReads(" Stand by")) << rig.since(0);
     }},
    {"BackAsAnotherDevice", "(COM1) is not open: the device went away",
     [](Rig& rig) {
         startOnSocket(rig);
         ASSERT_TRUE(rig.statusReads(" Stand by"));
         replug(rig, false);
         rig.routes[1] = rig.sim->pty();
         // Only the lost path is tried again: nothing reaches the new device
         // until the operator chooses COM1, which looks it up afresh.
         rig.act([&] { rig.program->click("Command17"); });
         ASSERT_EQ(rig.messages().size(), 1u);
         EXPECT_NE(rig.messages()[0].find("opening it again failed (No such file or directory). Plug it in again, or "
                                        "choose a port with COM."),
                   std::string::npos)
             << rig.messages()[0];
         EXPECT_FALSE(rig.sim->logged("rx ", 300)) << rig.sim->log();
         rig.choosePort(1);
         EXPECT_EQ(rig.port->device(), rig.sim->pty());
         EXPECT_TRUE(rig.statusReads(" Stand by"));
     }},
    {"AFailedChoiceAfterAPullIsWhatSendsReport", "No such file or directory",
     [](Rig& rig) {
         startOnSocket(rig);
         ASSERT_TRUE(rig.statusReads(" Stand by"));
         replug(rig, false);
         rig.choosePort(2);
         ASSERT_EQ(rig.messages().size(), 1u);
         rig.socket->plug(rig.sim->pty());
         // COM2 was chosen last: COM1's line is not opened behind its back.
         rig.act([&] { rig.program->click("Command17"); });
         ASSERT_EQ(rig.messages().size(), 2u);
         EXPECT_EQ(rig.messages()[1], std::string(kNowhere) +
                                        " (COM2) is not open: No such file or directory. Choose a port with COM.");
         EXPECT_FALSE(rig.sim->logged("rx ", 300)) << rig.sim->log();
     }},
    {"HangUpWhileIdle", "(COM1) is not open: the device went away",
     [](Rig& rig) {
         startOnSocket(rig);
         ASSERT_TRUE(rig.statusReads(" Stand by"));
         hangUp(rig);
         spinFor(300);
         EXPECT_TRUE(rig.messages().empty()) << "a hang-up with nobody asking was reported:" << rig.since(0);
         // The next command is what finds the line dead.
         rig.act([&] { rig.program->click("Command44"); });
         rig.act([&] { rig.program->click("Command44"); });
         EXPECT_EQ(rig.messages().size(), 2u);
     }},
    {"HangUpMidReply", "the device went away",
     [](Rig& rig) {
         startOnSocket(rig, {"--split", "150"});
         rig.act([&] { rig.program->click("Command46"); }, 0);  // lamp time: five bytes, 150 ms apart
         ASSERT_TRUE(rig.program->shows("Label12", " 0 ")) << rig.program->caption("Label12");
         hangUp(rig);
         rig.act([&] { rig.program->click("Command44"); });
         EXPECT_EQ(rig.messages().size(), 1u);
     }},
    {"HangUpMidHoldAt250ms", "the device went away",
     [](Rig& rig) {
         startOnSocket(rig);
         rig.act([&] { holdThroughHangUp(rig, "Command1", "C09"); });  // VOL +
         EXPECT_EQ(rig.messages().size(), 1u);
     }},
    {"HangUpMidHoldAt5ms", "the device went away",
     [](Rig& rig) {
         startOnSocket(rig);
         // Letting go of D.Zoom leaves the arrows repeating every 5 ms.
         rig.act([&] {
             rig.program->press("Command48");
             rig.program->release("Command48");
         });
         ASSERT_EQ(rig.window->timer("Timer1").interval(), 5);
         rig.act([&] { holdThroughHangUp(rig, "Command5", "C3C"); });  // up
         EXPECT_EQ(rig.messages().size(), 1u);
     }},
    {"PortLockedByAnotherProgram", "locking",
     [](Rig& rig) {
         rig.pty = std::make_unique<Pty>();
         rig.routes[1] = rig.pty->path();
         ForeignLock lock(rig.pty->path());
         rig.start();
         EXPECT_FALSE(rig.port->portOpen());
         EXPECT_EQ(rig.pty->receive(200), "");
     }},
    {"PortHeldBySecondSerialPort", "locking",
     [](Rig& rig) {
         rig.pty = std::make_unique<Pty>();
         rig.routes[1] = rig.pty->path();
         QSerialPort other;
         other.setPortName(QString::fromStdString(rig.pty->path()));
         ASSERT_TRUE(other.open(QIODevice::ReadWrite)) << other.errorString().toStdString();
         rig.start();
         EXPECT_FALSE(rig.port->portOpen());
     }},
    {"PortOpenedExclusively", "busy",
     [](Rig& rig) {
         rig.pty = std::make_unique<Pty>();
         // The pty's own open slave is the other program's descriptor.
         ASSERT_EQ(ioctl(rig.pty->slave(), TIOCEXCL), 0);
         if (geteuid() == 0) GTEST_SKIP() << "exclusive opens do not hold the superuser back";
         rig.routes[1] = rig.pty->path();
         rig.start();
         EXPECT_FALSE(rig.port->portOpen());
     }},
    {"NoSerialPortAtAll", "No such file or directory",
     [](Rig& rig) {
         rig.routes[1] = "/dev/qelo-no-com1";
         rig.start();
         EXPECT_FALSE(rig.port->portOpen());
         ASSERT_EQ(rig.messages().size(), 1u);
         // A command with no port is a failure of its own, said once, and
         // names the port chosen, not the one fallen back to.
         rig.act([&] { rig.program->click("Command17"); });
         ASSERT_EQ(rig.messages().size(), 2u);
         EXPECT_EQ(rig.messages()[1],
                   "/dev/qelo-no-com1 (COM1) is not open: No such file or directory. Choose a port with COM.");
         EXPECT_EQ(rig.program->caption("Label11"), "") << "a command that never left was shown as sent";
     }},
    {"DeviceGoneBetweenCloseAndOpen", "No such file or directory",
     [](Rig& rig) {
         rig.sim = simulator();
         rig.pty2 = std::make_unique<Pty>();
         rig.routes = {{1, rig.sim->pty()}, {2, rig.pty2->path()}};
         rig.start();
         ASSERT_TRUE(rig.port->portOpen());
         // COM1 is closed by now; COM2 vanishes before it can be opened.
         rig.onLookUp = [&rig](int n) {
             if (n != 2 || !rig.pty2) return;
             rig.onLookUp = nullptr;
             rig.pty2.reset();
         };
         rig.choosePort(2);
         ASSERT_EQ(rig.messages().size(), 1u);
         EXPECT_FALSE(rig.port->portOpen());
         EXPECT_EQ(rig.port->commPort(), 1);  // the fallback
         EXPECT_TRUE(rig.window->frame("Frame8").visible()) << "the port panel must stay up to choose again";
     }},
    {"GarbageAtFullRate", nullptr,
     [](Rig& rig) {
         rig.sim = simulator({"--garbage"});
         rig.routes[1] = rig.sim->pty();
         rig.start();
         rig.act([&] {
             rig.program->press("Command48");
             rig.program->release("Command48");
         });
         // Every 5 ms frame is answered with rubbish; the hold lasts until 50
         // of them have come back, however long a loaded machine takes.
         rig.act([&] {
             rig.program->press("Command5");
             EXPECT_TRUE(spinUntil([&] { return countOf(rig.sim->log(), "garbage instead of") >= 50; }, 20000))
                 << "the line was not busy";
             rig.program->release("Command5");
         });
         EXPECT_EQ(rig.sim->log().find("malformed"), std::string::npos) << "frames broke under load";
     }},
    {"FloodWithoutPause", nullptr,
     [](Rig& rig) {
         rig.pty = std::make_unique<Pty>();
         rig.routes[1] = rig.pty->path();
         rig.start();
         std::mt19937 random(7);
         std::string rubbish(256 * 1024, '\0');
         for (auto& c : rubbish) c = static_cast<char>(random());
         // Our end of the pty is non-blocking: the flood runs as fast as the
         // panel reads.
         Flood flood(rig.pty->master(), rubbish, true);
         // The panel keeps serving its own timers while it is flooded.
         rig.act([&] { rig.program->click("Command44"); }, 0);
         EXPECT_TRUE(spinUntil([&] { return !rig.window->timer("Timer2").enabled(); }, 5000))
             << "the reply time-out never ran during the flood";
         // The panel takes what comes, however fast the machine lets it come.
         EXPECT_TRUE(spinUntil([&] { return flood.written() > 64u * 1024; }, 20000)) << "the flood was a trickle";
         flood.stop();
         EXPECT_LE(rig.form->recvData().size(), panel::Form1::kRecvLimit);
     }},
    {"ReplyThatNeverEnds", nullptr,
     [](Rig& rig) {
         rig.pty = std::make_unique<Pty>();
         rig.routes[1] = rig.pty->path();
         rig.start();
         rig.act([&] { rig.program->click("Command44"); }, 0);
         ASSERT_EQ(rig.pty->receive(), "CR0\r");
         Flood reply(rig.pty->master(), std::string(64 * 1024, '8'), false);
         ASSERT_TRUE(spinUntil([&] { return reply.done(); }, 10000)) << "the panel stopped reading";
         spinFor(300);
         EXPECT_EQ(reply.written(), 64u * 1024);
         EXPECT_LE(rig.form->recvData().size(), panel::Form1::kRecvLimit);
     }},
};

class FaultEndToEnd : public ::testing::TestWithParam<Fault> {};

TEST_P(FaultEndToEnd, PanelSurvivesSaysSoOnceGoesQuietAndRecovers) {
    const Fault& fault = GetParam();
    Rig rig;
    fault.run(rig);
    if (::testing::Test::IsSkipped() || ::testing::Test::HasFatalFailure()) return;

    // Said clearly: the device and what happened to it, or nothing at all.
    if (fault.complaint) {
        ASSERT_FALSE(rig.messages().empty()) << "the operator was never told";
        EXPECT_NE(rig.messages().front().find(fault.complaint), std::string::npos) << rig.messages().front();
        for (const auto& m : rig.messages()) EXPECT_EQ(m.rfind("/", 0), 0u) << "which port? " << m;
    } else {
        EXPECT_TRUE(rig.messages().empty()) << rig.since(0);
    }

    // Quiet afterwards: once the display has cleared, nothing runs.
    spinUntil([&] { return !rig.window->timer("Timer4").enabled() && !rig.window->timer("Timer2").enabled(); }, 2000);
    EXPECT_FALSE(rig.window->timer("Timer1").enabled()) << "a repeat outlived its hold";
    EXPECT_FALSE(rig.window->timer("Timer2").enabled());
    const LoopCost afterFault = loopCost(1000);
    const std::size_t said = rig.messages().size();

    // Recovery: the operator picks the other port, which now leads to a
    // projector that answers.
    rig.spare = simulator();
    const int other = rig.window->radio("Option1").value() ? 2 : 1;
    rig.routes[other] = rig.spare->pty();
    rig.choosePort(other);
    EXPECT_EQ(rig.messages().size(), said) << rig.since(said);
    ASSERT_TRUE(rig.port->portOpen()) << "the working port was not opened";
    EXPECT_EQ(rig.port->device(), rig.spare->pty());
    EXPECT_FALSE(rig.window->frame("Frame8").visible());
    EXPECT_TRUE(rig.statusReads(" Stand by"))
        << "status line: \"" << rig.program->caption("Label25") << "\"\n" << rig.spare->log();
    EXPECT_EQ(rig.messages().size(), said) << rig.since(said);

    // The fault left nothing running: the panel idled as cheaply as it does
    // now, recovered, on a working line.
    spinUntil([&] { return !rig.window->timer("Timer4").enabled() && !rig.window->timer("Timer2").enabled(); }, 2000);
    const LoopCost healthy = loopCost(1000);
    EXPECT_TRUE(asIdleAs(afterFault, healthy, 1000))
        << "busy while idle after the fault: " << describe(afterFault) << " against " << describe(healthy);
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultEndToEnd, ::testing::ValuesIn(kFaults),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qelo::test
