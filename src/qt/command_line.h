#pragma once
// The command line of every program: a table of rows, one parse with one set
// of rules, help written from the rows, and messages in our own words.
//
// Rules: "--name value", "--name=value" and a single dash ("-name") all work;
// options may come anywhere; "--" ends them and a lone "-" is a word. An
// option given twice keeps every value in order, and a program that wants one
// takes the last.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qelo::cmdline {

struct Row {
    const char* name;               // long name, without dashes
    const char* value = nullptr;    // the value's name in the help; nullptr: a switch
    const char* description = "";  // one paragraph; the help wraps it
    // What a missing or bad value is told, whole. nullptr: "--name needs a value".
    const char* bad = nullptr;
    char shortName = 0;             // e.g. 'h' for -h
    const char* heading = nullptr;  // a line the help prints above this row
};

class Parsed {
public:
    bool isSet(std::string_view name) const { return !values(name).empty(); }
    // Every value given, in order; a switch has one empty value a time it is given.
    const std::vector<std::string>& values(std::string_view name) const;
    // The last value given.
    std::optional<std::string> value(std::string_view name) const;
    const std::vector<std::string>& words() const { return words_; }

private:
    friend struct Parser;
    std::vector<std::pair<std::string, std::vector<std::string>>> given_;
    std::vector<std::string> words_;
};

struct Result {
    std::optional<Parsed> parsed;
    std::string error;  // one line, set when parsed is empty
};

// The rows every program has; the simulator words them its own way.
constexpr Row helpRow(const char* description = "print this help") { return {"help", nullptr, description, nullptr, 'h'}; }
constexpr Row versionRow(const char* description = "print the version") { return {"version", nullptr, description}; }

// What --version prints: the program's name and the project's version.
std::string versionText(std::string_view program);
std::string_view version();

// args excludes the program name.
Result parse(std::span<const Row> rows, const std::vector<std::string>& args);

// What a row's missing or bad value is told.
std::string needs(std::span<const Row> rows, std::string_view name);

// The options' part of --help: one row a line or more, descriptions wrapped.
std::string optionsHelp(std::span<const Row> rows);

// The one number parser: decimal digits only (no sign, no blanks), within
// [least, most].
bool wholeNumber(std::string_view text, long long& value, long long least, long long most);
// A finite decimal number ("0.5", "12", "1e3"); the caller checks its range.
bool decimalNumber(std::string_view text, double& value);

}  // namespace qelo::cmdline
