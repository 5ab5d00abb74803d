// qelo-bridge's command line and settings file: arguments cut at NUL bytes,
// then a file that every --config reads.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bridge/settings.h"
#include "fuzz_invariants.h"
#include "fuzz_script.h"

using namespace qelo;
using namespace qelo::bridge;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Script in{data, size};
    // Up to a byte 0x01: the arguments, cut at NUL bytes; after it, the file.
    const std::string line = in.until('\x01');
    std::vector<std::string> args;
    for (std::size_t start = 0; !line.empty() && start <= line.size();) {
        const auto cut = std::min(line.find('\0', start), line.size());
        args.push_back(line.substr(start, cut - start));
        start = cut + 1;
    }
    const std::string file = in.bytes(in.n);
    const FileReader read = [&](const std::string&, std::string&) -> std::optional<std::string> { return file; };

    const ParseResult r = parseCommandLine(args, read);
    if (!r.settings) {
        if (r.error.empty() || r.error.find('\n') != std::string::npos) fuzz::broken("the reason", r.error);
        return 0;
    }
    const Settings& s = *r.settings;
    if (s.help || s.version) return 0;
    // What the program goes on with holds what it promises.
    if (!finalProblem(s).empty()) fuzz::broken("accepted unfinished settings", file);
    if (!topicProblem(s.topic).empty()) fuzz::broken("topic", s.topic);
    if (!s.discovery.empty() && !topicProblem(s.discovery).empty()) fuzz::broken("discovery", s.discovery);
    if (!s.statusTopic().empty() && !topicProblem(s.statusTopic()).empty()) fuzz::broken("status", s.statusTopic());
    if (s.pollSeconds < 1 || s.pollSeconds > 3600) fuzz::broken("poll", std::to_string(s.pollSeconds));
    if (s.brokerPort() < 1 || s.brokerPort() > 65535) fuzz::broken("port", s.host);
    for (std::size_t i = 0; i < s.rooms.size(); ++i) {
        if (!roomNameProblem(s.rooms[i].name).empty() || s.rooms[i].device.empty())
            fuzz::broken("room", s.rooms[i].name);
        for (std::size_t j = 0; j < i; ++j)
            if (s.rooms[j].name == s.rooms[i].name) fuzz::broken("room twice", s.rooms[i].name);
    }
    return 0;
}
