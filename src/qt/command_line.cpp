#include "qt/command_line.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace qelo::cmdline {

std::string versionText(std::string_view program) { return std::string(program) + " " QELO_VERSION "\n"; }
std::string_view version() { return QELO_VERSION; }

namespace {

const std::vector<std::string> kNone;

const Row* find(std::span<const Row> rows, std::string_view name) {
    for (const Row& row : rows)
        if (name == row.name || (name.size() == 1 && name[0] == row.shortName && row.shortName)) return &row;
    return nullptr;
}

std::string dashed(std::string_view name) { return (name.size() == 1 ? "-" : "--") + std::string(name); }

// Words of text filled into lines of at most width characters, each after indent.
std::string wrapped(std::string_view text, std::size_t indent, std::size_t width) {
    std::string out, line;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find(' ', start), text.size());
        const std::string_view word = text.substr(start, end - start);
        if (!line.empty() && indent + line.size() + 1 + word.size() > width) {
            out += std::string(indent, ' ') + line + "\n";
            line.clear();
        }
        if (!word.empty()) line += (line.empty() ? "" : " ") + std::string(word);
        start = end + 1;
    }
    if (!line.empty()) out += std::string(indent, ' ') + line + "\n";
    return out;
}

}  // namespace

const std::vector<std::string>& Parsed::values(std::string_view name) const {
    for (const auto& [key, all] : given_)
        if (key == name) return all;
    return kNone;
}

std::optional<std::string> Parsed::value(std::string_view name) const {
    const auto& all = values(name);
    if (all.empty()) return std::nullopt;
    return all.back();
}

struct Parser {
    static Result run(std::span<const Row> rows, const std::vector<std::string>& args) {
        auto fail = [](std::string why) { return Result{std::nullopt, std::move(why)}; };
        Parsed p;
        for (std::size_t i = 0; i < args.size(); ++i) {
            const std::string& arg = args[i];
            if (arg == "--") {
                p.words_.insert(p.words_.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
                break;
            }
            if (arg.size() < 2 || arg[0] != '-') {
                p.words_.push_back(arg);
                continue;
            }
            std::string_view name(arg);
            name.remove_prefix(name.starts_with("--") ? 2 : 1);
            const auto equals = name.find('=');
            const std::string_view spelled(arg.data(), arg.size() - (equals == name.npos ? 0 : name.size() - equals));
            name = name.substr(0, equals);
            const Row* row = find(rows, name);
            if (!row) return fail("unknown option " + dashed(name));
            std::string value;
            if (!row->value) {
                if (equals != name.npos) return fail(std::string(spelled) + " takes no value");
            } else if (equals != std::string_view::npos) {
                value = arg.substr(spelled.size() + 1);
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                return fail(needs(rows, row->name));
            }
            auto at = std::find_if(p.given_.begin(), p.given_.end(), [&](auto& g) { return g.first == row->name; });
            if (at == p.given_.end()) at = p.given_.insert(p.given_.end(), {row->name, {}});
            at->second.push_back(std::move(value));
        }
        return Result{std::move(p), {}};
    }
};

Result parse(std::span<const Row> rows, const std::vector<std::string>& args) { return Parser::run(rows, args); }

std::string needs(std::span<const Row> rows, std::string_view name) {
    const Row* row = find(rows, name);
    return row && row->bad ? row->bad : "--" + std::string(name) + " needs a value";
}

std::string optionsHelp(std::span<const Row> rows) {
    constexpr std::size_t kWidth = 79, kLongest = 22;
    auto spelling = [](const Row& r) {
        std::string s = r.shortName ? std::string("-") + r.shortName + ", --" + r.name : std::string("--") + r.name;
        return r.value ? s + " " + r.value : s;
    };
    std::size_t column = 0;
    for (const Row& r : rows)
        if (spelling(r).size() <= kLongest) column = std::max(column, spelling(r).size());
    const std::size_t indent = 2 + column + 3;
    std::string out;
    for (const Row& r : rows) {
        if (r.heading) out += std::string(r.heading) + "\n";
        const std::string s = "  " + spelling(r);
        const std::string text = wrapped(r.description, indent, kWidth);
        if (s.size() + 2 > indent) {
            out += s + "\n" + text;
        } else {
            out += s + std::string(indent - s.size(), ' ') + text.substr(std::min(indent, text.size()));
            if (text.empty()) out += "\n";
        }
    }
    return out;
}

bool wholeNumber(std::string_view text, long long& value, long long least, long long most) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) return false;
    long long n = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (ec != std::errc() || end != text.data() + text.size() || n < least || n > most) return false;
    value = n;
    return true;
}

bool decimalNumber(std::string_view text, double& value) {
    double v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v)) return false;
    value = v;
    return true;
}

}  // namespace qelo::cmdline
