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
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <csignal>
#include <set>

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
    // more: the first listener's own settings, and further listeners.
    explicit Broker(int port, const QString& more = {}) : port_(port) {
        conf_ = dir_.filePath("mosquitto.conf");
        QFile f(conf_);
        f.open(QIODevice::WriteOnly);
        f.write(QString("listener %1 127.0.0.1\n%2allow_anonymous true\npersistence false\n").arg(port).arg(more).toUtf8());
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

// A private RabbitMQ node with its MQTT plugin: loopback ports, a port mapper,
// a folder and a name of its own, so that tests side by side never meet it.
class RabbitBroker {
public:
    // Debian's own, without the wrapper that runs it as the rabbitmq user.
    static QString program() {
        return tool("rabbitmq-server").isEmpty() ? QString() : "/usr/lib/rabbitmq/bin/rabbitmq-server";
    }
    RabbitBroker() : port_(freePort()), epmd_(QString::number(freePort())) {
        write("enabled_plugins", "[rabbitmq_mqtt].\n");
        write("rabbitmq.conf", QString("listeners.tcp = none\nmqtt.listeners.tcp.default = 127.0.0.1:%1\n"
                                       "mqtt.allow_anonymous = true\n").arg(port_));
        auto env = QProcessEnvironment::systemEnvironment();
        const QString d = dir_.path();
        const QStringList vars{"HOME=" + d, "RABBITMQ_NODENAME=qelo-test-" + QString::number(port_) + "@localhost",
                               "RABBITMQ_NODE_IP_ADDRESS=127.0.0.1",
                               "RABBITMQ_DIST_PORT=" + QString::number(freePort()), "ERL_EPMD_PORT=" + epmd_,
                               "ERL_EPMD_ADDRESS=127.0.0.1", "RABBITMQ_CONFIG_FILE=" + d + "/rabbitmq.conf",
                               "RABBITMQ_ENABLED_PLUGINS_FILE=" + d + "/enabled_plugins",
                               "RABBITMQ_CONF_ENV_FILE=" + d + "/none", "RABBITMQ_ADVANCED_CONFIG_FILE=" + d + "/none",
                               "RABBITMQ_MNESIA_BASE=" + d + "/mnesia", "RABBITMQ_LOG_BASE=" + d + "/log",
                               "RABBITMQ_PLUGINS_EXPAND_DIR=" + d + "/plugins", "RABBITMQ_PID_FILE=" + d + "/pid"};
        for (const auto& v : vars) env.insert(v.section('=', 0, 0), v.section('=', 1));
        process_.setProcessEnvironment(env);
        process_.setWorkingDirectory(d);
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.setStandardOutputFile(d + "/out.log");
        process_.start(program(), {});
        const bool up = waitFor(
            [&] {
                QTcpSocket probe;
                probe.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port_));
                return probe.waitForConnected(200);
            },
            60000);
        if (!up) ADD_FAILURE() << "rabbitmq-server did not start; its log is in " << d.toStdString();
        if (!up) dir_.setAutoRemove(false);
    }
    ~RabbitBroker() {
        process_.terminate();
        if (!process_.waitForFinished(20000)) process_.kill();
        process_.waitForFinished(5000);
        // The node started a port mapper of its own, which outlives it.
        QProcess epmd;
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert("ERL_EPMD_PORT", epmd_);
        epmd.setProcessEnvironment(env);
        epmd.start(tool("epmd"), {"-kill"});
        epmd.waitForFinished(5000);
    }
    int port() const { return port_; }

private:
    void write(const QString& name, const QString& text) {
        QFile f(dir_.filePath(name));
        f.open(QIODevice::WriteOnly);
        f.write(text.toUtf8());
    }
    int port_;
    QString epmd_;
    QTemporaryDir dir_;
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
    // Subscribed: a message sent now reaches it.
    bool ready(int port) {
        return waitFor([&] {
            publish(port, "qelo/probe", "1");
            return saw("qelo/probe 1", 500);
        });
    }
    static void publish(int port, const QString& topic, const QString& payload, bool retain = false) {
        QProcess p;
        QStringList args{"-h", "127.0.0.1", "-p", QString::number(port), "-t", topic, "-m", payload};
        if (retain) args << "-r";
        p.start(tool("mosquitto_pub"), args);
        p.waitForFinished(5000);
    }

private:
    QProcess process_;
    std::string seen_;
};

void publish(int port, const QString& topic, const QString& payload, bool retain = false) {
    Watcher::publish(port, topic, payload, retain);
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
    // Left on the broker by someone once: it must not switch the hall off.
    publish(broker.port(), "qelo/hall/command", "power off", true);
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
    EXPECT_NE(dashboard.seen().find("\"action\":\"power off\",\"code\":\"C02\",\"sent\":null"), std::string::npos);
    EXPECT_TRUE(dashboard.saw("\"ok\":false,\"error\":\"a retained command is never run"));
    EXPECT_EQ(dashboard.seen().find("qelo/hall/state {\"power\":\"Cooling down\""), std::string::npos);

    // Home Assistant started again: everything, whatever the broker kept.
    dashboard.clear();
    publish(broker.port(), "homeassistant/status", "online");
    for (const char* said : {"homeassistant/sensor/qelo_hall_mode/config {", "qelo/hall/state {",
                             "homeassistant/select/qelo_lab_input/config {", "qelo/lab/availability online"})
        EXPECT_TRUE(dashboard.saw(said, 5000)) << said;

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

// RabbitMQ gives retained messages to no wildcard subscription, as Home
// Assistant's are: it learns of the rooms when it says it started.
TEST_F(BridgeScenario, RabbitMqStateCommandsAndDiscoveryThroughTheBirthMessage) {
    if (RabbitBroker::program().isEmpty())
        GTEST_SKIP() << "rabbitmq-server is not installed (scripts/deps installs it)";
    RabbitBroker broker;
    Simulator hall({"--state", "00"});
    Bridge bridge({"--broker", QString("127.0.0.1:%1").arg(broker.port()), "--discovery", "homeassistant", "--poll",
                   "1", "--device", "hall=" + QString::fromStdString(hall.device())});
    ASSERT_TRUE(bridge.logged("hall (" + hall.device() + ") is online")) << bridge.log();
    Watcher dashboard(broker.port());
    ASSERT_TRUE(dashboard.ready(broker.port()));
    EXPECT_FALSE(dashboard.saw("homeassistant/", 1000));

    publish(broker.port(), "homeassistant/status", "online");
    for (const char* kind : {"switch", "sensor", "select"})
        EXPECT_TRUE(dashboard.saw("homeassistant/" + std::string(kind) + "/qelo_hall_", 5000)) << kind;
    EXPECT_TRUE(dashboard.saw("qelo/hall/state {\"power\":\"Power ON\"", 5000));
    const std::string& seen = dashboard.seen();
    std::size_t configs = 0;
    for (auto at = seen.find("/config {"); at != std::string::npos; at = seen.find("/config {", at + 1)) ++configs;
    EXPECT_EQ(configs, 6u) << dashboard.seen();

    publish(broker.port(), "qelo/hall/command", "power off");
    EXPECT_TRUE(dashboard.saw("\"action\":\"power off\",\"code\":\"C02\""));
    EXPECT_TRUE(dashboard.saw("qelo/hall/state {\"power\":\"Cooling down\""));
    EXPECT_EQ(bridge.stop(SIGTERM), 0) << bridge.log();
}

TEST_F(BridgeScenario, TwoBridgesWithOneTopicSaySoOnceAndStopFighting) {
    Broker broker(freePort());
    const QStringList args{"--broker", QString("127.0.0.1:%1").arg(broker.port()), "--device", "hall=tcp://127.0.0.1:9"};
    Bridge a(args), b(args);
    const std::string note = "another bridge with the same --topic";
    ASSERT_TRUE(waitFor([&] { return (a.log() + b.log()).find(note) != std::string::npos; }, 15000))
        << a.log() << b.log();
    auto connections = [&] {
        const std::string both = a.log() + b.log();
        int n = 0;
        for (auto at = both.find("connected to"); at != std::string::npos; at = both.find("connected to", at + 1)) ++n;
        return n;
    };
    waitFor([] { return false; }, 1000);  // the connection that took it over, said by the other
    const int before = connections();
    waitFor([] { return false; }, 4000);
    EXPECT_EQ(connections(), before) << a.log() << b.log();
}

// Made for the test: an authority and another, the broker's certificate for
// 127.0.0.1, one for another host, one expired, and a client's.
std::string makeCertificates(const QString& dir) {
    const char* script = R"(set -e; cd "$1"
key() { k=$1; shift; openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout $k.key -subj /CN=$k "$@"; }
key ca -x509 -days 2 -out ca.crt; key other -x509 -days 2 -out other.crt
for c in server:IP:127.0.0.1 elsewhere:DNS:elsewhere.example client:DNS:client; do
  n=${c%%:*}; key $n -out $n.csr; echo "subjectAltName=${c#*:}" > $n.ext
  openssl x509 -req -in $n.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 -extfile $n.ext -out $n.crt
done
openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -days -1 -extfile server.ext -out expired.crt
cp server.key expired.key)";
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start("/bin/sh", {"-c", script, "sh", dir});
    p.waitForFinished(30000);
    return p.exitCode() == 0 ? std::string() : p.readAll().toStdString();
}

TEST_F(BridgeScenario, TlsSaysWhyOnceAndKeepsThePaceOfItsBackOff) {
    if (tool("openssl").isEmpty()) GTEST_SKIP() << "openssl is not installed (scripts/deps installs it)";
    QTemporaryDir dir;
    ASSERT_EQ(makeCertificates(dir.path()), "");
    auto file = [&](const char* name) { return dir.filePath(name); };
    const int port = freePort(), elsewhere = freePort(), strict = freePort(), expired = freePort();
    auto bridge = [&](int p, QStringList more) {
        return std::make_unique<Bridge>(QStringList{"--broker", QString("127.0.0.1:%1").arg(p), "--device",
                                                    "hall=tcp://127.0.0.1:9", "--topic", QString("t%1").arg(p)}
                                        << more);
    };
    const QStringList ca{"--tls-ca", file("ca.crt")};
    auto early = bridge(port, ca);
    ASSERT_TRUE(early->logged("(Connection refused); trying again")) << early->log();
    waitFor([] { return false; }, 2500);

    auto listener = [&](int p, const char* cert) {
        return QString("listener %1 127.0.0.1\n").arg(p) + "cafile " + file("ca.crt") + "\ncertfile " +
               file(cert) + ".crt\nkeyfile " + file(cert) + ".key\n";
    };
    Broker broker(port, listener(port, "server").section('\n', 1) + listener(elsewhere, "elsewhere") +
                            listener(expired, "expired") + listener(strict, "server") +
                            "require_certificate true\nuser root\n");
    // Tries at 0, 1, 3, 7 s: the broker, there from about 3 s, is reached by 7.
    EXPECT_TRUE(early->logged("connected to the broker")) << early->log();

    const struct {
        int port;
        QStringList args;
        std::string said;
    } rows[] = {
        {port, {"--tls-ca", file("other.crt")}, "certificate is not signed by the authority in " + file("other.crt").toStdString()},
        {elsewhere, ca, "certificate is for another host than 127.0.0.1 (IP address mismatch)"},
        // A name, looked up off the event thread, checked against the certificate by itself.
        {elsewhere, ca + QStringList{"--broker", QString("localhost:%1").arg(elsewhere)},
         "certificate is for another host than localhost (hostname mismatch)"},
        {expired, ca, "certificate is out of its dates (certificate has expired)"},
        // Said by the alert, or by the reset that may come before it is read.
        {strict, ca, "a client certificate: --tls-cert and --tls-key"},
        {strict, ca + QStringList{"--tls-cert", file("client.crt"), "--tls-key", file("client.key")},
         "connected to the broker"},
    };
    std::vector<std::unique_ptr<Bridge>> bridges;
    for (const auto& row : rows) bridges.push_back(bridge(row.port, row.args));
    waitFor([] { return false; }, 3500);  // past the tries at 1 and 3 s
    for (std::size_t i = 0; i < bridges.size(); ++i) {
        const std::string& log = bridges[i]->log();
        EXPECT_NE(log.find(rows[i].said), std::string::npos) << log;
        std::set<std::string> lines;
        for (std::size_t at = 0, end; (end = log.find('\n', at)) != std::string::npos; at = end + 1)
            EXPECT_TRUE(lines.insert(log.substr(at, end - at)).second) << "said twice: " << log;
    }
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
