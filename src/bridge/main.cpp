// qelo-bridge: every projector of a building on the site's MQTT broker.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <unistd.h>

#include "bridge/hub.h"
#include "bridge/mqtt.h"
#include "bridge/rooms.h"
#include "bridge/settings.h"
#include "qt/command_line.h"
#include "qt/delivery.h"
#include "qt/termination.h"

namespace {

using namespace qelo::bridge;

constexpr const char* kProgram = "qelo-bridge";
// What a failure nobody expected ends the run with; systemd starts it again.
constexpr int kFailed = 3;
// How long a clean stop waits for the broker to take the bridge's "offline".
constexpr int kStopMs = 2000;

std::optional<std::string> readFile(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = std::strerror(errno);
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void say(const std::string& line) { std::cerr << kProgram << ": " << line << '\n' << std::flush; }

// The first line of the password file, without its line end.
std::optional<std::string> password(const Settings& s) {
    if (s.passwordFile.empty()) return std::string();
    std::string error;
    auto text = readFile(s.passwordFile, error);
    if (!text) {
        say("cannot read the password file " + s.passwordFile + ": " + error);
        return std::nullopt;
    }
    std::string first = text->substr(0, text->find('\n'));
    if (first.ends_with('\r')) first.pop_back();
    return first;
}

class MqttBroker : public Broker {
public:
    explicit MqttBroker(Mqtt& mqtt) : mqtt_(mqtt) {}
    void publish(const std::string& topic, const std::string& payload, bool retain) override {
        mqtt_.publish(topic, payload, retain);
    }

private:
    Mqtt& mqtt_;
};

// What the command line asks for: settings and the broker's password to run
// on, or the status to end with at once (help, version, a mistake).
struct Start {
    std::optional<Settings> settings;
    std::string secret;
    int status = kDone;
};

Start settingsFrom(int argc, char** argv) {
    const ParseResult parsed = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc), readFile);
    if (!parsed.settings) {
        std::cerr << kProgram << ": " << parsed.error << '\n'
                  << usage(kProgram) << "Try '" << kProgram << " --help' for more.\n";
        return {std::nullopt, {}, kBadUsage};
    }
    const Settings& s = *parsed.settings;
    if (s.help || s.version) {
        std::cout << (s.help ? helpText(kProgram) : qelo::cmdline::versionText(kProgram));
        return {};
    }
    auto secret = password(s);
    if (!secret) return {std::nullopt, {}, kBadUsage};
    return {s, *secret};
}

void reportAndExit(std::exception_ptr e) {
    std::string what = "unknown";
    try {
        std::rethrow_exception(e);
    } catch (const std::exception& x) {
        what = x.what();
    } catch (...) {
    }
    say("stopped by an unexpected failure: " + what);
    std::_Exit(kFailed);
}

// A signal becomes a byte on a pipe, read on the event loop.
bool watchSignals() {
    signal(SIGPIPE, SIG_IGN);
    if (qelo::platform::qt::watchTermination() < 0) {
        say(std::string("cannot watch for signals: ") + std::strerror(errno));
        return false;
    }
    return true;
}

// Every room takes a descriptor for its line, and a service starts with a
// soft limit of 1,024 that a campus passes: take all the hard limit allows.
// Said only when it cannot be raised.
void raiseFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == limit.rlim_max) return;
    const rlim_t was = limit.rlim_cur;
    limit.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0)
        say("cannot raise the open-files limit from " + std::to_string(was) + ": " + std::strerror(errno));
}

MqttSettings connectionOf(const Settings& s, const std::string& secret) {
    std::string clientTopic = s.topic;
    std::replace(clientTopic.begin(), clientTopic.end(), '/', '_');
    return {s.host,   s.brokerPort(), "qelo-bridge-" + clientTopic, s.username, secret, s.tlsCa, s.tlsCert,
            s.tlsKey, s.topic + "/bridge/availability"};
}

// The rooms on a broker that is set up: a line per room and the hub between
// them and the broker, all on Qt's event loop.
class Bridge {
public:
    Bridge(const Settings& s, Mqtt& mqtt, const qelo::platform::qt::Delivery& delivery)
        : s_(s),
          mqtt_(mqtt),
          delivery_(delivery),
          lines_(s.rooms,
                 [this](std::size_t room, const Conversation& c) {
                     deliver([&] {
                         hub_.finished(room, c, clock_.elapsed());
                         schedule();
                     });
                 }),
          broker_(mqtt),
          hub_(s, broker_, lines_, say),
          signalWatch_(qelo::platform::qt::notifyTermination([this] { stop(); })) {
        clock_.start();
        due_.setSingleShot(true);
        due_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&due_, &QTimer::timeout, [this] { deliver([this] { schedule(); }); });
    }

    // Until a signal stops it.
    int run() {
        const bool v6 = s_.host.find(':') != std::string::npos;
        say("bridging " + std::to_string(s_.rooms.size()) + " room(s) to " + (v6 ? "[" + s_.host + "]" : s_.host) +
            ":" + std::to_string(s_.brokerPort()) + " under " + s_.topic + "/");
        mqtt_.start(
            [this] {
                mqtt_.subscribe(hub_.subscription());
                if (!hub_.statusTopic().empty()) mqtt_.subscribe(hub_.statusTopic());
                hub_.connected();
            },
            [this](const std::string& topic, const std::string& payload, bool retained) {
                if (stopping_) return;
                hub_.message(topic, payload, retained, clock_.elapsed());
                schedule();
            });
        schedule();
        QCoreApplication::exec();
        return kDone;
    }

private:
    void deliver(const std::function<void()>& f) const { delivery_.run(f); }

    void schedule() {
        const long long now = clock_.elapsed();
        due_.start(static_cast<int>(std::max(0LL, hub_.run(now) - now)));
    }

    void stop() {
        if (stopping_) return;
        stopping_ = true;
        due_.stop();
        deliver([this] { mqtt_.stop(kStopMs, [] { QCoreApplication::quit(); }); });
    }

    const Settings& s_;
    Mqtt& mqtt_;
    const qelo::platform::qt::Delivery& delivery_;
    QElapsedTimer clock_;
    QTimer due_;
    QtLines lines_;
    MqttBroker broker_;
    Hub hub_;
    std::unique_ptr<QSocketNotifier> signalWatch_;
    bool stopping_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    const Start start = settingsFrom(argc, argv);
    if (!start.settings) return start.status;
    const Settings& s = *start.settings;

    raiseFileLimit();
    // Qt's own event dispatcher, not glib's: every loop pass looks at every
    // room's socket, and it does so for a tenth less (bench/bridge-fanout).
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB")) qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    qelo::platform::qt::Delivery delivery;
    delivery.setReporter(reportAndExit);
    if (!watchSignals()) return kFailed;

    Mqtt mqtt(connectionOf(s, start.secret), say, [&](const std::function<void()>& f) { delivery.run(f); });
    std::string error;
    if (!mqtt.setUp(error)) {
        say(error);
        return kBadUsage;
    }
    Bridge bridge(s, mqtt, delivery);
    return bridge.run();
}
