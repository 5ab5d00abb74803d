#pragma once
// What the bridge decides, without a broker, a line or a clock of its own:
// when each room is polled, what its state and availability are and when
// they are published, which message is a command, and the discovery
// payloads. The program feeds it messages, finished conversations and the
// time; it answers through Broker and Lines.

#include <cstddef>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bridge/settings.h"
#include "ctl/cli.h"
#include "ctl/runner.h"

namespace qelo::bridge {

// A run of qelo-ctl's actions on one room's line: every exchange as a value,
// and when it ended.
using Conversation = ctl::Conversation;

class Broker {
public:
    virtual ~Broker() = default;
    virtual void publish(const std::string& topic, const std::string& payload, bool retain) = 0;
};

class Lines {
public:
    virtual ~Lines() = default;
    // Runs actions on the room's line; the answer comes to Hub::finished.
    // One conversation at a time a room: what is asked while one runs
    // waits for its end.
    virtual void converse(std::size_t room, const std::vector<ctl::Action>& actions) = 0;
};

// A room with this many commands waiting refuses more: a dashboard stuck on
// repeat must not fill the memory.
inline constexpr std::size_t kMostWaiting = 16;
// A payload longer than this is no action's name.
inline constexpr std::size_t kLongestCommand = 64;
// Polls that may go by without publishing an unchanged state.
inline constexpr int kPublishEvery = 10;
// Polls in a row without an answer before a room is offline.
inline constexpr int kMissesOffline = 2;

class Hub {
public:
    using Log = std::function<void(const std::string&)>;
    Hub(Settings settings, Broker& broker, Lines& lines, Log log);

    // The broker took the connection: everything retained is said again, as
    // a broker that restarted remembers nothing.
    void connected();
    // retained: the broker kept it, rather than someone sending it now.
    void message(const std::string& topic, const std::string& payload, bool retained, long long now);
    // Starts every conversation that is due, and says again what a dashboard
    // that started asked for; the time the next of either falls due.
    long long run(long long now);
    void finished(std::size_t room, const Conversation& c, long long now);

    std::string subscription() const { return s_.topic + "/+/command"; }
    std::string bridgeAvailability() const { return s_.topic + "/bridge/availability"; }
    // The dashboard's birth and will; empty: none is listened to.
    std::string statusTopic() const { return s_.statusTopic(); }
    const Settings& settings() const { return s_; }

private:
    struct RoomState {
        bool busy = false;
        std::optional<ctl::Action> command;  // what is being run, when not a poll
        std::deque<ctl::Action> waiting;
        long long nextPoll = 0;
        int misses = 0;
        std::optional<bool> online;
        std::string state;  // the last state published
        std::string key;    // the same without its time, to tell a change
        int pollsSincePublished = 0;
        std::optional<long long> sayAgainAt;  // a dashboard that started hears this room then
        bool toldRetained = false;            // the log heard of a retained command on its topic
    };

    std::string topicOf(std::size_t room, const char* leaf) const;
    void result(std::size_t room, const std::string& line);
    void setOnline(std::size_t room, bool online, const std::string& why);
    void polled(std::size_t room, const Conversation& c);
    void publishDiscovery(std::size_t room);
    void sayAgain(std::size_t room);

    Settings s_;
    Broker& broker_;
    Lines& lines_;
    Log log_;
    std::vector<RoomState> rooms_;
    std::vector<ctl::Action> poll_;
};

// A dashboard that starts hears the rooms spread over this long, not all at
// once.
inline constexpr long long kSayAgainSpreadMs = 1000;

// The state JSON without its time from a poll's exchanges, or nothing when
// they do not all hold what their query expects.
std::optional<std::string> stateOf(const Conversation& poll);

// What names a room's device in discovery, and starts its entities' unique
// ids: different for every topic prefix and room, also where the prefix's
// levels joined by '_' are the same (a/b and a_b).
std::string deviceId(const std::string& topic, const std::string& room);

// Every retained discovery message of a room: topic and payload.
std::vector<std::pair<std::string, std::string>> discovery(const Settings& s, const Room& room);

}  // namespace qelo::bridge
