#pragma once
// qelo-ctl's command line: options, action names, device addresses and exit
// statuses. No I/O here, so every way of spelling an action can be tested on
// its own.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "qt/command_line.h"

namespace qelo::ctl {

// What a script gets back.
enum ExitStatus {
    kDone = 0,
    kBadUsage = 1,
    kNoReply = 2,  // no whole answer within the time-out
    kPortFailed = 3,
    kUnexpected = 4,  // an answer not of the form its frame asks for
    kOutputLost = 5,  // standard output could not be written
};

struct Action {
    std::string code;  // three characters, upper case
    std::string name;  // as the user wrote it, for messages
    bool query = false;
};

// Upper-case code for a raw code: any catalogue code, "C" and two hex
// digits, or "CR" and one digit; in any case.
std::optional<std::string> rawCode(std::string_view word);

// The code of an action name ("power on", "audio-mute off", "vol +",
// "cursor up" or "up", "l-time", ...). Case, blanks, hyphens and
// underscores between words do not matter; a lone "-" is minus.
std::optional<std::string> codeForName(std::string_view name);

// A "CR" code waits for an answer; everything else is a control command.
bool isQuery(std::string_view code);

// Every action the panel has, in the catalogue's order.
struct Listed {
    std::string name;  // the spelling --list shows
    std::string code;
    const char* kind;  // "query", "held" or "click"
};
std::vector<Listed> listing();
std::string listingText();

// A whole number from text of decimal digits only (no sign, no blanks),
// within [least, most].
bool parseNumber(std::string_view text, int& value, int least, int most);

// A serial device server's address, from "tcp://HOST:PORT" (raw) or
// "rfc2217://HOST:PORT" (telnet with the COM port option).
struct TcpAddress {
    std::string host;  // without the brackets of an IPv6 literal
    int port = 0;
    bool telnet = false;
};

// Whether a --device value is a TCP address at all.
bool isTcp(std::string_view device);
// The host and port of a TCP address; error says what is wrong with it.
std::optional<TcpAddress> tcpAddress(std::string_view device, std::string& error);

struct Options {
    // Where to run: every --device as given, else every --port, else port 1.
    std::vector<std::string> devices;
    std::vector<int> ports;
    int baud = 19200;
    int timeoutMs = 500;
    int repeat = 1;
    int intervalMs = 100;
    bool watch = false;
    bool raw = false;
    bool json = false;
    bool requireAck = false;
    bool list = false;
    bool help = false;
    bool version = false;
    std::vector<Action> actions;
};

struct ParseResult {
    std::optional<Options> options;
    std::string error;  // one line, set when options is empty
};

// args excludes the program name. Options may come anywhere; the other
// words are actions, and the longest run of words that names an action wins,
// so "power on" and "power-on" are the same. Numbers are decimal digits only.
ParseResult parseCommandLine(const std::vector<std::string>& args);

// The options, for the help and for checks of the completion file.
std::span<const cmdline::Row> optionRows();

// The synopsis, and the synopsis with what each option does.
std::string usage(std::string_view program);
std::string helpText(std::string_view program);

}  // namespace qelo::ctl
