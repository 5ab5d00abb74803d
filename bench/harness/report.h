#pragma once
// What the harness found: each figure beside its goal, printed as it comes
// and gathered into one markdown file.

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

namespace qelo::bench {

// printf into a string of whatever length the text needs.
inline std::string fmt(const char* format, ...) {
    va_list args, again;
    va_start(args, format);
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string out(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
    if (n > 0) std::vsnprintf(out.data(), out.size() + 1, format, again);
    va_end(again);
    return out;
}

struct Figure {
    std::string item;      // "1", "2", ...
    std::string what;
    std::string measured;  // median of the runs, with its unit
    std::string spread;    // range over the runs
    std::string goal;
    bool met = false;
    bool control = false;  // from the pass at real-time priority
};

class Report {
public:
    // What follows belongs to the control pass.
    void startControl() { control_ = true; }

    void figure(Figure f) {
        f.control = control_;
        if (control_) f.item += "c";
        std::printf("[%s] %-58s %-14s goal %-22s %s\n", f.item.c_str(), f.what.c_str(), f.measured.c_str(),
                    f.goal.c_str(), f.met ? "met" : "FALLS SHORT");
        std::fflush(stdout);
        figures_.push_back(std::move(f));
    }
    // Markdown for the details of one item.
    void section(const std::string& markdown) { (control_ ? controlSections_ : sections_).push_back(markdown); }
    void say(const std::string& line) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }

    const std::vector<Figure>& figures() const { return figures_; }
    const std::vector<std::string>& sections() const { return sections_; }
    const std::vector<std::string>& controlSections() const { return controlSections_; }

private:
    bool control_ = false;
    std::vector<Figure> figures_;
    std::vector<std::string> sections_;
    std::vector<std::string> controlSections_;
};

}  // namespace qelo::bench
