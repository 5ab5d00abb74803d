#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "bridge/settings.h"
#include "ctl/cli.h"
#include "sim/options.h"

using namespace qelo::ctl;

namespace {

std::string codesOf(const std::vector<std::string>& args) {
    const ParseResult r = parseCommandLine(args);
    if (!r.options) return "error: " + r.error;
    std::string codes;
    for (const auto& a : r.options->actions) codes += (codes.empty() ? "" : " ") + a.code + (a.query ? "?" : "");
    return codes;
}

}  // namespace

TEST(Actions, SpellingsResolveToTheirCodes) {
    const struct {
        std::vector<std::string> args;
        std::string codes;
    } cases[] = {
        {{"power", "on"}, "C00"},
        {{"power-on"}, "C00"},
        {{"POWER ON"}, "C00"},
        {{"Power_On"}, "C00"},
        {{"audio-mute", "off"}, "C0C"},
        {{"audio", "mute", "off"}, "C0C"},
        {{"power-management", "off"}, "C2B"},
        {{"power", "management", "on"}, "C2A"},
        {{"on-start", "on"}, "C28"},
        {{"input-select", "analog"}, "C05"},
        // Minus is a hyphen: alone or at a word's end it is the caption.
        {{"vol", "+"}, "C09"},
        {{"vol+"}, "C09"},
        {{"vol", "-"}, "C0A"},
        {{"vol-"}, "C0A"},
        {{"zoom -"}, "C46"},
        {{"d.zoom", "-"}, "C31"},
        {{"up"}, "C3C"},
        {{"cursor-left"}, "C3B"},
        {{"select"}, "C3F"},
        {{"cursor", "select"}, "C3F"},
        {{"r-click"}, "C3E"},
        {{"display-clear"}, "C1E"},
        {{"display", "clear"}, "C1E"},
        {{"a-image"}, "C89"},
        {{"image"}, "C27"},
        {{"status"}, "CR0?"},
        {{"l-time"}, "CR3?"},
        // Raw codes: the catalogue's, and any of the two code forms.
        {{"c01"}, "C01"},
        {{"c0b"}, "C0B"},
        {{"CFF"}, "CFF"},
        {{"cr2"}, "CR2?"},
        // Several actions, one word or several each.
        {{"power", "on", "status", "vol", "-", "vol-", "mode"}, "C00 CR0? C0A C0A CR1?"},
        {{"--watch", "menu", "on", "--raw", "up", "select"}, "C1C C3C C3F"},
        // Unknown words are named up to where a known action begins.
        {{"power", "of", "status"}, "error: unknown action \"power of\" (qelo-ctl --list shows them all)"},
        {{"status", "vol", "x"}, "error: unknown action \"vol x\" (qelo-ctl --list shows them all)"},
        {{"C0G"}, "error: unknown action \"C0G\" (qelo-ctl --list shows them all)"},
        {{"CRA"}, "error: unknown action \"CRA\" (qelo-ctl --list shows them all)"},
        {{"power"}, "error: unknown action \"power\" (qelo-ctl --list shows them all)"},
    };
    for (const auto& c : cases) {
        std::string joined;
        for (const auto& a : c.args) joined += "[" + a + "]";
        EXPECT_EQ(codesOf(c.args), c.codes) << joined;
    }
}

TEST(Actions, EveryListedNameResolvesToItsOwnCode) {
    std::set<std::string> names;
    for (const auto& l : listing()) {
        EXPECT_TRUE(names.insert(l.name).second) << l.name;
        EXPECT_EQ(codeForName(l.name).value_or("none"), l.code) << l.name;
        EXPECT_EQ(rawCode(l.code).value_or("none"), l.code);
    }
    EXPECT_EQ(names.size(), 45u);
}

TEST(CommandLine, OptionsAndTheirFaults) {
    const struct {
        std::vector<std::string> args;
        std::string error;  // empty: accepted
    } cases[] = {
        {{"--device", "/dev/pts/3", "--baud", "9600", "--timeout=250", "status"}, ""},
        {{"--port", "2", "--repeat", "5", "--interval", "0", "vol +"}, ""},
        {{"--", "status"}, ""},
        {{}, "no action given"},
        {{"--list", "status"}, "--list takes no actions"},
        {{"--baud", "4800", "status"}, "--baud must be 19200 or 9600"},
        {{"--device", "/dev/x", "--port", "2", "status"}, "--device and --port cannot be used together"},
        {{"--port", "0", "status"}, "--port needs a port number from 1 to 99"},
        {{"--repeat", "0", "vol +"}, "--repeat needs a count from 1 to 1000000"},
        {{"--repeat", "-3", "vol +"}, "--repeat needs a count from 1 to 1000000"},
        {{"--timeout", "abc", "status"}, "--timeout needs a number of milliseconds from 1 to 3600000"},
        {{"--timeout", "99999999999", "status"}, "--timeout needs a number of milliseconds from 1 to 3600000"},
        {{"status", "--timeout"}, "--timeout needs a number of milliseconds from 1 to 3600000"},
        {{"--device"}, "--device needs the path of a serial device, tcp://HOST:PORT or rfc2217://HOST:PORT"},
        {{"--raw=yes", "status"}, "--raw takes no value"},
        {{"-raw=", "status"}, "-raw takes no value"},
        {{"-timeout", "5", "--timeout=", "status"}, "--timeout needs a number of milliseconds from 1 to 3600000"},
        {{"--timeout", "x", "--timeout", "5", "status"}, ""},
        {{"--frob", "status"}, "unknown option --frob"},
        {{"-x", "status"}, "unknown option -x"},
        {{"--interval", "+5", "vol +"}, "--interval needs a number of milliseconds from 0 to 3600000"},
        {{"--raw", "--json", "status"}, "--raw and --json cannot be used together"},
        // Addresses of serial device servers, and devices named twice.
        {{"--device", "tcp://[::1]:4001", "--device", "tcp://Room-12.example:1", "status"}, ""},
        {{"--device", "tcp://10.0.0.5", "status"}, "tcp://10.0.0.5 has no port (tcp://HOST:PORT)"},
        {{"--device", "tcp://10.0.0.5:", "status"}, "tcp://10.0.0.5: has no port (tcp://HOST:PORT)"},
        {{"--device", "rfc2217://[::1]", "status"}, "rfc2217://[::1] has no port (rfc2217://HOST:PORT)"},
        {{"--device", "rfc2217://h:1", "--device", "tcp://h:1", "status"}, ""},
        {{"--device", "tcp://:4001", "status"}, "tcp://:4001 has no host (tcp://HOST:PORT)"},
        {{"--device", "tcp://h:65536", "status"}, "the port of tcp://h:65536 must be a number from 1 to 65535"},
        {{"--device", "tcp://h:0", "status"}, "the port of tcp://h:0 must be a number from 1 to 65535"},
        {{"--device", "tcp://h:40x1", "status"}, "the port of tcp://h:40x1 must be a number from 1 to 65535"},
        {{"--device", "tcp://::1:4001", "status"}, "write an IPv6 address in brackets: tcp://[::1]:4001"},
        {{"--device", "tcp://[::1:4001", "status"}, "no closing ] in tcp://[::1:4001"},
        {{"--device", "tcp://H:1", "--device", "tcp://h:1", "status"}, "tcp://h:1 is given twice"},
        {{"--device", "/dev/pts/3", "--device", "/dev//pts/./3", "status"}, "/dev//pts/./3 is given twice"},
        {{"--port", "2", "--port", "2", "status"}, "port 2 is given twice"},
    };
    for (const auto& c : cases) {
        const ParseResult r = parseCommandLine(c.args);
        EXPECT_EQ(r.error, c.error) << (c.args.empty() ? "(none)" : c.args[0]);
        EXPECT_EQ(r.options.has_value(), c.error.empty());
    }
    const Options o = *parseCommandLine({"--device", "/dev/pts/3", "--baud", "9600", "--timeout=9", "-timeout=250",
                                         "--repeat", "4", "--interval", "30", "--raw", "status"})
                           .options;
    EXPECT_EQ(o.devices, std::vector<std::string>{"/dev/pts/3"});
    EXPECT_EQ(o.baud, 9600);
    EXPECT_EQ(o.timeoutMs, 250);
    EXPECT_EQ(o.repeat, 4);
    EXPECT_EQ(o.intervalMs, 30);
    EXPECT_TRUE(o.raw);
    EXPECT_FALSE(o.watch);
}

// The shell completes exactly the options the programs take.
TEST(CommandLine, CompletionFilesNameEveryOptionAndNoOther) {
    const std::pair<const char*, std::span<const qelo::cmdline::Row>> programs[] = {
        {"qelo-ctl", optionRows()},
        {"qelo-projector-sim", qelo::sim::optionRows()},
        {"qelo-bridge", qelo::bridge::optionRows()}};
    for (const auto& [program, rows] : programs) {
        std::ifstream file(std::string(QELO_COMPLETION_DIR "/") + program);
        ASSERT_TRUE(file) << program;
        std::stringstream text;
        text << file.rdbuf();
        // The list offered after a dash: compgen -W '--a --b ...'.
        const std::string s = text.str();
        const auto from = s.find("compgen -W '--");
        ASSERT_NE(from, std::string::npos) << program;
        const std::string list = s.substr(from, s.find('\'', from + 12) - from);
        std::set<std::string> completed, taken;
        const std::regex option("--[a-z][a-z-]*");
        for (auto it = std::sregex_iterator(list.begin(), list.end(), option); it != std::sregex_iterator(); ++it)
            completed.insert(it->str());
        for (const auto& row : rows) taken.insert(std::string("--") + row.name);
        EXPECT_EQ(completed, taken) << program;
    }
}
