// Items 2 and 3: how long a click takes to reach the wire, and a reply to
// reach the status line. The far end is the harness's own thread on the
// pseudo-terminal: it stamps a frame the moment it can be read and writes
// an answer at a known instant, with nothing but the kernel in between.

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "harness/bench_panel.h"
#include "harness/far_end.h"
#include "harness/items.h"
#include "harness/stats.h"

namespace qelo::bench {

std::string rangeOf(const std::vector<double>& runs, const char* format) {
    return fmt(format, minOf(runs)) + " .. " + fmt(format, maxOf(runs));
}

namespace {

// A pause of 8 to 12 ms, idle in the event loop as between two clicks, so
// that the click does not fall in step with the panel's timers.
void idleBetween(std::mt19937& random) { spinFor(8 + static_cast<int>(random() % 5)); }

struct Latencies {
    std::vector<double> median, p99, max;
    int lost = 0;
    void add(const std::vector<double>& samples) {
        median.push_back(bench::median(samples));
        p99.push_back(percentile(samples, 99));
        max.push_back(maxOf(samples));
    }
};

// Runs of samples, each after an idle pause; a sample that returns nothing
// was lost.
template <class Sample>
Latencies sampleRuns(const Options& o, unsigned seed, Sample sample) {
    std::mt19937 random(seed);
    Latencies l;
    spinFor(100);
    for (int run = 0; run < o.runs; ++run) {
        std::vector<double> samples;
        for (int i = 0; i < o.samples; ++i) {
            idleBetween(random);
            if (const std::optional<double> ms = sample()) samples.push_back(*ms);
            else ++l.lost;
        }
        l.add(samples);
    }
    return l;
}

void describe(Report& r, const char* item, const char* title, const char* what, const Options& o,
              const Latencies& l, double medianGoal, double p99Goal, const std::string& how) {
    const double med = median(l.median), p99 = median(l.p99);
    r.figure({item, std::string(what) + ": median", fmt("%.3f ms", med), rangeOf(l.median, "%.3f"),
              fmt("< %.0f ms", medianGoal), med < medianGoal});
    r.figure({item, std::string(what) + ": p99", fmt("%.3f ms", p99), rangeOf(l.p99, "%.3f"),
              fmt("< %.0f ms", p99Goal), p99 < p99Goal});
    r.section(fmt("## %s. %s\n\n%s\n\n%d runs of %d samples; medians over the runs, run-to-run range in "
                  "brackets.\n\n| | median | p99 | max |\n|---|---|---|---|\n"
                  "| ms | %.3f (%s) | %.3f (%s) | %.3f (%s) |\n\nGoal: median under %.0f ms, p99 under %.0f ms: %s.%s\n",
                  item, title, how.c_str(), o.runs, o.samples, med, rangeOf(l.median, "%.3f").c_str(), p99,
                  rangeOf(l.p99, "%.3f").c_str(), median(l.max), rangeOf(l.max, "%.3f").c_str(), medianGoal,
                  p99Goal, med < medianGoal && p99 < p99Goal ? "met" : "**falls short**",
                  l.lost ? fmt(" %d samples were lost (nothing arrived within 1 s).", l.lost).c_str() : ""));
}

}  // namespace

void measureClickToWire(const Options& o, Report& r) {
    FarEnd line;
    BenchPanel panel(line.path());
    const Latencies l = sampleRuns(o, 6, [&]() -> std::optional<double> {
        const std::size_t before = line.frameCount();
        // DISPLAY CLEAR: a one-shot button; the click is raised by the release.
        panel.press("Command3");
        const std::int64_t clicked = nowNs();
        panel.release("Command3");
        if (!runUntil([&] { return line.frameCount() > before; }, 1000)) return std::nullopt;
        return nsToMs(line.framesFrom(before).front().ns - clicked);
    });
    describe(r, "2", "Click-to-wire latency", "click to frame readable at the far end", o, l, 1, 3,
             "From the mouse release that makes the click (sent to the button as Qt delivers it) to the "
             "moment the whole frame is readable at the other end of the pseudo-terminal, stamped by a thread "
             "waiting on it. Between clicks the panel idles in its event loop for 8 to 12 ms.");
}

void measureReplyToScreen(const Options& o, Report& r) {
    FarEnd line;
    line.answerWith([](const WireFrame& f) -> std::optional<Answer> {
        if (f.text == "CR0") return Answer{"00\r", 2000};  // Power ON, 2 ms after the query
        return std::nullopt;
    });
    BenchPanel panel(line.path());
    const Latencies l = sampleRuns(o, 7, [&]() -> std::optional<double> {
        const std::size_t answered = line.answerTimes().size();
        panel.click("Command44");  // STATUS
        const bool done = runUntil(
            [&] {
                const auto times = line.answerTimes();
                if (times.size() <= answered) return false;
                const auto& sets = panel.status().sets;
                return !sets.empty() && sets.back().ns >= times[answered];
            },
            1000);
        if (!done) return std::nullopt;
        const std::int64_t written = line.answerTimes()[answered];
        // The first status text set after the reply's last byte was written.
        for (const auto& s : panel.status().sets)
            if (s.ns >= written) return nsToMs(s.ns - written);
        return std::nullopt;
    });
    describe(r, "3", "Reply-to-screen latency", "reply's last byte to decoded status text set", o, l, 2, 5,
             "The far end answers STATUS (CR0) with \"00\" CR 2 ms after the query, in one write, and stamps "
             "the moment the write has returned (the last byte is then readable by the panel). The end is the "
             "moment the status label's widget has been given \" Power ON\" (stamped by a forwarding layer "
             "between Form1 and the real window, after the widget's setText returns).");
}

}  // namespace qelo::bench
