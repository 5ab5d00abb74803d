#include "bridge/settings.h"

#include <algorithm>
#include <set>

#include "ctl/cli.h"

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

std::string trim(std::string_view s) {
    const auto b = s.find_first_not_of(" \t\r");
    if (b == std::string_view::npos) return {};
    const auto e = s.find_last_not_of(" \t\r");
    return std::string(s.substr(b, e - b + 1));
}

struct OptionRow {
    const char* name;
    const char* value;  // nullptr: a switch
    const char* help;
    bool repeats = false;
};

constexpr OptionRow kOptions[] = {
    {"broker", "HOST:PORT", "the MQTT broker (port 1883, or 8883 with --tls-ca, when left out)"},
    {"username", "U", "the user name on the broker"},
    {"password-file", "FILE", "the password on the broker: the first line of FILE"},
    {"tls-ca", "FILE", "talk TLS to the broker, trusting the certificate authority in FILE"},
    {"topic", "TOPIC", "the topic every room's topics start with (default qelo)"},
    {"discovery", "PREFIX", "publish Home Assistant discovery under PREFIX (usually homeassistant)"},
    {"poll", "SECONDS", "ask every projector for its state this often (default 5, 1 to 3600)"},
    {"device", "NAME=DEVICE",
     "a projector: the room NAME in its topics, and the DEVICE as qelo-ctl --device takes it "
     "(a serial device path or tcp://HOST:PORT); repeat for every projector",
     true},
    {"config", "FILE", "read the settings from FILE first (key = value lines, a [NAME] section per room)"},
    {"help", nullptr, "show this help and exit"},
    {"version", nullptr, "show the version and exit"},
};

const OptionRow* findOption(std::string_view name) {
    for (const auto& row : kOptions)
        if (name == row.name) return &row;
    return nullptr;
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
            if (!ctl::parseNumber(std::string_view(value).substr(colon + 1), port, 1, 65535))
                return "the broker's port in \"" + value + "\" is not a number from 1 to 65535";
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
    } else if (key == "topic" || key == "discovery") {
        if (auto why = topicProblem(value); !why.empty()) return "the " + key + " topic \"" + value + "\" " + why;
        (key == "topic" ? s.topic : s.discovery) = value;
    } else if (key == "poll") {
        if (!ctl::parseNumber(value, s.pollSeconds, 1, 3600))
            return "--poll takes whole seconds from 1 to 3600, not \"" + value + "\"";
    } else if (key == "device") {
        const auto eq = value.find('=');
        if (eq == std::string::npos) return "--device takes NAME=DEVICE, not \"" + value + "\"";
        return addRoom(s, value.substr(0, eq), value.substr(eq + 1));
    } else {
        return "unknown setting \"" + key + "\"";
    }
    return {};
}

}  // namespace

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
        const std::string line = trim(text.substr(start, end - start));
        start = end + 1;
        const std::string where = std::string(file) + ":" + std::to_string(number + 1) + ": ";
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        if (line.front() == '[') {
            if (line.back() != ']') return where + "a section's name ends with ']'";
            if (auto why = endRoom(); !why.empty()) return where + why;
            room = trim(std::string_view(line).substr(1, line.size() - 2));
            device.clear();
            inRoom = true;
            continue;
        }
        const auto eq = line.find('=');
        if (eq == std::string::npos) return where + "expected key = value, not \"" + line + "\"";
        const std::string key = trim(std::string_view(line).substr(0, eq));
        const std::string value = trim(std::string_view(line).substr(eq + 1));
        if (inRoom) {
            if (key != "device") return where + "a room's section takes only device = DEVICE";
            device = value;
            continue;
        }
        const OptionRow* row = findOption(key);
        if (!row || !row->value || key == "config" || key == "device")
            return where + "unknown setting \"" + key + "\"";
        if (auto why = set(s, key, value); !why.empty()) return where + why;
    }
    if (auto why = endRoom(); !why.empty()) return std::string(file) + ": " + why;
    return {};
}

std::string finalProblem(const Settings& s) {
    if (s.host.empty()) return "no --broker given";
    if (s.rooms.empty()) return "no --device given";
    return {};
}

ParseResult parseCommandLine(const std::vector<std::string>& args, const FileReader& read) {
    Settings s;
    std::vector<std::pair<std::string, std::string>> given;
    std::set<std::string> seen;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!arg.starts_with("--")) return {std::nullopt, "unexpected \"" + arg + "\": every setting is an option"};
        const auto eq = arg.find('=');
        const std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
        const OptionRow* row = findOption(name);
        if (!row) return {std::nullopt, "unknown option \"--" + name + "\""};
        if (!row->repeats && !seen.insert(name).second) return {std::nullopt, "--" + name + " is given twice"};
        if (!row->value) {
            if (eq != std::string::npos) return {std::nullopt, "--" + name + " takes no value"};
            (name == "help" ? s.help : s.version) = true;
            continue;
        }
        std::string value;
        if (eq != std::string::npos)
            value = arg.substr(eq + 1);
        else if (i + 1 < args.size())
            value = args[++i];
        else
            return {std::nullopt, "--" + name + " needs " + row->value};
        if (name == "config")
            s.configFile = value;
        else
            given.emplace_back(name, value);
    }
    if (s.help || s.version) return {s, {}};
    // The file first, so that the command line's settings win.
    if (!s.configFile.empty()) {
        std::string error;
        const auto text = read(s.configFile, error);
        if (!text) return {std::nullopt, s.configFile + ": " + error};
        if (auto why = applyConfig(s, *text, s.configFile); !why.empty()) return {std::nullopt, why};
    }
    for (const auto& [key, value] : given)
        if (auto why = set(s, key, value); !why.empty()) return {std::nullopt, why};
    if (auto why = finalProblem(s); !why.empty()) return {std::nullopt, why};
    return {s, {}};
}

std::string usage(std::string_view program) {
    return "Usage: " + std::string(program) +
           " --broker HOST:PORT [--username U --password-file FILE] [--tls-ca FILE] [--topic TOPIC]\n"
           "       [--discovery PREFIX] [--poll SECONDS] --device NAME=DEVICE [--device NAME=DEVICE]...\n"
           "   or: " +
           std::string(program) + " --config FILE [options]\n";
}

std::string helpText(std::string_view program) {
    std::string out = usage(program);
    out +=
        "Puts every projector of a building on an MQTT broker: each room's state and availability, "
        "a command topic per room, and Home Assistant discovery.\n\nOptions:\n";
    for (const auto& row : kOptions) {
        std::string left = "  --" + std::string(row.name) + (row.value ? " " + std::string(row.value) : "");
        if (left.size() < 26)
            left.resize(26, ' ');
        else
            left += "\n" + std::string(26, ' ');
        out += left + row.help + "\n";
    }
    out +=
        "\nTopics, TOPIC/NAME/...: state (retained JSON), availability (online/offline), command (an action as\n"
        "qelo-ctl names it, e.g. \"power on\"), result (the JSON line qelo-ctl --json prints);\n"
        "TOPIC/bridge/availability for the bridge itself.\n"
        "\nStops cleanly on SIGTERM, SIGINT and SIGHUP (exit status 0); exit status 1: bad settings.\n";
    return out;
}

std::string versionText(std::string_view program) { return std::string(program) + " " + QELO_VERSION + "\n"; }

}  // namespace qelo::bridge
