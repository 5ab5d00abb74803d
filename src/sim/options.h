#pragma once
// The simulator's command line and the run-time commands it reads from its
// standard input, kept apart from the program so they can be tested.

#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "qt/command_line.h"
#include "sim/projector.h"

namespace qelo::sim {

// Where to wait for TCP connections.
struct ListenAddress {
    std::string host = "127.0.0.1";  // loopback unless asked
    int port = 0;                    // 0: any free port
};

// "PORT", "HOST:PORT" or "[IPv6]:PORT".
std::optional<ListenAddress> listenAddress(std::string_view text);


struct Options {
    Settings settings;
    Faults faults;
    std::string device;  // empty: make a pseudo-terminal
    std::optional<ListenAddress> listen;
    // A TCP client that sends nothing for this long is let go; 0: never.
    std::chrono::seconds idleTimeout{60};
    bool quiet = false;
    bool exitOnEof = false;
    bool help = false;
    bool version = false;
};

struct ParseResult {
    std::optional<Options> options;
    std::string error;  // set when options is empty
};

// The options, for the help and for checks of the completion file.
std::span<const cmdline::Row> optionRows();

// args excludes the program name.
ParseResult parseArgs(const std::vector<std::string>& args);
std::string usage(std::string_view program);

struct CommandResult {
    bool ok = true;
    bool quit = false;
    std::string message;  // for the log; empty when there is nothing to say
};

// One line typed at run time, e.g. "silent on", "state 88", "split 20".
CommandResult applyCommand(Projector& projector, Time now, std::string_view line);

// Standard input cut into command lines. Whatever arrives, memory stays
// bounded and each byte is looked at once: a line longer than kMaxLine is
// not kept, only its start and its length.
class CommandLines {
public:
    static constexpr std::size_t kMaxLine = 1024;
    struct Line {
        std::string text;        // the whole line, or the start of an overlong one
        std::size_t length = 0;  // without the newline
        bool overlong() const { return length > kMaxLine; }
    };
    std::vector<Line> feed(std::string_view bytes);

private:
    Line current_;
};

// A one-line summary of the projector's state and faults.
std::string describe(const Projector& projector, Time now);

}  // namespace qelo::sim
