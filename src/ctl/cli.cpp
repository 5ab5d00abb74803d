#include "ctl/cli.h"

#include <algorithm>
#include <cctype>
#include <utility>

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
        {"↑", "up"}, {"↓", "down"}, {"→", "right"}, {"←", "left"}};
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

bool parseNumber(const std::string& text, int& value) {
    // Nine digits keep it inside int.
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::stoi(text);
    return true;
}

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

ParseResult parseCommandLine(const std::vector<std::string>& args) {
    auto fail = [](std::string why) { return ParseResult{std::nullopt, std::move(why)}; };
    Options o;
    std::vector<std::string> words;
    bool portGiven = false;
    bool optionsEnded = false;

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        // A lone "-" is the minus of an adjustment, never an option.
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            words.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = arg;
        std::optional<std::string> inlineValue;
        if (const auto eq = arg.find('='); eq != std::string::npos && arg.starts_with("--")) {
            name = arg.substr(0, eq);
            inlineValue = arg.substr(eq + 1);
        }
        auto flag = [&](bool& target) {
            if (inlineValue) return false;
            target = true;
            return true;
        };
        auto value = [&](std::string& out) {
            if (inlineValue) {
                out = *inlineValue;
                return true;
            }
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            return true;
        };
        auto number = [&](int& out, int least, int most) {
            std::string text;
            return value(text) && parseNumber(text, out) && out >= least && out <= most;
        };

        if (name == "-h" || name == "--help") {
            if (!flag(o.help)) return fail(name + " takes no value");
        } else if (name == "--watch" || name == "--raw" || name == "--list") {
            bool& target = name == "--watch" ? o.watch : name == "--raw" ? o.raw : o.list;
            if (!flag(target)) return fail(name + " takes no value");
        } else if (name == "--device") {
            if (!value(o.device) || o.device.empty()) return fail("--device needs the path of a serial device");
        } else if (name == "--port") {
            if (!number(o.port, 1, 99)) return fail("--port needs a port number from 1 to 99");
            portGiven = true;
        } else if (name == "--baud") {
            if (!number(o.baud, 1, 999999999) || (o.baud != 19200 && o.baud != 9600))
                return fail("--baud must be 19200 or 9600");
        } else if (name == "--timeout") {
            if (!number(o.timeoutMs, 1, 3'600'000))
                return fail("--timeout needs a number of milliseconds from 1 to 3600000");
        } else if (name == "--repeat") {
            if (!number(o.repeat, 1, 1'000'000)) return fail("--repeat needs a count from 1 to 1000000");
        } else if (name == "--interval") {
            if (!number(o.intervalMs, 0, 3'600'000))
                return fail("--interval needs a number of milliseconds from 0 to 3600000");
        } else {
            return fail("unknown option " + arg);
        }
    }

    if (portGiven && !o.device.empty()) return fail("--device and --port cannot be used together");
    if (o.help) return ParseResult{std::move(o), {}};
    if (o.list) {
        if (!words.empty()) return fail("--list takes no actions");
        return ParseResult{std::move(o), {}};
    }
    if (words.empty()) return fail("no action given");

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
            return fail("unknown action \"" + join(bad, " ") + "\" (qelo-ctl --list shows them all)");
        }
        o.actions.push_back(std::move(*found));
        i += used;
    }
    return ParseResult{std::move(o), {}};
}

std::string usage(std::string_view program) {
    const std::string p(program);
    const std::string pad(p.size(), ' ');
    return "Usage: " + p + " [--device PATH | --port N] [--baud 19200|9600] [--timeout MS]\n" +
           "       " + pad + " [--repeat N] [--interval MS] [--watch] [--raw] ACTION...\n" +
           "       " + p + " --list\n";
}

std::string helpText(std::string_view program) {
    return usage(program) + R"(Sends each ACTION to the projector in turn. An action is a panel button by
its group and caption ("power on", "audio-mute off", "vol +", "cursor up",
"status", "l-time"), in one word or several, or a raw code (C00, CR3).
  --device PATH   the serial device to use
  --port N        port N as the panel numbers it (default 1)
  --baud B        line speed, 19200 (default) or 9600
  --timeout MS    how long a query waits for its answer (default 500)
  --repeat N      send each action N times (default 1)
  --interval MS   time between repeated sends (default 100)
  --watch         show the traffic on standard error, TXD and RXD lines
  --raw           print replies as rendered on the traffic lines
  --list          print every action with its code
A query prints its answer in words, one line each, or as rendered when no
words fit. A control command prints nothing (with --raw, its acknowledgement)
and waits at most 100 ms for the acknowledgement. The first query without an
answer ends the run.
Exit status: 0 done, 1 bad usage, 2 a query got no reply, 3 the port could
not be opened or written.
)";
}

}  // namespace qelo::ctl
