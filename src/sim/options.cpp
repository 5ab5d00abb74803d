#include "sim/options.h"

#include <algorithm>
#include <climits>
#include <functional>
#include <iterator>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace qelo::sim {

namespace {

bool parseMillis(std::string_view text, Millis& value) {
    // Over thirty years, and far from overflowing the clock in microseconds.
    constexpr long long kLongest = 1'000'000'000'000;
    long long ms = 0;
    if (!cmdline::wholeNumber(text, ms, 0, kLongest)) return false;
    value = Millis{ms};
    return true;
}

// "on", "off", or nothing at all (which means on).
bool parseSwitch(std::string_view text, bool& value) {
    if (text.empty() || text == "on" || text == "1") {
        value = true;
        return true;
    }
    if (text == "off" || text == "0") {
        value = false;
        return true;
    }
    return false;
}

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
        if (i > start) out.push_back(line.substr(start, i - start));
    }
    return out;
}

// A run-time command: what is wrong with its argument, or nothing; one that
// answers sets the result.
using Run = std::string (*)(Projector& p, Time now, std::string_view arg, CommandResult& result);

template <void (Projector::*set)(Time, bool)>
std::string onOff(Projector& p, Time now, std::string_view arg, CommandResult&) {
    bool on = false;
    if (!parseSwitch(arg, on)) return "say on or off";
    (p.*set)(now, on);
    return {};
}

template <void (Projector::*set)(Time, Millis)>
std::string millis(Projector& p, Time now, std::string_view arg, CommandResult&) {
    Millis ms{};
    if (!parseMillis(arg, ms)) return "needs milliseconds";
    (p.*set)(now, ms);
    return {};
}

std::string helpReply();

struct Command {
    const char* name;
    const char* argument;  // as the usage spells it; nullptr: the command takes none
    Run run;
};

// In the order the usage and the help reply list them.
constexpr Command kCommands[] = {
    {"silent", "[on|off]", onOff<&Projector::setSilent>},
    {"garbage", "[on|off]", onOff<&Projector::setGarbage>},
    {"split", "MS", millis<&Projector::setSplit>},
    {"chatter", "MS", millis<&Projector::setChatter>},
    {"hangup", nullptr, [](Projector& p, Time now, std::string_view, CommandResult&) -> std::string {
         p.hangUp(now);
         return {};
     }},
    {"hangup-after", "N", [](Projector& p, Time now, std::string_view arg, CommandResult&) -> std::string {
         long long n = 0;
         if (!cmdline::wholeNumber(arg, n, 0, LONG_MAX)) return "needs a number of frames";
         p.setHangupAfter(now, n);
         return {};
     }},
    {"state", "XX", [](Projector& p, Time now, std::string_view arg, CommandResult&) -> std::string {
         return p.forceState(now, arg) ? "" : "unknown power state";
     }},
    {"mode", "D", [](Projector& p, Time now, std::string_view arg, CommandResult&) -> std::string {
         return arg.size() == 1 && p.setMode(now, arg[0]) ? "" : "mode is 1, 2 or 3";
     }},
    {"reversal", "XX", [](Projector& p, Time now, std::string_view arg, CommandResult&) -> std::string {
         return p.setReversal(now, arg) ? "" : "reversal is 11, 10, 01 or 00";
     }},
    {"hours", "N", [](Projector& p, Time now, std::string_view arg, CommandResult&) -> std::string {
         double h = 0;
         if (!cmdline::decimalNumber(arg, h) || h < 0) return "needs a number of hours";
         p.setLampHours(now, h);
         return {};
     }},
    {"delay", "MS", millis<&Projector::setReplyDelay>},
    {"status", nullptr, [](Projector& p, Time now, std::string_view, CommandResult& result) -> std::string {
         result.message = "status: " + describe(p, now);
         return {};
     }},
    {"help", nullptr, [](Projector&, Time, std::string_view, CommandResult& result) -> std::string {
         result.message = helpReply();
         return {};
     }},
    {"quit", nullptr, [](Projector&, Time, std::string_view, CommandResult& result) -> std::string {
         result.quit = true;
         return {};
     }},
};

std::string spelling(const Command& c) { return c.argument ? c.name + std::string(" ") + c.argument : c.name; }

// Every command but help itself.
std::string helpReply() {
    std::string text = "commands:";
    for (const Command& c : kCommands)
        if (c.name != std::string_view("help")) text += (text.back() == ':' ? " " : ", ") + spelling(c);
    return text;
}

// Four a line, in columns this wide, the last one unpadded.
std::string commandGrid() {
    constexpr std::size_t kWidths[] = {20, 20, 12};
    std::string text;
    std::size_t column = 0;
    for (const Command& c : kCommands) {
        if (column == 0) text += "  ";
        text += spelling(c);
        if (column < std::size(kWidths) && &c != std::end(kCommands) - 1) {
            text += std::string(kWidths[column] - std::min(kWidths[column] - 1, spelling(c).size()), ' ');
            ++column;
        } else {
            text += "\n";
            column = 0;
        }
    }
    return text;
}

}  // namespace

namespace {

constexpr cmdline::Row kRows[] = {
    {"baud", "N", "line speed; answers leave no faster than N/10 bytes a second (default 19200)",
     "--baud needs a positive baud rate"},
    {"reply-delay", "MS", "time from a frame's CR to its answer (default 10)", "--reply-delay needs a number of milliseconds"},
    {"countdown", "MS", "length of the count-down (default 10000)", "--countdown needs a number of milliseconds"},
    {"cooldown", "MS", "length of the cooling down (default 10000)", "--cooldown needs a number of milliseconds"},
    {"hours", "N", "lamp hours at start (default 0)", "--hours needs a number of hours"},
    {"time-scale", "X", "lamp hours run X times faster than real time; 3600 makes a second an hour (default 1)",
     "--time-scale needs a positive factor"},
    {"state", "XX", "start in power state XX (any CR0 code, e.g. 88)",
     "--state needs a power state (80, 40, 00, 20, 10, 88, 08, 24, 04, 28, 02)"},
    {"mode", "D", "start in input mode D (1, 2 or 3; default 1)", "--mode needs an input mode (1, 2, 3)"},
    {"reversal", "XX", "picture reversal (11, 10, 01 or 00; default 11)",
     "--reversal needs a reversal setting (11, 10, 01, 00)"},
    {"listen", "[HOST:]PORT",
     "listen on TCP instead of a serial line; HOST is 127.0.0.1 unless given (0.0.0.0 for every interface)",
     "--listen needs a port, or HOST:PORT (e.g. 127.0.0.1:4001)"},
    {"idle-timeout", "S",
     "with --listen, let a client go after S seconds without a byte from it, so that the next can connect; 0 never "
     "(default 60)",
     "--idle-timeout needs a number of seconds"},
    {"silent", nullptr, "never answer nor talk unasked (commands still take effect)", nullptr, 0, "Faults:"},
    {"garbage", nullptr, "answer every frame with random bytes instead, always with a control character and a "
     "byte above 127"},
    {"split", "MS", "send answers one byte at a time, MS apart", "--split needs a number of milliseconds"},
    {"chatter", "MS", "talk unasked every MS: the power status and CR", "--chatter needs a number of milliseconds"},
    {"hangup-after", "N", "hang up the line on the Nth frame (it gets no answer)",
     "--hangup-after needs a number of frames"},
    {"seed", "N", "seed of the garbage (default 1)", "--seed needs a number"},
    {"quiet", nullptr, "no log; replies to commands on standard input still appear", nullptr, 0, "Other:"},
    {"exit-on-eof", nullptr, "end when standard input ends (by default an ended standard input is just no longer "
     "read)"},
    cmdline::helpRow("this text"),
    cmdline::versionRow("the version"),
};

}  // namespace

std::span<const cmdline::Row> optionRows() { return kRows; }

std::string usage(std::string_view program) {
    std::string text = "Usage: " + std::string(program) + " [OPTION]... [DEVICE]\n\n";
    text += R"(A simulated projector on a serial line.

Without DEVICE it makes a pseudo-terminal and prints the path of the panel's
side as the first line of standard output, exactly "PTY /dev/pts/N". Point the
panel at that path. With DEVICE (e.g. /dev/ttyUSB0) it works the device in raw
mode at --baud instead and prints "DEVICE <path>" as the first line. With
--listen it waits for TCP connections instead, as a serial device server does,
and prints "TCP HOST:PORT" (port 0 picks a free port, and the line tells
which); it serves one connection at a time, turns others away while busy, and
lets a client go that has said nothing for --idle-timeout seconds.

The projector reads frames of three characters and CR and answers:
  CR0   power status, two characters and CR: 80 standby, 40 count-down,
        00 on, 20 cooling down, 04 power management, 24 power-management
        cooling, and the failure states 10, 88, 08, 28, 02 (only when forced
        by --state or the state command)
  CR1   input mode, one character and CR: 1 computer (ANALOG), 2, 3 video
  CR3   lamp hours, four digits and CR (0000 to 9999)
  CR4   picture reversal, two characters and CR: 11 normal, 10, 01, 00
  Control commands the panel knows are acknowledged with ACK CR (bytes 06 0D)
  once carried out. POWER ON (C00) in standby starts the count-down, then the
  projector is on; POWER OFF (C02) when on starts the cooling, then standby.
  POWER MANAGEMENT ON (C2A) when on turns the lamp off: power-management
  cooling (24) for the cooling time, then power management (04). From 04,
  POWER ON or POWER MANAGEMENT OFF (C2B) starts the count-down, POWER OFF
  goes to standby. ANALOG (C05) sets mode 1, VIDEO (C06) mode 3.
  No answer at all: to control commands while counting down or cooling down
  (ignored), in a failure state (refused), to unknown codes and to malformed
  frames. Queries are answered in every state. The lamp hours grow during the
  count-down and while on.

Options (MS is milliseconds; --name=VALUE works too):
)" + cmdline::optionsHelp(kRows) + R"(
Commands on standard input, one a line, at any time:
)" + commandGrid() + R"(Switches without on/off mean on; split, chatter 0 switch them off.

Log (standard error), one line per event, each starting with the local time
HH:MM:SS.mmm and a blank:
  rx "CR0\r" query CR0
  rx "C00\r" accepted C00 (POWER ON)
  rx "C02\r" ignored C02 (POWER OFF), busy in state 40 (Count down)
  rx "C0\r" malformed, 3 bytes
  tx "80\r" answer CR0
  tx "\x06\r" ack C00
  state 80 -> 40 (Count down)
Bytes are quoted with \r, \n, \", \\ and \xNN escapes.

On exit (SIGINT, SIGTERM, SIGHUP, "quit", after a hang-up) standard output
gets the last line:
  frames received N, malformed frames N, answers sent N, unasked sent N
Frames received counts well-formed frames only. Exit status: 0, or 1 when the
command line is wrong or the line failed.
)";
    return text;
}

std::optional<ListenAddress> listenAddress(std::string_view text) {
    ListenAddress a;
    std::string_view port = text;
    if (text.starts_with('[')) {
        const auto close = text.find("]:");
        if (close == std::string_view::npos) return std::nullopt;
        a.host = text.substr(1, close - 1);
        port = text.substr(close + 2);
    } else if (const auto colon = text.rfind(':'); colon != std::string_view::npos) {
        a.host = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (a.host.find(':') != std::string::npos) return std::nullopt;
    }
    long long n = 0;
    if (a.host.empty() || !cmdline::wholeNumber(port, n, 0, 65535)) return std::nullopt;
    a.port = static_cast<int>(n);
    return a;
}

ParseResult parseArgs(const std::vector<std::string>& args) {
    auto fail = [](std::string message) { return ParseResult{std::nullopt, std::move(message)}; };
    const auto line = cmdline::parse(kRows, args);
    if (!line.parsed) return fail(line.error);
    Options o;
    long long n = 0;
    double x = 0;
    // Each reader takes an option's last value and says whether it was good.
    const std::pair<const char*, std::function<bool(const std::string&)>> readers[] = {
        {"baud", [&](auto& v) { return cmdline::wholeNumber(v, n, 1, 4'000'000) && ((o.settings.baud = int(n)), true); }},
        {"reply-delay", [&](auto& v) { return parseMillis(v, o.settings.replyDelay); }},
        {"countdown", [&](auto& v) { return parseMillis(v, o.settings.countdown); }},
        {"cooldown", [&](auto& v) { return parseMillis(v, o.settings.cooldown); }},
        {"split", [&](auto& v) { return parseMillis(v, o.faults.split); }},
        {"chatter", [&](auto& v) { return parseMillis(v, o.faults.chatter); }},
        {"hours", [&](auto& v) { return cmdline::decimalNumber(v, x) && x >= 0 && ((o.settings.lampHours = x), true); }},
        {"time-scale", [&](auto& v) { return cmdline::decimalNumber(v, x) && x > 0 && ((o.settings.timeScale = x), true); }},
        {"state", [&](auto& v) { return Projector::validState(v) && ((o.settings.state = v), true); }},
        {"mode", [&](auto& v) { return v.size() == 1 && Projector::validMode(v[0]) && ((o.settings.mode = v[0]), true); }},
        {"reversal", [&](auto& v) { return Projector::validReversal(v) && ((o.settings.reversal = v), true); }},
        {"hangup-after",
         [&](auto& v) { return cmdline::wholeNumber(v, n, 0, LONG_MAX) && ((o.faults.hangupAfter = long(n)), true); }},
        {"seed",
         [&](auto& v) { return cmdline::wholeNumber(v, n, 0, 0xffffffffLL) && ((o.settings.seed = uint32_t(n)), true); }},
        {"listen", [&](auto& v) { return (o.listen = listenAddress(v)).has_value(); }},
        {"idle-timeout",
         [&](auto& v) { return cmdline::wholeNumber(v, n, 0, 86400 * 365) && ((o.idleTimeout = std::chrono::seconds(n)), true); }},
    };
    for (const auto& [name, read] : readers)
        if (auto v = line.parsed->value(name); v && !read(*v)) return fail(cmdline::needs(kRows, name));
    o.help = line.parsed->isSet("help");
    o.version = line.parsed->isSet("version");
    o.faults.silent = line.parsed->isSet("silent");
    o.faults.garbage = line.parsed->isSet("garbage");
    o.quiet = line.parsed->isSet("quiet");
    o.exitOnEof = line.parsed->isSet("exit-on-eof");

    const std::vector<std::string>& positional = line.parsed->words();
    if (positional.size() > 1) return fail("only one device, got " + positional[0] + " and " + positional[1]);
    if (!positional.empty()) o.device = positional[0];
    if (o.listen && !o.device.empty()) return fail("a device and --listen cannot be used together");
    return ParseResult{o, {}};
}

std::string describe(const Projector& p, Time now) {
    char hours[32];
    std::snprintf(hours, sizeof hours, "%.2f", p.lampHours(now));
    const Faults& f = p.faults();
    std::ostringstream out;
    out << "state " << p.state() << ", mode " << p.mode() << ", reversal " << p.reversal()
        << ", lamp " << hours << " h, silent " << (f.silent ? "on" : "off") << ", garbage "
        << (f.garbage ? "on" : "off") << ", split " << f.split.count() << " ms, chatter "
        << f.chatter.count() << " ms, answers waiting " << p.waitingAnswers();
    return out.str();
}

std::vector<CommandLines::Line> CommandLines::feed(std::string_view bytes) {
    constexpr std::size_t kShown = 64;
    std::vector<Line> lines;
    while (!bytes.empty()) {
        const std::size_t nl = bytes.find('\n');
        const std::string_view piece = bytes.substr(0, nl);
        const std::size_t keep = current_.length + piece.size() > kMaxLine ? kShown : kMaxLine;
        if (current_.text.size() < keep) current_.text += piece.substr(0, keep - current_.text.size());
        current_.length += piece.size();
        if (current_.overlong() && current_.text.size() > kShown) current_.text.resize(kShown);
        if (nl == std::string_view::npos) break;
        lines.push_back(std::move(current_));
        current_ = {};
        bytes.remove_prefix(nl + 1);
    }
    return lines;
}

CommandResult applyCommand(Projector& p, Time now, std::string_view line) {
    std::vector<std::string_view> w = words(line);
    if (w.empty() || w[0][0] == '#') return {};
    std::string_view cmd = w[0];
    std::string_view arg = w.size() > 1 ? w[1] : std::string_view{};
    auto bad = [&](std::string what) {
        return CommandResult{false, false, "bad command \"" + std::string(line) + "\": " + what};
    };
    if (w.size() > 2) return bad("too many words");

    const Command* c = std::find_if(std::begin(kCommands), std::end(kCommands),
                                    [&](const Command& row) { return cmd == row.name; });
    if (c == std::end(kCommands) || (!c->argument && !arg.empty())) return bad("unknown command (try help)");
    CommandResult result;
    if (std::string why = c->run(p, now, arg, result); !why.empty()) return bad(why);
    return result;
}

}  // namespace qelo::sim
