// What the bridge decides, on a fake broker and fake lines, time given by hand.

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "bridge/hub.h"
#include "link/answer.h"

using namespace qelo::bridge;

namespace {

struct FakeBroker : Broker {
    std::vector<std::pair<std::string, std::string>> published;
    void publish(const std::string& topic, const std::string& payload, bool) override {
        published.emplace_back(topic, payload);
    }
    long count(const std::string& topic) const {
        return std::count_if(published.begin(), published.end(), [&](const auto& p) { return p.first == topic; });
    }
    std::string last(const std::string& topic) const {
        for (auto it = published.rbegin(); it != published.rend(); ++it)
            if (it->first == topic) return it->second;
        return "(none)";
    }
};

struct FakeLines : Lines {
    std::vector<std::pair<std::size_t, std::vector<qelo::ctl::Action>>> started;
    void converse(std::size_t room, const std::vector<qelo::ctl::Action>& actions) override {
        started.emplace_back(room, actions);
    }
};

Settings twoRooms() {
    Settings s;
    s.host = "localhost";
    s.rooms = {{"hall", "/dev/pts/1"}, {"lab", "tcp://127.0.0.1:2000"}};
    return s;
}

// A poll that every projector would answer this way, each answer read as
// the conversation reads it.
Conversation answered(const std::string& status = "00", const std::string& hours = "1234") {
    Conversation c;
    c.time = "2026-01-01T00:00:00.000Z";
    for (const auto& [code, reply] : {std::pair{"CR0", status}, {"CR3", hours}, {"CR1", std::string("1")}, {"CR4", std::string("11")}}) {
        qelo::ctl::Exchange x;
        x.reply = reply + "\r";
        const qelo::link::Answer a = qelo::link::readAnswer(code, *x.reply);
        if (!a.fits) x.status = qelo::ctl::kUnexpected;
        if (a.word) x.words = a.word->words;
        x.hours = a.hours;
        c.exchanges.push_back({{code, code, true}, x});
    }
    return c;
}

Conversation failed(int status) {
    Conversation c;
    c.status = status;
    c.error = "no reply";
    return c;
}

class HubTest : public ::testing::Test {
protected:
    FakeBroker broker;
    FakeLines lines;
    std::vector<std::string> said;
    Hub hub{twoRooms(), broker, lines, [this](const std::string& s) { said.push_back(s); }};
};

}  // namespace

TEST(Settings, CommandLinesAndFiles) {
    const std::map<std::string, std::string> files{
        {"good.conf", "broker = mqtt.example:1884\n# rooms\n[hall]\ndevice = /dev/ttyS0\n\n[lab]\ndevice=tcp://h:1\n"},
        {"nameless.conf", "broker = b\n[bad name]\ndevice = /dev/ttyS0\n"},
        {"raw.conf", "password = secret\n"},
    };
    const FileReader read = [&](const std::string& path, std::string& error) -> std::optional<std::string> {
        if (auto it = files.find(path); it != files.end()) return it->second;
        error = "No such file or directory";
        return std::nullopt;
    };
    const struct {
        std::vector<std::string> args;
        std::string problem;  // empty: accepted
        std::size_t rooms = 0;
    } cases[] = {
        {{"--broker", "b:1883", "--device", "a=/dev/ttyS0", "--device=b-2_c=tcp://h:7"}, "", 2},
        {{"--config", "good.conf", "--device", "extra=/dev/ttyS1"}, "", 3},
        {{"--config", "good.conf", "--device", "hall=/dev/ttyS1"}, "\"hall\" is given twice"},
        {{"--config", "nameless.conf"}, "nameless.conf: the room name \"bad name\" may hold only"},
        {{"--config", "raw.conf"}, "raw.conf:1: unknown setting \"password\""},
        {{"--config", "missing.conf"}, "missing.conf: No such file or directory"},
        {{"--broker", "b", "--device", "bridge=/dev/ttyS0"}, "is taken by the bridge's own topics"},
        {{"--broker", "b", "--device", "a/b=/dev/ttyS0"}, "may hold only letters"},
        {{"--broker", "b", "--device", "a+=/dev/ttyS0"}, "may hold only letters"},
        {{"--broker", "b", "--device", "=/dev/ttyS0"}, "is empty"},
        {{"--broker", "b", "--device", "a="}, "has no device"},
        {{"--broker", "b", "--device", "a=tcp://nowhere"}, "tcp://"},
        {{"--broker", "b", "--topic", "site/#", "--device", "a=/d"}, "may hold only letters"},
        {{"--broker", "b", "--topic", "site//x", "--device", "a=/d"}, "is empty"},
        {{"--broker", "b", "--topic", "a b", "--device", "a=/d"}, "the topic \"a b\" has a level"},
        {{"--broker", "b", "--discovery", "a b", "--device", "a=/d"}, "the discovery prefix \"a b\""},
        {{"--broker", "b", "--tls-cert", "c.pem", "--tls-key", "k.pem", "--device", "a=/d"}, "needs --tls-ca"},
        {{"--broker", "b", "--tls-ca", "ca.pem", "--tls-cert", "c.pem", "--device", "a=/d"}, "go together"},
        {{"--broker", "b:0", "--device", "a=/d"}, "not a number from 1 to 65535"},
        {{"--broker", "b", "--discovery-status", "ha/+", "--device", "a=/d"}, "may hold only letters"},
        {{"--broker", "b", "--poll", "0", "--device", "a=/d"}, "from 1 to 3600"},
        {{"--broker", "b", "--password", "x", "--device", "a=/d"}, "unknown option --password"},
        {{"--broker", "b", "room=/d"}, "every setting is an option"},
        {{"--broker", "b", "--device", "a\nb=/d"}, "the room name \"a\\nb\" may hold only"},
        {{"--device", "a=/d"}, "no --broker given"},
        {{"--broker", "b"}, "no --device given"},
    };
    for (const auto& c : cases) {
        const auto r = parseCommandLine(c.args, read);
        const std::string shown = ::testing::PrintToString(c.args);
        if (c.problem.empty()) {
            ASSERT_TRUE(r.settings) << shown << ": " << r.error;
            EXPECT_EQ(r.settings->rooms.size(), c.rooms) << shown;
        } else {
            EXPECT_FALSE(r.settings) << shown;
            EXPECT_NE(r.error.find(c.problem), std::string::npos) << shown << ": " << r.error;
        }
    }
    const auto good = parseCommandLine({"--config", "good.conf", "--broker", "[::1]:9"}, read);
    ASSERT_TRUE(good.settings);
    EXPECT_EQ(good.settings->host, "::1");  // the command line wins over the file
    EXPECT_EQ(good.settings->brokerPort(), 9);
    EXPECT_EQ(good.settings->statusTopic(), "");
    Settings ha = *good.settings;
    ha.discovery = "homeassistant";
    EXPECT_EQ(ha.statusTopic(), "homeassistant/status");
}

TEST_F(HubTest, StateIsPublishedWhenItChangesAndEveryTenthPoll) {
    hub.run(0);
    ASSERT_EQ(lines.started.size(), 2u);  // both rooms at once
    const std::string state = "qelo/hall/state";
    hub.finished(0, answered(), 0);
    EXPECT_EQ(broker.last(state),
              "{\"power\":\"Power ON\",\"power_code\":\"00\",\"lamp_hours\":1234,\"input\":\"Computer\","
              "\"reversal\":\"Normally\",\"time\":\"2026-01-01T00:00:00.000Z\"}");
    for (int poll = 1; poll < kPublishEvery; ++poll) hub.finished(0, answered(), poll * 5000);
    EXPECT_EQ(broker.count(state), 1);
    hub.finished(0, answered(), 50000);
    EXPECT_EQ(broker.count(state), 2);
    hub.finished(0, answered("80"), 55000);
    EXPECT_EQ(broker.count(state), 3);
    EXPECT_NE(broker.last(state).find("\"power\":\"Stand by\",\"power_code\":\"80\""), std::string::npos);
}

TEST_F(HubTest, AvailabilityFollowsTheAnswers) {
    const std::string hall = "qelo/hall/availability";
    const std::string lab = "qelo/lab/availability";
    hub.run(0);
    hub.finished(0, answered(), 0);
    hub.finished(1, answered(), 0);
    EXPECT_EQ(broker.last(hall), "online");
    // Silence gets a second chance; a failed line does not. A wrong answer
    // is no answer.
    hub.finished(0, failed(qelo::ctl::kNoReply), 5000);
    EXPECT_EQ(broker.count(hall), 1);
    Conversation garbled = answered("00", "12x4");
    hub.finished(0, garbled, 10000);
    EXPECT_EQ(broker.last(hall), "offline");
    hub.finished(1, failed(qelo::ctl::kPortFailed), 5000);
    EXPECT_EQ(broker.last(lab), "offline");
    hub.finished(0, answered(), 15000);
    EXPECT_EQ(broker.last(hall), "online");
    EXPECT_EQ(broker.last(lab), "offline");
    // A broker that restarted hears it all again.
    broker.published.clear();
    hub.connected();
    EXPECT_EQ(broker.last("qelo/bridge/availability"), "online");
    EXPECT_EQ(broker.last(hall), "online");
    EXPECT_EQ(broker.last(lab), "offline");
    EXPECT_EQ(broker.count("qelo/hall/state"), 1);
}

TEST_F(HubTest, CommandsGoFirstAndOnlyActionsReachTheLine) {
    hub.run(0);
    lines.started.clear();
    // Arrives during a poll: it waits, then goes before the next poll.
    hub.message("qelo/hall/command", "power off\n", false, 100);
    EXPECT_TRUE(lines.started.empty());
    hub.finished(0, answered(), 200);
    ASSERT_EQ(lines.started.size(), 1u);
    EXPECT_EQ(lines.started[0].second.at(0).code, "C02");
    Conversation done;
    done.time = "2026-01-01T00:00:00.300Z";
    done.exchanges = {{lines.started[0].second.at(0), {}}};
    done.exchanges[0].second.acknowledged = true;
    hub.finished(0, done, 300);
    EXPECT_EQ(broker.last("qelo/hall/result"),
              "{\"time\":\"2026-01-01T00:00:00.300Z\",\"device\":\"/dev/pts/1\",\"action\":\"power off\",\"code\":"
              "\"C02\",\"sent\":null,\"reply\":null,\"acknowledged\":true,\"words\":null,\"hours\":null,\"ms\":null,"
              "\"discarded\":null,\"ok\":true}");
    EXPECT_EQ(lines.started.size(), 2u);  // what it changed is polled at once
    EXPECT_EQ(lines.started[1].second.size(), 4u);

    lines.started.clear();
    for (const char* payload : {"C02", "cr0", "power off; reboot", " ", "nope"}) {
        hub.message("qelo/lab/command", payload, false, 400);
        EXPECT_NE(broker.last("qelo/lab/result").find("\"ok\":false,\"error\":\"not an action"), std::string::npos)
            << payload;
    }
    hub.message("qelo/other/command", "power on", false, 400);
    hub.message("qelo/hall/state", "power on", false, 400);
    // A retained command would run at every start: never, said once in the
    // log; clearing it asks nothing.
    for (const char* payload : {"power off", "\x01\xff", "power off"}) {
        hub.message("qelo/lab/command", payload, true, 400);
        EXPECT_NE(broker.last("qelo/lab/result").find("\"ok\":false,\"error\":\"a retained command is never run"),
                  std::string::npos);
    }
    const auto results = broker.count("qelo/lab/result");
    hub.message("qelo/lab/command", "", false, 400);
    EXPECT_EQ(broker.count("qelo/lab/result"), results);
    EXPECT_TRUE(lines.started.empty());
    EXPECT_EQ(std::count_if(said.begin(), said.end(), [](auto& l) { return l.find("retained") != l.npos; }), 1);

    // A busy room keeps a bounded queue.
    for (std::size_t k = 0; k <= kMostWaiting + 1; ++k) hub.message("qelo/hall/command", "vol +", false, 500);
    EXPECT_NE(broker.last("qelo/hall/result").find("commands are waiting already"), std::string::npos);
}

TEST(Discovery, OneDeviceWithItsEntitiesOnTheAvailabilityTopics) {
    Settings s = twoRooms();
    s.discovery = "homeassistant";
    const auto messages = discovery(s, s.rooms[0]);
    std::vector<std::string> topics;
    for (const auto& [topic, payload] : messages) {
        topics.push_back(topic);
        EXPECT_NE(payload.find("\"identifiers\":[\"qelo_hall\"]"), std::string::npos) << topic;
        EXPECT_NE(payload.find("{\"topic\":\"qelo/bridge/availability\"},{\"topic\":\"qelo/hall/availability\"}"),
                  std::string::npos)
            << topic;
    }
    EXPECT_EQ(topics, (std::vector<std::string>{"homeassistant/switch/qelo_hall_power/config",
                                                "homeassistant/sensor/qelo_hall_status/config",
                                                "homeassistant/sensor/qelo_hall_lamp_hours/config",
                                                "homeassistant/select/qelo_hall_input/config",
                                                "homeassistant/sensor/qelo_hall_mode/config",
                                                "homeassistant/sensor/qelo_hall_reversal/config"}));
    for (const auto& [topic, payload] : messages) {
        EXPECT_NE(payload.find("\"qos\":1,"), std::string::npos) << topic;
        EXPECT_NE(payload.find("\"origin\":{\"name\":\"qelo-bridge\",\"sw_version\":\""), std::string::npos);
    }
    EXPECT_NE(messages[2].second.find("\"unit_of_measurement\":\"h\""), std::string::npos);
    EXPECT_NE(messages[2].second.find("\"state_class\":\"total_increasing\""), std::string::npos);
    // MCI is no option: the select shows none rather than an invalid one.
    EXPECT_NE(messages[3].second.find("value_json.input in ['Computer', 'Video'] else 'None'"), std::string::npos);

    // No two bridges' devices share an id, whatever their prefixes.
    const std::pair<const char*, const char*> places[] = {
        {"a", "b_c"}, {"a/b", "c"}, {"a_b", "c"}, {"a-b", "c"}, {"a-sb", "c"}, {"a/-b", "c"}, {"a-/b", "c"},
        {"a/_b", "c"}, {"a_/b", "c"}, {"_a/sb", "c"}};
    std::set<std::string> ids;
    for (const auto& [topic, room] : places) ids.insert(deviceId(topic, room));
    EXPECT_EQ(ids.size(), std::size(places));
}

TEST(Birth, ADashboardThatStartedHearsEveryRoomAgainSpreadOverASecond) {
    FakeBroker broker;
    FakeLines lines;
    Settings s = twoRooms();
    s.discovery = "homeassistant";
    Hub hub(s, broker, lines, [](const std::string&) {});
    hub.connected();
    hub.run(0);
    hub.finished(0, answered(), 0);
    hub.finished(1, answered(), 0);
    broker.published.clear();
    hub.message("homeassistant/status", "online", true, 100);  // kept by the broker: connecting said it all
    hub.message("homeassistant/status", "offline", false, 100);
    EXPECT_TRUE(broker.published.empty());

    hub.message("homeassistant/status", "online\n", false, 1000);
    EXPECT_EQ(broker.count("qelo/hall/state"), 1);
    EXPECT_EQ(broker.count("qelo/lab/state"), 0);
    EXPECT_EQ(hub.run(1200), 1000 + kSayAgainSpreadMs / 2);
    hub.run(1500);
    for (const std::string room : {"hall", "lab"}) {
        EXPECT_EQ(std::count_if(broker.published.begin(), broker.published.end(),
                                [&](auto& p) { return p.first.find("qelo_" + room + "_") != std::string::npos; }),
                  6);
        EXPECT_EQ(broker.count("qelo/" + room + "/state"), 1);
        EXPECT_EQ(broker.last("qelo/" + room + "/availability"), "online");
    }
    EXPECT_EQ(broker.last("qelo/bridge/availability"), "online");
}
