#include "bridge/hub.h"

#include <algorithm>

#include "ctl/escape.h"
#include "ctl/report.h"
#include "ctl/runner.h"
#include "qt/command_line.h"

namespace qelo::bridge {

namespace {

using ctl::jsonText;

const ctl::Exchange* answerTo(const Conversation& c, std::string_view code) {
    for (const auto& [action, x] : c.exchanges)
        if (action.code == code && x.status == ctl::kDone && x.reply) return &x;
    return nullptr;
}

ctl::Action actionNamed(const char* name) {
    return {*ctl::codeForName(name), name, true};
}

}  // namespace

std::optional<std::string> stateOf(const Conversation& poll) {
    const ctl::Exchange* status = answerTo(poll, "CR0");
    const ctl::Exchange* hours = answerTo(poll, "CR3");
    const ctl::Exchange* mode = answerTo(poll, "CR1");
    const ctl::Exchange* setting = answerTo(poll, "CR4");
    if (!status || !hours || !mode || !setting) return std::nullopt;
    if (!status->words || !hours->hours || !mode->words || !setting->words) return std::nullopt;
    const std::string code = status->reply->substr(0, status->reply->size() - 1);
    return "{\"power\":" + jsonText(*status->words) + ",\"power_code\":" + jsonText(code) +
           ",\"lamp_hours\":" + std::to_string(*hours->hours) + ",\"input\":" + jsonText(*mode->words) +
           ",\"reversal\":" + jsonText(*setting->words);
}

std::string deviceId(const std::string& topic, const std::string& room) {
    // A prefix of one level without '_' keeps the ids it always had.
    if (topic.find_first_of("/_") == std::string::npos) return topic + "_" + room;
    // Any other starts with '_' and escapes with '-', so that it holds no
    // '_' of its own and ends at the next: a/b is "_a-sb", a_b "_a-ub".
    std::string id = "_";
    for (char c : topic) id += c == '/' ? "-s" : c == '_' ? "-u" : c == '-' ? "--" : std::string(1, c);
    return id + "_" + room;
}

std::vector<std::pair<std::string, std::string>> discovery(const Settings& s, const Room& room) {
    const std::string id = deviceId(s.topic, room.name);
    const std::string base = s.topic + "/" + room.name;
    // Commands go at QoS 1 too: one lost on the way is a button that did nothing.
    const std::string common =
        ",\"qos\":1,\"availability\":[{\"topic\":" + jsonText(s.topic + "/bridge/availability") + "},{\"topic\":" +
        jsonText(base + "/availability") + "}],\"availability_mode\":\"all\",\"state_topic\":" +
        jsonText(base + "/state") + ",\"device\":{\"identifiers\":[" + jsonText(id) +
        "],\"name\":" + jsonText(room.name) +
        ",\"manufacturer\":\"QELO\",\"model\":\"PLV7M / LV7M\"},\"origin\":{\"name\":\"qelo-bridge\",\"sw_version\":" +
        jsonText(std::string(cmdline::version())) + "}";
    const std::string command = ",\"command_topic\":" + jsonText(base + "/command");
    struct Entity {
        const char* component;
        const char* key;
        std::string fields;
    };
    const Entity entities[] = {
        {"switch", "power",
         "\"name\":\"Power\",\"icon\":\"mdi:projector\",\"payload_on\":\"power on\",\"payload_off\":\"power off\","
         "\"state_on\":\"ON\",\"state_off\":\"OFF\","
         // Counting down is warming up: the lamp is on its way.
         "\"value_template\":\"{{ 'ON' if value_json.power_code in ['00', '40'] else 'OFF' }}\"" +
             command},
        {"sensor", "status",
         "\"name\":\"Status\",\"icon\":\"mdi:projector\",\"value_template\":\"{{ value_json.power }}\""},
        {"sensor", "lamp_hours",
         "\"name\":\"Lamp hours\",\"icon\":\"mdi:lightbulb\",\"unit_of_measurement\":\"h\",\"device_class\":"
         "\"duration\",\"state_class\":\"total_increasing\",\"value_template\":\"{{ value_json.lamp_hours }}\""},
        // An input it cannot choose (MCI) leaves it with no current option,
        // which the dashboard takes from "None"; the Mode sensor names it.
        {"select", "input",
         "\"name\":\"Input\",\"icon\":\"mdi:video-input-component\",\"options\":[\"Computer\",\"Video\"],"
         "\"value_template\":\"{{ value_json.input if value_json.input in ['Computer', 'Video'] else 'None' }}\","
         "\"command_template\":\"{{ {'Computer': 'input select analog', 'Video': 'input select video'}[value] }}\"" +
             command},
        {"sensor", "mode",
         "\"name\":\"Mode\",\"icon\":\"mdi:video-input-component\",\"value_template\":\"{{ value_json.input }}\""},
        {"sensor", "reversal",
         "\"name\":\"Picture reversal\",\"entity_category\":\"diagnostic\",\"value_template\":\"{{ "
         "value_json.reversal }}\""},
    };
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& e : entities) {
        const std::string unique = id + "_" + e.key;
        out.emplace_back(s.discovery + "/" + e.component + "/" + unique + "/config",
                         "{" + e.fields + ",\"unique_id\":" + jsonText(unique) + common + "}");
    }
    return out;
}

Hub::Hub(Settings settings, Broker& broker, Lines& lines, Log log)
    : s_(std::move(settings)), broker_(broker), lines_(lines), log_(std::move(log)), rooms_(s_.rooms.size()) {
    // The order the panel's data area lists them in.
    for (const char* name : {"status", "l-time", "mode", "setting"}) poll_.push_back(actionNamed(name));
}

std::string Hub::topicOf(std::size_t room, const char* leaf) const {
    return s_.topic + "/" + s_.rooms[room].name + "/" + leaf;
}

void Hub::connected() {
    broker_.publish(bridgeAvailability(), "online", true);
    for (std::size_t i = 0; i < rooms_.size(); ++i) sayAgain(i);
}

void Hub::sayAgain(std::size_t room) {
    rooms_[room].sayAgainAt.reset();
    if (!s_.discovery.empty()) publishDiscovery(room);
    const RoomState& r = rooms_[room];
    if (r.online) broker_.publish(topicOf(room, "availability"), *r.online ? "online" : "offline", true);
    if (!r.state.empty()) broker_.publish(topicOf(room, "state"), r.state, true);
}

void Hub::publishDiscovery(std::size_t room) {
    for (const auto& [topic, payload] : discovery(s_, s_.rooms[room])) broker_.publish(topic, payload, true);
}

void Hub::result(std::size_t room, const std::string& line) { broker_.publish(topicOf(room, "result"), line, false); }

void Hub::message(const std::string& topic, const std::string& payload, bool retained, long long now) {
    if (topic == statusTopic()) {
        // A retained birth is old news: connecting said everything already.
        // Live, it is a dashboard that started and knows nothing, whatever
        // the broker kept (some give wildcard subscribers nothing retained).
        if (retained || trimmed(payload) != "online") return;
        broker_.publish(bridgeAvailability(), "online", true);
        for (std::size_t i = 0; i < rooms_.size(); ++i)
            rooms_[i].sayAgainAt = now + static_cast<long long>(i) * kSayAgainSpreadMs /
                                             static_cast<long long>(rooms_.size());
        run(now);
        return;
    }
    const std::string head = s_.topic + "/";
    if (!topic.starts_with(head) || !topic.ends_with("/command")) return;
    const std::string name = topic.substr(head.size(), topic.size() - head.size() - 8);
    const auto at = std::find_if(s_.rooms.begin(), s_.rooms.end(), [&](const Room& r) { return r.name == name; });
    if (at == s_.rooms.end()) return;  // another bridge's room, or none
    const std::size_t i = static_cast<std::size_t>(at - s_.rooms.begin());
    RoomState& r = rooms_[i];

    auto refuse = [&](const std::string& why, const ctl::Action* action = nullptr) {
        ctl::Exchange refused;
        refused.error = why;
        result(i, ctl::jsonLine(ctl::utcNow(), at->device, action, refused));
    };
    // What clears a retained message: nothing was asked.
    if (payload.empty()) return;
    const std::string wanted = trimmed(payload);
    // Only names from the action table reach a line: no raw codes.
    const auto code = wanted.size() <= kLongestCommand ? ctl::codeForName(wanted) : std::nullopt;
    if (retained) {
        // It would run again at every start and every reconnect.
        const std::optional<ctl::Action> action =
            code ? std::optional<ctl::Action>({*code, wanted, ctl::isQuery(*code)}) : std::nullopt;
        refuse("a retained command is never run: clear it with an empty retained message on " + topic,
               action ? &*action : nullptr);
        if (!r.toldRetained)
            log_(at->name + ": a retained command is never run" + (code ? " (\"" + wanted + "\")" : std::string()) +
                 "; clear it with: mosquitto_pub -r -n -t " + topic);
        r.toldRetained = true;
        return;
    }
    if (!code) {
        refuse("not an action: \"" + wanted.substr(0, kLongestCommand) + "\" (qelo-ctl --list shows them all)");
        return;
    }
    if (r.waiting.size() >= kMostWaiting) {
        refuse("\"" + wanted + "\" refused: " + std::to_string(kMostWaiting) + " commands are waiting already");
        return;
    }
    r.waiting.push_back({*code, wanted, ctl::isQuery(*code)});
    run(now);
}

long long Hub::run(long long now) {
    long long next = now + s_.pollSeconds * 1000LL;
    for (std::size_t i = 0; i < rooms_.size(); ++i) {
        RoomState& r = rooms_[i];
        if (r.sayAgainAt && *r.sayAgainAt <= now) sayAgain(i);
        if (r.sayAgainAt) next = std::min(next, *r.sayAgainAt);
        if (r.busy) continue;
        // A command goes before the next poll.
        if (!r.waiting.empty()) {
            r.command = r.waiting.front();
            r.waiting.pop_front();
            r.busy = true;
            lines_.converse(i, {*r.command});
        } else if (now >= r.nextPoll) {
            r.command.reset();
            r.busy = true;
            r.nextPoll = now + s_.pollSeconds * 1000LL;
            lines_.converse(i, poll_);
        } else {
            next = std::min(next, r.nextPoll);
        }
    }
    return next;
}

void Hub::setOnline(std::size_t room, bool online, const std::string& why) {
    RoomState& r = rooms_[room];
    if (r.online == online) return;
    r.online = online;
    broker_.publish(topicOf(room, "availability"), online ? "online" : "offline", true);
    log_(s_.rooms[room].name + " (" + s_.rooms[room].device + ") is " +
         (online ? std::string("online") : "offline: " + why));
}

void Hub::polled(std::size_t room, const Conversation& c) {
    RoomState& r = rooms_[room];
    const auto key = c.status == ctl::kDone ? stateOf(c) : std::nullopt;
    if (!key) {
        const std::string why = c.error.empty() ? "the answers were not a projector's" : c.error;
        // A line that failed is offline at once; silence gets a second chance.
        if (c.status == ctl::kPortFailed || ++r.misses >= kMissesOffline) setOnline(room, false, why);
        return;
    }
    r.misses = 0;
    setOnline(room, true, {});
    if (*key == r.key && ++r.pollsSincePublished < kPublishEvery) return;
    r.key = *key;
    r.pollsSincePublished = 0;
    r.state = *key + ",\"time\":" + jsonText(c.time) + "}";
    broker_.publish(topicOf(room, "state"), r.state, true);
}

void Hub::finished(std::size_t room, const Conversation& c, long long now) {
    RoomState& r = rooms_[room];
    r.busy = false;
    if (!r.command) {
        polled(room, c);
    } else {
        for (const auto& [action, x] : c.exchanges) result(room, ctl::jsonLine(c.time, s_.rooms[room].device, &action, x));
        if (c.status == ctl::kPortFailed) {
            r.misses = kMissesOffline;
            setOnline(room, false, c.error);
        }
        // What the command changed shows at once, not a poll period later.
        if (!r.command->query && c.status == ctl::kDone) r.nextPoll = now;
        r.command.reset();
    }
    run(now);
}

}  // namespace qelo::bridge
