#include "ctl/cli.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <utility>

#include "ctl/runner.h"
#include "link/protocol.h"

namespace qelo::ctl {

namespace {

bool isAlnum(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }
char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }
char upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

// The words of a name. Blanks and underscores separate; a hyphen separates
// inside a word ("a-image") but stands for minus anywhere else ("vol -",
// "vol-"); "+" is a word of its own.
std::vector<std::string> wordsOf(std::string_view s) {
    std::vector<std::string> words;
    std::string current;
    auto end = [&] {
        if (!current.empty()) words.push_back(std::move(current));
        current.clear();
    };
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == ' ' || c == '\t' || c == '_') {
            end();
        } else if (c == '-') {
            const bool inner = i > 0 && isAlnum(s[i - 1]) && i + 1 < s.size() && isAlnum(s[i + 1]);
            end();
            if (!inner) words.emplace_back("-");
        } else if (c == '+') {
            end();
            words.emplace_back("+");
        } else {
            current.push_back(lower(c));
        }
    }
    end();
    return words;
}

std::string join(const std::vector<std::string>& words, std::string_view sep) {
    std::string out;
    for (const auto& w : words) {
        if (!out.empty()) out += sep;
        out += w;
    }
    return out;
}

std::string keyOf(std::string_view name) { return join(wordsOf(name), " "); }

// The cursor pad's captions are arrows; scripts name them in words.
const char* arrowWord(std::string_view caption) {
    static constexpr std::pair<const char*, const char*> kArrows[] = {
        {link::kArrowUp, "up"}, {link::kArrowDown, "down"}, {link::kArrowRight, "right"}, {link::kArrowLeft, "left"}};
    for (auto [glyph, word] : kArrows)
        if (caption == glyph) return word;
    return nullptr;
}

// Buttons outside any framed group that repeat while held are the cursor pad.
std::string groupOf(const link::CatalogueEntry& e) {
    if (*e.group) return e.group;
    return e.sending == link::Sending::Held ? "cursor" : "";
}

struct Name {
    std::string key;
    std::string code;
};

const std::vector<Name>& names() {
    static const std::vector<Name> table = [] {
        std::vector<Name> t;
        for (const auto& e : link::catalogue()) {
            const std::string group = groupOf(e);
            std::vector<std::string> captions{e.caption};
            if (const char* word = arrowWord(e.caption)) captions.insert(captions.begin(), word);
            for (const auto& caption : captions) {
                t.push_back({keyOf(group.empty() ? caption : group + " " + caption), e.code});
                // The cursor pad's buttons are known by their captions alone.
                if (group == "cursor") t.push_back({keyOf(caption), e.code});
            }
        }
        return t;
    }();
    return table;
}

std::size_t longestName() {
    std::size_t most = 1;
    for (const auto& n : names())
        most = std::max<std::size_t>(most, std::count(n.key.begin(), n.key.end(), ' ') + 1);
    return most;
}

}  // namespace

bool parseNumber(std::string_view text, int& value, int least, int most) {
    long long n = 0;
    if (!cmdline::wholeNumber(text, n, least, most)) return false;
    value = static_cast<int>(n);
    return true;
}

namespace {

std::optional<Action> actionFor(const std::string& text) {
    std::optional<std::string> code = codeForName(text);
    if (!code && text.find(' ') == std::string::npos) code = rawCode(text);
    if (!code) return std::nullopt;
    return Action{*code, text, isQuery(*code)};
}

}  // namespace

std::optional<std::string> rawCode(std::string_view word) {
    if (word.size() != 3) return std::nullopt;
    std::string code;
    for (char c : word) code.push_back(upper(c));
    const auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    const auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
    if (link::findCode(code) || (code[0] == 'C' && hex(code[1]) && hex(code[2])) ||
        (code[0] == 'C' && code[1] == 'R' && digit(code[2])))
        return code;
    return std::nullopt;
}

std::optional<std::string> codeForName(std::string_view name) {
    const std::string key = keyOf(name);
    if (key.empty()) return std::nullopt;
    for (const auto& n : names())
        if (n.key == key) return n.code;
    return std::nullopt;
}

bool isQuery(std::string_view code) { return code.size() == 3 && code.starts_with("CR"); }

std::vector<Listed> listing() {
    std::vector<Listed> out;
    for (const auto& e : link::catalogue()) {
        const char* arrow = arrowWord(e.caption);
        const std::string caption = join(wordsOf(arrow ? arrow : e.caption), "-");
        const std::string group = join(wordsOf(groupOf(e)), "-");
        const char* kind = isQuery(e.code) ? "query" : e.sending == link::Sending::Held ? "held" : "click";
        out.push_back({group.empty() ? caption : group + " " + caption, e.code, kind});
    }
    return out;
}

std::string listingText() {
    std::size_t width = 0;
    const auto all = listing();
    for (const auto& l : all) width = std::max(width, l.name.size());
    std::string text;
    for (const auto& l : all) {
        text += l.code + "  " + l.name + std::string(width + 2 - l.name.size(), ' ') + l.kind + "\n";
    }
    return text;
}

namespace {

constexpr std::string_view kRawScheme = "tcp://";
constexpr std::string_view kTelnetScheme = "rfc2217://";

}  // namespace

bool isTcp(std::string_view device) { return device.starts_with(kRawScheme) || device.starts_with(kTelnetScheme); }

std::optional<TcpAddress> tcpAddress(std::string_view device, std::string& error) {
    TcpAddress a;
    a.telnet = device.starts_with(kTelnetScheme);
    const std::string scheme(a.telnet ? kTelnetScheme : kRawScheme);
    std::string_view rest = device.substr(scheme.size());
    std::string_view port;
    if (rest.starts_with('[')) {
        const auto close = rest.find(']');
        if (close == std::string_view::npos) {
            error = "no closing ] in " + std::string(device);
            return std::nullopt;
        }
        a.host = rest.substr(1, close - 1);
        rest.remove_prefix(close + 1);
        if (!rest.starts_with(':')) rest = {};
        port = rest.empty() ? rest : rest.substr(1);
    } else {
        const auto colon = rest.rfind(':');
        a.host = rest.substr(0, colon);
        port = colon == std::string_view::npos ? std::string_view{} : rest.substr(colon + 1);
        if (colon != std::string_view::npos && a.host.find(':') != std::string::npos) {
            error = "write an IPv6 address in brackets: " + scheme + "[" + a.host + "]:" + std::string(port);
            return std::nullopt;
        }
    }
    if (a.host.empty()) {
        error = std::string(device) + " has no host (" + scheme + "HOST:PORT)";
        return std::nullopt;
    }
    if (port.empty()) {
        error = std::string(device) + " has no port (" + scheme + "HOST:PORT)";
        return std::nullopt;
    }
    if (!parseNumber(port, a.port, 1, 65535)) {
        error = "the port of " + std::string(device) + " must be a number from 1 to 65535";
        return std::nullopt;
    }
    return a;
}

namespace {

constexpr cmdline::Row kRows[] = {
    {"device", "PATH",
     "the serial device to use; tcp://HOST:PORT reaches a serial device server in raw TCP, rfc2217://HOST:PORT "
     "one that speaks telnet with the COM port option; give it several times for several projectors",
     "--device needs the path of a serial device, tcp://HOST:PORT or rfc2217://HOST:PORT"},
    {"port", "N", "port N as the panel numbers it (default 1); may be repeated",
     "--port needs a port number from 1 to 99"},
    {"baud", "B", "line speed, 19200 (default) or 9600", "--baud must be 19200 or 9600"},
    {"timeout", "MS", "how long a query waits for its answer (default 500)",
     "--timeout needs a number of milliseconds from 1 to 3600000"},
    {"repeat", "N", "send each action N times (default 1)", "--repeat needs a count from 1 to 1000000"},
    {"interval", "MS", "time between repeated sends (default 100)",
     "--interval needs a number of milliseconds from 0 to 3600000"},
    {"watch", nullptr, "show the traffic on standard error, TXD and RXD lines"},
    {"raw", nullptr, "print replies as rendered on the traffic lines"},
    {"json", nullptr, "print one JSON object a line for every action sent"},
    {"require-ack", nullptr, "a control command that is not acknowledged fails (status 2)"},
    {"list", nullptr, "print every action with its code"},
    cmdline::helpRow(),
    cmdline::versionRow(),
};

// The device as a key, so that one device is not named twice.
std::string deviceKey(const std::string& device) {
    std::string error;
    if (auto a = isTcp(device) ? tcpAddress(device, error) : std::nullopt) {
        std::string host;
        for (char c : a->host) host.push_back(lower(c));
        return (a->telnet ? "rfc2217://" : "tcp://") + host + ":" + std::to_string(a->port);
    }
    return std::filesystem::path(device).lexically_normal().string();
}

}  // namespace

namespace {

// The options' values into o; an error, or empty.
std::string readOptions(const cmdline::Parsed& line, Options& o) {
    const struct {
        const char* name;
        int& target;
        int least, most;
    } numbers[] = {
        {"baud", o.baud, 1, 19200},
        {"timeout", o.timeoutMs, 1, 3'600'000},
        {"repeat", o.repeat, 1, 1'000'000},
        {"interval", o.intervalMs, 0, 3'600'000},
    };
    for (const auto& n : numbers) {
        const auto value = line.value(n.name);
        if (value && !parseNumber(*value, n.target, n.least, n.most)) return cmdline::needs(kRows, n.name);
    }
    if (o.baud != 19200 && o.baud != 9600) return cmdline::needs(kRows, "baud");
    for (const std::string& p : line.values("port")) {
        int port = 0;
        if (!parseNumber(p, port, 1, 99)) return cmdline::needs(kRows, "port");
        if (std::find(o.ports.begin(), o.ports.end(), port) != o.ports.end())
            return "port " + std::to_string(port) + " is given twice";
        o.ports.push_back(port);
    }
    std::vector<std::string> keys;
    for (const std::string& device : line.values("device")) {
        if (device.empty()) return cmdline::needs(kRows, "device");
        std::string error;
        if (isTcp(device) && !tcpAddress(device, error)) return error;
        const std::string key = deviceKey(device);
        if (std::find(keys.begin(), keys.end(), key) != keys.end()) return device + " is given twice";
        keys.push_back(key);
        o.devices.push_back(device);
    }
    o.help = line.isSet("help");
    o.version = line.isSet("version");
    o.watch = line.isSet("watch");
    o.raw = line.isSet("raw");
    o.json = line.isSet("json");
    o.requireAck = line.isSet("require-ack");
    o.list = line.isSet("list");
    return {};
}

// The actions the words name, into o; an error, or empty. The longest run of
// words that names an action wins.
std::string readActions(const std::vector<std::string>& words, Options& o) {
    const std::size_t most = longestName();
    auto startsAction = [&](std::size_t at) {
        for (std::size_t k = 1; k <= most && at + k <= words.size(); ++k) {
            std::vector<std::string> run(words.begin() + at, words.begin() + at + k);
            if (actionFor(join(run, " "))) return true;
        }
        return false;
    };
    for (std::size_t i = 0; i < words.size();) {
        std::optional<Action> found;
        std::size_t used = 0;
        for (std::size_t k = std::min(most, words.size() - i); k >= 1 && !found; --k) {
            std::vector<std::string> run(words.begin() + i, words.begin() + i + k);
            found = actionFor(join(run, " "));
            used = k;
        }
        if (!found) {
            // Name the words up to where a known action begins again, so a
            // misspelt two-word action is quoted whole.
            std::size_t j = i + 1;
            while (j < words.size() && !startsAction(j)) ++j;
            std::vector<std::string> bad(words.begin() + i, words.begin() + j);
            return "unknown action \"" + join(bad, " ") + "\" (qelo-ctl --list shows them all)";
        }
        o.actions.push_back(std::move(*found));
        i += used;
    }
    return {};
}

}  // namespace

std::span<const cmdline::Row> optionRows() { return kRows; }

ParseResult parseCommandLine(const std::vector<std::string>& args) {
    auto fail = [](std::string why) { return ParseResult{std::nullopt, std::move(why)}; };
    auto line = cmdline::parse(kRows, args);
    if (!line.parsed) return fail(line.error);
    Options o;
    if (std::string error = readOptions(*line.parsed, o); !error.empty()) return fail(error);
    const std::vector<std::string>& words = line.parsed->words();
    if (!o.ports.empty() && !o.devices.empty()) return fail("--device and --port cannot be used together");
    if (o.help || o.version) return ParseResult{std::move(o), {}};
    if (o.raw && o.json) return fail("--raw and --json cannot be used together");
    if (o.list) {
        if (!words.empty()) return fail("--list takes no actions");
        return ParseResult{std::move(o), {}};
    }
    if (words.empty()) return fail("no action given");
    if (std::string error = readActions(words, o); !error.empty()) return fail(error);
    return ParseResult{std::move(o), {}};
}

std::string usage(std::string_view program) {
    const std::string p(program);
    return "Usage: " + p + " [OPTION]... ACTION...\n" + "  or:  " + p + " --list\n";
}

std::string helpText(std::string_view program) {
    return usage(program) + R"(
Sends each ACTION to the projector in turn. An action is a panel button by
its group and caption ("power on", "audio-mute off", "vol +", "cursor up",
"status", "l-time"), in one word or several, or a raw code (C00, CR3).

Options:
)" + cmdline::optionsHelp(kRows) + R"(
A query prints its answer in words, one line each: L-TIME the lamp hours as
a number, a raw query code with no table its answer as rendered. A control
command prints nothing (with --raw, what came back) and waits at most )" + std::to_string(kSettleMs) + R"( ms
for its acknowledgement; when none comes, a line on standard error says so
and the run goes on (projectors need not acknowledge), unless --require-ack
is given. Whatever waits on the line
before a frame is sent is set aside, never taken for its answer; on a TCP
line the first frame waits until the line has been quiet for )" + std::to_string(kQuietMs) + R"( ms. An
answer must have the form its query asks for (STATUS and SETTING two
characters of their table, MODE one, L-TIME digits, a control command ACK),
each ending in CR. The first action that fails ends the run.

With several devices the actions run on all of them at once; each line of
output starts with its device and a colon, and the exit status is the worst
of them.

With --json each line is an object with the keys time (UTC, ISO 8601),
device, action, code, sent, reply, acknowledged (true or false for a control
command, null for a query), words, hours (L-TIME's answer as a number), ms
(from the send to the reply), discarded (what was set aside before the
send), ok and, when not ok, error.
Sent, reply and discarded carry the bytes as they travelled, one character
per byte (U+0000 to U+00FF); null where nothing was sent or came back.

Exit status:
  0  done
  1  bad usage
  2  no whole answer: a query got none, or one without its CR, within the
     time-out (with --require-ack, a control command no acknowledgement);
     or an answer to a query or a command ran to )" + std::to_string(kLongestReply) + R"( bytes without
     a CR
  3  the port could not be opened or written, or the server could not be
     reached or closed the connection (what it said last is quoted)
  4  an answer not of the form its query or command asks for
  5  standard output could not be written (full, closed, or a pipe nobody
     reads any more); the run stops there
)";
}

}  // namespace qelo::ctl
