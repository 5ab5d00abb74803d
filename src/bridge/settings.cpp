#include "bridge/settings.h"

#include <algorithm>
#include <set>

#include "ctl/cli.h"
#include "qt/command_line.h"

namespace qelo::bridge {

namespace {

bool isNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

constexpr std::size_t kLongestName = 64;

std::string levelProblem(std::string_view level) {
    if (level.empty()) return "is empty";
    if (level.size() > kLongestName) return "is longer than " + std::to_string(kLongestName) + " characters";
    if (!std::all_of(level.begin(), level.end(), isNameChar)) return "may hold only letters, digits, '-' and '_'";
    return {};
}

constexpr cmdline::Row kRows[] = {
    {"broker", "HOST:PORT", "the MQTT broker; the port is 1883, or 8883 with --tls-ca, when left out",
     "--broker needs HOST or HOST:PORT"},
    {"username", "U", "the user name on the broker"},
    {"password-file", "FILE", "the password on the broker: the first line of FILE (never on the command line)"},
    {"tls-ca", "FILE", "talk TLS to the broker, trusting the certificate authority in FILE"},
    {"tls-cert", "FILE", "with --tls-ca, show the broker the client certificate in FILE (PEM), for brokers that "
                         "ask for one"},
    {"tls-key", "FILE", "the private key of --tls-cert's certificate (PEM, without a passphrase)"},
    {"topic", "TOPIC", "the topic every room's topics start with (default qelo)"},
    {"discovery", "PREFIX", "publish Home Assistant discovery under PREFIX (usually homeassistant)"},
    {"discovery-status", "TOPIC",
     "publish discovery, availability and state again when Home Assistant says \"online\" on TOPIC (default "
     "PREFIX/status)"},
    {"poll", "SECONDS", "ask every projector for its state this often (default 5)",
     "--poll needs whole seconds from 1 to 3600"},
    {"device", "NAME=DEVICE",
     "a projector: the room NAME in its topics (letters, digits, '-' and '_'), and the DEVICE as qelo-ctl "
     "--device takes it, a serial device, tcp://HOST:PORT or rfc2217://HOST:PORT; give it once for every "
     "projector",
     "--device needs NAME=DEVICE"},
    {"config", "FILE", "read the settings from FILE first: key = value lines, and a [NAME] section with "
                       "device = DEVICE for every room; the command line's settings win"},
    cmdline::helpRow(),
    cmdline::versionRow(),
};

bool isSetting(std::string_view key) {
    for (const auto& row : kRows)
        if (key == row.name) return row.value && key != "config" && key != "device";
    return false;
}

std::string addRoom(Settings& s, const std::string& name, const std::string& device) {
    if (auto why = roomNameProblem(name); !why.empty()) return "the room name \"" + name + "\" " + why;
    if (device.empty()) return "the room \"" + name + "\" has no device";
    std::string error;
    if (ctl::isTcp(device) && !ctl::tcpAddress(device, error)) return error;
    for (const auto& r : s.rooms)
        if (r.name == name) return "the room name \"" + name + "\" is given twice";
    s.rooms.push_back({name, device});
    return {};
}

// One setting, from the command line or the file alike.
std::string set(Settings& s, const std::string& key, const std::string& value) {
    if (key == "broker") {
        std::string host = value;
        int port = 0;
        const auto colon = value.rfind(':');
        const bool bracketed = value.starts_with('[');
        if (colon != std::string::npos && (!bracketed || value[colon - 1] == ']')) {
            host = value.substr(0, colon);
            long long n = 0;
            if (!cmdline::wholeNumber(std::string_view(value).substr(colon + 1), n, 1, 65535))
                return "the broker's port in \"" + value + "\" is not a number from 1 to 65535";
            port = static_cast<int>(n);
        }
        if (bracketed) {
            if (!host.ends_with(']')) return "the broker \"" + value + "\" has no closing ']'";
            host = host.substr(1, host.size() - 2);
        }
        if (host.empty()) return "the broker \"" + value + "\" has no host";
        s.host = host;
        s.port = port;
    } else if (key == "username") {
        s.username = value;
    } else if (key == "password-file") {
        s.passwordFile = value;
    } else if (key == "tls-ca") {
        s.tlsCa = value;
    } else if (key == "tls-cert") {
        s.tlsCert = value;
    } else if (key == "tls-key") {
        s.tlsKey = value;
    } else if (key == "topic" || key == "discovery" || key == "discovery-status") {
        if (auto why = topicProblem(value); !why.empty())
            return (key == "topic"       ? "the topic \""
                    : key == "discovery" ? "the discovery prefix \""
                                         : "the discovery status topic \"") +
                   value + "\" " + why;
        (key == "topic" ? s.topic : key == "discovery" ? s.discovery : s.discoveryStatus) = value;
    } else if (key == "poll") {
        long long n = 0;
        if (!cmdline::wholeNumber(value, n, 1, 3600)) return cmdline::needs(kRows, "poll");
        s.pollSeconds = static_cast<int>(n);
    } else if (key == "device") {
        const auto eq = value.find('=');
        if (eq == std::string::npos) return cmdline::needs(kRows, "device") + ", not \"" + value + "\"";
        return addRoom(s, value.substr(0, eq), value.substr(eq + 1));
    } else {
        return "unknown setting \"" + key + "\"";
    }
    return {};
}

}  // namespace

std::string trimmed(std::string_view s) {
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string_view::npos) return {};
    return std::string(s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1));
}

std::string roomNameProblem(std::string_view name) {
    if (name == "bridge") return "is taken by the bridge's own topics";
    return levelProblem(name);
}

std::string topicProblem(std::string_view topic) {
    std::size_t start = 0;
    for (;;) {
        const auto slash = topic.find('/', start);
        if (auto why = levelProblem(topic.substr(start, slash - start)); !why.empty())
            return "has a level that " + why;
        if (slash == std::string_view::npos) return {};
        start = slash + 1;
    }
}

std::string applyConfig(Settings& s, std::string_view text, std::string_view file) {
    std::string room;  // the section being read
    std::string device;
    bool inRoom = false;
    auto endRoom = [&]() -> std::string { return inRoom ? addRoom(s, room, device) : std::string(); };
    int number = 0;
    for (std::size_t start = 0; start <= text.size(); ++number) {
        const auto end = std::min(text.find('\n', start), text.size());
        const std::string line = trimmed(text.substr(start, end - start));
        start = end + 1;
        const std::string where = std::string(file) + ":" + std::to_string(number + 1) + ": ";
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        if (line.front() == '[') {
            if (line.back() != ']') return where + "a section's name ends with ']'";
            if (auto why = endRoom(); !why.empty()) return where + why;
            room = trimmed(std::string_view(line).substr(1, line.size() - 2));
            device.clear();
            inRoom = true;
            continue;
        }
        const auto eq = line.find('=');
        if (eq == std::string::npos) return where + "expected key = value, not \"" + line + "\"";
        const std::string key = trimmed(std::string_view(line).substr(0, eq));
        const std::string value = trimmed(std::string_view(line).substr(eq + 1));
        if (inRoom) {
            if (key != "device") return where + "a room's section takes only device = DEVICE";
            device = value;
            continue;
        }
        if (!isSetting(key)) return where + "unknown setting \"" + key + "\"";
        if (auto why = set(s, key, value); !why.empty()) return where + why;
    }
    if (auto why = endRoom(); !why.empty()) return std::string(file) + ": " + why;
    return {};
}

std::string finalProblem(const Settings& s) {
    if (s.host.empty()) return "no --broker given";
    if (s.rooms.empty()) return "no --device given";
    if (s.tlsCert.empty() != s.tlsKey.empty()) return "--tls-cert and --tls-key go together";
    if (!s.tlsCert.empty() && s.tlsCa.empty()) return "--tls-cert needs --tls-ca";
    return {};
}

std::span<const cmdline::Row> optionRows() { return kRows; }

ParseResult parseCommandLine(const std::vector<std::string>& args, const FileReader& read) {
    // An argument may hold a line end; the reason stays one line.
    auto fail = [](std::string why) {
        for (std::size_t at = why.find_first_of("\r\n"); at != std::string::npos; at = why.find_first_of("\r\n", at))
            why.replace(at, 1, why[at] == '\n' ? "\\n" : "\\r");
        return ParseResult{std::nullopt, std::move(why)};
    };
    const auto line = cmdline::parse(kRows, args);
    if (!line.parsed) return fail(line.error);
    const cmdline::Parsed& p = *line.parsed;
    if (!p.words().empty()) return fail("unexpected \"" + p.words().front() + "\": every setting is an option");
    Settings s;
    s.help = p.isSet("help");
    s.version = p.isSet("version");
    if (s.help || s.version) return {s, {}};
    // The file first, so that the command line's settings win.
    if (auto file = p.value("config")) {
        s.configFile = *file;
        std::string error;
        const auto text = read(*file, error);
        if (!text) return fail(*file + ": " + error);
        if (auto why = applyConfig(s, *text, *file); !why.empty()) return fail(why);
    }
    for (const auto& row : kRows) {
        if (!isSetting(row.name)) continue;
        if (auto value = p.value(row.name))
            if (auto why = set(s, row.name, *value); !why.empty()) return fail(why);
    }
    for (const auto& device : p.values("device"))
        if (auto why = set(s, "device", device); !why.empty()) return fail(why);
    if (auto why = finalProblem(s); !why.empty()) return fail(why);
    return {s, {}};
}

std::string usage(std::string_view program) {
    const std::string p(program);
    return "Usage: " + p + " --broker HOST:PORT [OPTION]... --device NAME=DEVICE...\n" + "  or:  " + p +
           " --config FILE [OPTION]...\n";
}

std::string helpText(std::string_view program) {
    return usage(program) + R"(
Puts every projector of a building on an MQTT broker: each room's state and
availability, a command topic for each room, and Home Assistant discovery.

Options:
)" + cmdline::optionsHelp(kRows) + R"(
Topics, under TOPIC/NAME/: state (retained JSON: power, power_code,
lamp_hours, input, reversal, time), availability (retained, online or
offline), command (an action as qelo-ctl names it, e.g. "power on"), result
(the JSON line qelo-ctl --json prints for it); TOPIC/bridge/availability is
the bridge's own. A retained command is never run: it would run again at every
start; its result says so. When Home Assistant says "online" on its status
topic, discovery, availability and state are published again, spread over a
second, for brokers that give wildcard subscribers nothing retained.

At start the soft limit on open files is raised to the hard one: every room
takes a few descriptors.

SIGTERM, SIGINT and SIGHUP stop it cleanly, with exit status 0. Exit status 1:
bad settings; 3: an unexpected failure, reported on standard error.
)";
}

}  // namespace qelo::bridge
