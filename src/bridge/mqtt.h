#pragma once
// libmosquitto on Qt's event loop: its socket watched by QSocketNotifiers
// (for writing only while the library has something to write), its
// housekeeping on a timer, and reconnects with back-off. No thread of the
// library's own. The broker's name is looked up by Qt, off this thread, and
// its addresses tried in turn. Over TLS the handshake runs on the same notifiers, and a
// failure is told by what the TLS library said, not the client library's
// "A TLS error occurred.".

#include <QElapsedTimer>
#include <QHostInfo>
#include <QSocketNotifier>
#include <QTimer>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

struct mosquitto;
struct mosquitto_message;
struct ssl_st;

namespace qelo::bridge {

struct MqttSettings {
    std::string host;
    int port = 1883;
    std::string clientId;
    std::string username;
    std::string password;
    std::string tlsCa;
    std::string tlsCert;  // with tlsKey: the client certificate a broker may ask for
    std::string tlsKey;
    std::string willTopic;  // gets "offline", retained, when the bridge vanishes
};

class Mqtt {
public:
    using Log = std::function<void(const std::string&)>;
    using Connected = std::function<void()>;
    // retained: the broker kept the message and hands it over because of a
    // new subscription.
    using Message = std::function<void(const std::string& topic, const std::string& payload, bool retained)>;
    // Every call back runs through run, so that a failure in one never
    // unwinds through the library or Qt.
    using Runner = std::function<void(const std::function<void()>&)>;

    Mqtt(MqttSettings settings, Log log, Runner runner);
    ~Mqtt();
    Mqtt(const Mqtt&) = delete;
    Mqtt& operator=(const Mqtt&) = delete;

    // Sets the library up; false with the reason when the settings cannot work.
    bool setUp(std::string& error);
    // Connects, and keeps connecting until stop().
    void start(Connected connected, Message message);
    // Retained messages are what a dashboard sees on connecting; all go with
    // QoS 1. While disconnected they are dropped: connecting again says
    // everything again.
    void publish(const std::string& topic, const std::string& payload, bool retain);
    void subscribe(const std::string& pattern);
    // Publishes the will's "offline" itself, waits up to ms for the broker to
    // take it, disconnects, then calls done.
    void stop(int ms, std::function<void()> done);

private:
    static void onConnect(mosquitto*, void* self, int rc);
    static void onMessage(mosquitto*, void* self, const mosquitto_message* m);
    static void onPublish(mosquitto*, void* self, int mid);
    static void onLog(mosquitto*, void* self, int level, const char* text);
    static void onTlsInfo(const ssl_st* ssl, int where, int ret);

    bool setUpTls(std::string& error);
    std::string where() const;
    // Says why the broker cannot be had, each reason once until it answers.
    void complain(const std::string& why);
    // A connection that died under the TLS handshake, which the client library
    // would otherwise retry on every wake-up until the keep-alive ran out.
    bool deadWhileConnecting(std::string& why);
    bool hasInput() const;

    void attempt();
    void resolved(const QHostInfo& info);
    void watch();
    void unwatch();
    void lost(int rc);
    // After every call into the library: a socket it replaced, a write it
    // could not finish.
    void settle(int rc);
    void finishStop();

    MqttSettings s_;
    Log log_;
    Runner run_;
    mosquitto* m_ = nullptr;
    Connected connected_;
    Message message_;
    std::unique_ptr<QSocketNotifier> read_;
    std::unique_ptr<QSocketNotifier> write_;
    int watched_ = -1;
    QTimer misc_;
    QTimer retry_;
    int backoffMs_ = 0;
    std::vector<std::string> addresses_;  // the broker's name looked up, tried in turn
    std::size_t next_ = 0;
    int lookup_ = -1;
    bool up_ = false;
    std::set<std::string> complaints_;  // said for a broker out of reach, since it last answered
    std::string problem_;  // what went wrong in this attempt, in words better than the library's
    int socketErrno_ = 0;     // the first network error the library met during it
    bool refused_ = false;    // the broker said why it refused this attempt
    QElapsedTimer upSince_;
    int shortDrops_ = 0;      // connections the broker closed soon after taking them
    bool takenOver_ = false;  // said that another client with our id takes the connection
    bool stopping_ = false;
    int offlineMid_ = -1;
    QTimer stopDeadline_;
    std::function<void()> done_;
};

}  // namespace qelo::bridge
