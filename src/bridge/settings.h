#pragma once
// qelo-bridge's settings: its command line and its configuration file, which
// say the same things. No I/O here: the program reads the files.

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qelo::cmdline {
struct Row;
}

namespace qelo::bridge {

// What the program exits with.
enum ExitStatus { kDone = 0, kBadUsage = 1 };

struct Room {
    std::string name;    // a topic level of its own
    std::string device;  // as qelo-ctl --device takes it
};

struct Settings {
    std::string host;
    int port = 0;  // 0: the usual one, 1883, or 8883 with TLS
    std::string username;
    std::string passwordFile;
    std::string tlsCa;
    std::string tlsCert;  // a client certificate, for brokers that ask for one
    std::string tlsKey;
    std::string topic = "qelo";
    std::string discovery;  // the discovery prefix; empty: no discovery
    std::string discoveryStatus;  // where the dashboard says it started; empty: <discovery>/status
    int pollSeconds = 5;
    std::vector<Room> rooms;
    std::string configFile;
    bool help = false;
    bool version = false;

    int brokerPort() const { return port ? port : tlsCa.empty() ? 1883 : 8883; }
    // Empty when there is none to listen to.
    std::string statusTopic() const {
        return !discoveryStatus.empty() ? discoveryStatus : discovery.empty() ? std::string() : discovery + "/status";
    }
};

// The name of a room: letters, digits, '-' and '_', and not "bridge", whose
// level carries the bridge's own availability. Empty when good, else why not.
std::string roomNameProblem(std::string_view name);
// A topic prefix: levels as above, separated by '/'.
std::string topicProblem(std::string_view topic);

struct ParseResult {
    std::optional<Settings> settings;
    std::string error;  // one line, set when settings is empty
};

// Without the blanks around it: a file's line, a payload, a table's words.
std::string trimmed(std::string_view s);

// Reads a whole file, or says why it cannot.
using FileReader = std::function<std::optional<std::string>(const std::string& path, std::string& error)>;

// args excludes the program name. A --config file is read with read and
// applied first: the command line's settings win, its rooms come after the
// file's.
ParseResult parseCommandLine(const std::vector<std::string>& args, const FileReader& read);
// Applies a configuration file's text (key = value lines, and a [NAME]
// section per room with its device) to s; the error names the line.
std::string applyConfig(Settings& s, std::string_view text, std::string_view file);
// What must hold once everything is read; empty when it does.
std::string finalProblem(const Settings& s);

// The options, for the help and the shell's completion.
std::span<const cmdline::Row> optionRows();
std::string usage(std::string_view program);
std::string helpText(std::string_view program);

}  // namespace qelo::bridge
