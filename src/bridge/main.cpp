// qelo-bridge: every projector of a building on the site's MQTT broker.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <unistd.h>

#include "bridge/hub.h"
#include "bridge/mqtt.h"
#include "bridge/rooms.h"
#include "bridge/settings.h"
#include "qt/delivery.h"

namespace {

using namespace qelo::bridge;

constexpr const char* kProgram = "qelo-bridge";
// What a failure nobody expected ends the run with; systemd starts it again.
constexpr int kFailed = 3;
// How long a clean stop waits for the broker to take the bridge's "offline".
constexpr int kStopMs = 2000;

int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char c = 0;
    [[maybe_unused]] auto n = ::write(signalPipe[1], &c, 1);
}

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

}  // namespace

int main(int argc, char** argv) {
    const ParseResult parsed = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc), readFile);
    if (!parsed.settings) {
        std::cerr << kProgram << ": " << parsed.error << '\n'
                  << usage(kProgram) << "Try '" << kProgram << " --help' for more.\n";
        return kBadUsage;
    }
    const Settings& s = *parsed.settings;
    if (s.help) {
        std::cout << helpText(kProgram);
        return kDone;
    }
    if (s.version) {
        std::cout << versionText(kProgram);
        return kDone;
    }
    const auto secret = password(s);
    if (!secret) return kBadUsage;

    QCoreApplication app(argc, argv);
    qelo::platform::qt::Delivery delivery;
    delivery.setReporter([&](std::exception_ptr e) {
        std::string what = "unknown";
        try {
            std::rethrow_exception(e);
        } catch (const std::exception& x) {
            what = x.what();
        } catch (...) {
        }
        say("stopped by an unexpected failure: " + what);
        std::_Exit(kFailed);
    });
    const auto run = [&](const std::function<void()>& f) { delivery.run(f); };

    signal(SIGPIPE, SIG_IGN);
    if (::pipe(signalPipe) != 0) {
        say(std::string("cannot watch for signals: ") + std::strerror(errno));
        return kFailed;
    }
    struct sigaction sa{};
    sa.sa_handler = onSignal;
    sa.sa_flags = SA_RESTART;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);

    std::string clientTopic = s.topic;
    std::replace(clientTopic.begin(), clientTopic.end(), '/', '_');
    Mqtt mqtt({s.host, s.brokerPort(), "qelo-bridge-" + clientTopic, s.username, *secret, s.tlsCa,
               s.topic + "/bridge/availability"},
              say, run);
    std::string error;
    if (!mqtt.setUp(error)) {
        say(error);
        return kBadUsage;
    }

    QElapsedTimer clock;
    clock.start();
    QTimer due;
    due.setSingleShot(true);
    due.setTimerType(Qt::PreciseTimer);
    std::unique_ptr<Hub> hub;
    auto schedule = [&] {
        const long long now = clock.elapsed();
        due.start(static_cast<int>(std::max(0LL, hub->run(now) - now)));
    };
    QtLines lines(s.rooms, [&](std::size_t room, const Conversation& c) {
        run([&] {
            hub->finished(room, c, clock.elapsed());
            schedule();
        });
    });
    MqttBroker broker(mqtt);
    hub = std::make_unique<Hub>(s, broker, lines, say);
    QObject::connect(&due, &QTimer::timeout, [&] { run(schedule); });

    bool stopping = false;
    QSocketNotifier signalWatch(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalWatch, &QSocketNotifier::activated, [&] {
        char c;
        [[maybe_unused]] auto n = ::read(signalPipe[0], &c, 1);
        if (stopping) return;
        stopping = true;
        due.stop();
        run([&] { mqtt.stop(kStopMs, [&] { app.quit(); }); });
    });

    say("bridging " + std::to_string(s.rooms.size()) + " room(s) to " + s.host + ":" +
        std::to_string(s.brokerPort()) + " under " + s.topic + "/");
    mqtt.start(
        [&] {
            mqtt.subscribe(hub->subscription());
            hub->connected();
        },
        [&](const std::string& topic, const std::string& payload) {
            if (stopping) return;
            hub->message(topic, payload, clock.elapsed());
            schedule();
        });
    schedule();
    app.exec();
    return kDone;
}
