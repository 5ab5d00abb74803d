// qelo-bridge as a site runs it: a real mosquitto broker on a free loopback
// port, simulated projectors on a pseudo-terminal and on TCP, the dashboard's
// side played by mosquitto_sub and mosquitto_pub.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <csignal>

#include "support/simulator.h"

namespace {

QString tool(const char* name) {
    return QStandardPaths::findExecutable(name, {"/usr/sbin", "/usr/bin", "/usr/local/sbin", "/usr/local/bin"});
}

int freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// Runs the event loop until ready() or ms have passed.
bool waitFor(const std::function<bool()>& ready, int ms = 10000) {
    QDeadlineTimer deadline(ms);
    while (!ready()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

class Broker {
public:
    explicit Broker(int port) : port_(port) {
        conf_ = dir_.filePath("mosquitto.conf");
        QFile f(conf_);
        f.open(QIODevice::WriteOnly);
        f.write(QString("listener %1 127.0.0.1\nallow_anonymous true\npersistence false\n").arg(port).toUtf8());
        f.close();
        start();
    }
    ~Broker() { stop(); }
    void start() {
        process_.start(tool("mosquitto"), {"-c", conf_});
        // Ready when it takes a connection.
        const bool up = waitFor([&] {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port_));
            return probe.waitForConnected(200);
        });
        if (!up) ADD_FAILURE() << "mosquitto did not start: " << process_.readAll().toStdString();
    }
    void stop() {
        process_.terminate();
        process_.waitForFinished(5000);
    }
    int port() const { return port_; }

private:
    int port_;
    QTemporaryDir dir_;
    QString conf_;
    QProcess process_;
};

// The dashboard's view: every message under the topics, as "topic payload".
class Watcher {
public:
    explicit Watcher(int port) {
        process_.start(tool("mosquitto_sub"), {"-h", "127.0.0.1", "-p", QString::number(port), "-v", "-t", "qelo/#",
                                               "-t", "homeassistant/#"});
        QObject::connect(&process_, &QProcess::readyReadStandardOutput, [this] {
            seen_ += process_.readAllStandardOutput().toStdString();
        });
    }
    ~Watcher() {
        process_.terminate();
        process_.waitForFinished(3000);
    }
    bool saw(const std::string& text, int ms = 10000) {
        return waitFor([&] { return seen_.find(text) != std::string::npos; }, ms);
    }
    const std::string& seen() const { return seen_; }
    void clear() { seen_.clear(); }

private:
    QProcess process_;
    std::string seen_;
};

void publish(int port, const QString& topic, const QString& payload) {
    QProcess p;
    p.start(tool("mosquitto_pub"), {"-h", "127.0.0.1", "-p", QString::number(port), "-t", topic, "-m", payload});
    ASSERT_TRUE(p.waitForFinished(5000));
}

class Bridge {
public:
    explicit Bridge(const QStringList& args) {
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start(QELO_BRIDGE_PATH, args);
        QObject::connect(&process_, &QProcess::readyRead, [this] { log_ += process_.readAll().toStdString(); });
    }
    ~Bridge() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished();
        }
    }
    int stop(int signal) {
        ::kill(static_cast<pid_t>(process_.processId()), signal);
        if (!process_.waitForFinished(10000)) return -1;
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }
    bool logged(const std::string& text) {
        return waitFor([&] { return log_.find(text) != std::string::npos; });
    }
    const std::string& log() const { return log_; }

private:
    QProcess process_;
    std::string log_;
};

class Simulator : public qelo::test::Simulator {
public:
    explicit Simulator(QStringList args) : qelo::test::Simulator(QELO_SIM_PATH, args << "--quiet") {}
};

class BridgeScenario : public ::testing::Test {
protected:
    void SetUp() override {
        if (tool("mosquitto").isEmpty() || tool("mosquitto_sub").isEmpty())
            GTEST_SKIP() << "mosquitto and mosquitto-clients are not installed (scripts/deps installs them)";
    }
};

}  // namespace

TEST_F(BridgeScenario, TwoRoomsTheirDiscoveryACommandAndACleanStop) {
    Broker broker(freePort());
    Watcher dashboard(broker.port());
    Simulator hall({"--state", "00", "--hours", "1234"});
    Simulator lab({"--listen", "0"});
    Bridge bridge({"--broker", QString("127.0.0.1:%1").arg(broker.port()), "--discovery", "homeassistant", "--poll",
                   "1", "--device", "hall=" + QString::fromStdString(hall.device()), "--device",
                   "lab=" + QString::fromStdString(lab.device())});

    EXPECT_TRUE(dashboard.saw("qelo/bridge/availability online"));
    EXPECT_TRUE(dashboard.saw("qelo/hall/state {\"power\":\"Power ON\",\"power_code\":\"00\",\"lamp_hours\":1234,"
                              "\"input\":\"Computer\",\"reversal\":\"Normally\",\"time\":\"20"));
    EXPECT_TRUE(dashboard.saw("qelo/lab/state {\"power\":\"Stand by\",\"power_code\":\"80\""));
    EXPECT_TRUE(dashboard.saw("qelo/lab/availability online"));
    EXPECT_TRUE(dashboard.saw("homeassistant/switch/qelo_lab_power/config {"));
    EXPECT_TRUE(dashboard.saw("homeassistant/sensor/qelo_hall_lamp_hours/config {"));

    publish(broker.port(), "qelo/lab/command", "power on");
    EXPECT_TRUE(dashboard.saw("\"device\":\"" + lab.device() +
                              "\",\"action\":\"power on\",\"code\":\"C00\",\"sent\":\"C00\\r\",\"reply\":\"\\u0006\\r\""));
    EXPECT_TRUE(dashboard.saw("qelo/lab/state {\"power\":\"Count down\",\"power_code\":\"40\""));
    publish(broker.port(), "qelo/lab/command", "C02");
    EXPECT_TRUE(dashboard.saw("\"ok\":false,\"error\":\"not an action: \\\"C02\\\""));

    EXPECT_EQ(bridge.stop(SIGTERM), 0) << bridge.log();
    EXPECT_TRUE(dashboard.saw("qelo/bridge/availability offline"));
}

TEST_F(BridgeScenario, NoBrokerThenARestartedBrokerAndARoomLostAndBack) {
    const int port = freePort();
    Simulator hall({});
    auto lab = std::make_unique<Simulator>(QStringList{"--listen", "0"});
    const QString labAddress = QString::fromStdString(lab->device());
    Bridge bridge({"--broker", QString("127.0.0.1:%1").arg(port), "--poll", "1", "--device",
                   "hall=" + QString::fromStdString(hall.device()), "--device", "lab=" + labAddress});
    ASSERT_TRUE(bridge.logged("cannot reach the broker"));

    auto broker = std::make_unique<Broker>(port);
    {
        Watcher dashboard(port);
        EXPECT_TRUE(dashboard.saw("qelo/lab/state {"));
    }
    // A broker that comes back with no memory hears everything again.
    broker.reset();
    broker = std::make_unique<Broker>(port);
    Watcher dashboard(port);
    EXPECT_TRUE(dashboard.saw("qelo/bridge/availability online", 40000));
    EXPECT_TRUE(dashboard.saw("qelo/hall/state {"));
    EXPECT_TRUE(dashboard.saw("qelo/lab/availability online"));

    // The lab's server goes, then comes back where it was; the hall never notices.
    lab->quit();
    EXPECT_TRUE(dashboard.saw("qelo/lab/availability offline"));
    lab = std::make_unique<Simulator>(QStringList{"--listen", labAddress.mid(6)});
    dashboard.clear();
    EXPECT_TRUE(dashboard.saw("qelo/lab/availability online"));
    EXPECT_EQ(bridge.log().find("hall (" + hall.device() + ") is offline"), std::string::npos) << bridge.log();
    // Said once, however many tries it took.
    const std::string before = bridge.log().substr(0, bridge.log().find("connected to the broker"));
    EXPECT_EQ(before.find("cannot reach"), before.rfind("cannot reach")) << before;
    EXPECT_EQ(bridge.stop(SIGHUP), 0);
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
