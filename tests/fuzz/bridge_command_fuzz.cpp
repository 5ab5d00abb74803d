// A room's command topic as a broker hands it over: any payload, retained or
// not, on any room's topic or none, with conversations ending, time going by
// and a dashboard starting in between.
#include <cstddef>
#include <cstdint>
#include <string>

#include "bridge/hub.h"
#include "ctl/cli.h"
#include "fuzz_invariants.h"
#include "fuzz_script.h"

using namespace qelo;
using namespace qelo::bridge;

namespace {

struct CountingBroker : bridge::Broker {
    std::size_t results = 0;
    void publish(const std::string& topic, const std::string& payload, bool) override {
        if (topic.ends_with("/result")) ++results;
        // Every payload is text a JSON parser or a dashboard takes.
        for (char c : payload)
            if (static_cast<unsigned char>(c) < 0x20) fuzz::broken("control byte published", payload);
    }
};

struct CheckedLines : bridge::Lines {
    std::size_t started = 0;
    void converse(std::size_t, const std::vector<ctl::Action>& actions) override {
        ++started;
        // Only the table's actions reach a line, never a raw code.
        for (const auto& a : actions)
            if (ctl::codeForName(a.name) != a.code || !link::findCode(a.code)) fuzz::broken("action", a.name);
    }
};

const char* const kTopics[] = {"qelo/hall/command", "qelo/lab/command", "qelo/else/command", "qelo/hall/state",
                               "homeassistant/status", "qelo//command"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Settings s;
    s.host = "localhost";
    s.discovery = "homeassistant";
    s.rooms = {{"hall", "/dev/ttyS0"}, {"lab", "tcp://127.0.0.1:1"}};
    CountingBroker broker;
    CheckedLines lines;
    Hub hub(s, broker, lines, [](const std::string&) {});
    fuzz::Script in{data, size};
    long long now = 0;
    hub.connected();
    while (in.more()) {
        const std::uint8_t op = in.byte();
        switch (op % 4) {
        case 0:
        case 1: {
            const char* topic = kTopics[((op >> 2) & 0x1f) % std::size(kTopics)];
            const bool retained = op & 0x80;
            const std::string payload = in.until('\0');
            const std::size_t results = broker.results, started = lines.started;
            hub.message(topic, payload, retained, now);
            // One result at most for each message; a retained one runs nothing.
            if (broker.results > results + 1) fuzz::broken("results for one message", payload);
            if (retained && lines.started != started && std::string(topic).ends_with("/command"))
                fuzz::broken("a retained command ran", payload);
            break;
        }
        case 2:
            hub.finished(op & 4 ? 1 : 0, Conversation{}, now);
            break;
        default:
            now += in.byte() * 37;
            hub.run(now);
        }
    }
    return 0;
}
