// Item 1: the pace of a held button on the wire. The simulated projector is
// the far end (it counts the frames and answers each one, so receive events
// fall between the ticks as they do in use); the harness relays the line to
// it and stamps every frame on the way, which times the intervals far more
// finely than the simulator's millisecond log.

#include <QCoreApplication>

#include <cmath>
#include <string>
#include <vector>

#include "harness/bench_panel.h"
#include "harness/far_end.h"
#include "harness/items.h"
#include "support/simulator.h"
#include "harness/stats.h"
#include "link/protocol.h"

namespace qelo::bench {

namespace {

struct Hold {
    int period;
    const char* button;       // held
    const char* command;      // what it sends
    const char* clickFirst;   // a one-shot click that sets the pace, or null
    const char* tapFirst;     // a press-and-hold button pressed and released first, or null
    const char* what;
};

// Each period the panel uses, reached the way an operator reaches it.
constexpr Hold kHolds[] = {
    {500, "Command6", "C3F", nullptr, nullptr, "SELECT"},
    {250, "Command1", "C09", nullptr, nullptr, "VOL +"},
    {200, "Command7", "C3D", "Command13", nullptr, "down arrow after A-IMAGE"},
    {50, "Command15", "C47", nullptr, nullptr, "Zoom +"},
    {5, "Command8", "C3A", nullptr, "Command48", "right arrow after D.Zoom +"},
};

struct HoldRun {
    double heldMs = 0;
    long expected = 0;
    long onWire = 0;       // frames the relay saw
    long bySimulator = -1; // frames the simulator counted
    bool allRight = true;  // every frame was the held button's command
    double medianMs = NAN, p99Ms = NAN, maxMs = NAN;
    double tickP99Ms = NAN;    // between repeat ticks, on the event thread
    double sendP99Ms = NAN;    // from a tick to its frame at the far end
};

HoldRun holdOnce(const Options& o, BenchPanel& panel, FarEnd& line, const Hold& h, int baud) {
    test::Simulator sim(o.simulator, {"--quiet", "--baud", QString::number(baud)});
    const std::size_t attached = line.frameCount();
    line.relayTo(sim.fd());
    if (h.clickFirst) panel.click(h.clickFirst);
    if (h.tapFirst) {
        panel.press(h.tapFirst);
        spinFor(20);
        panel.release(h.tapFirst);
    }
    spinFor(80);  // the set-up's answer comes back, the loop is idle again

    HoldRun run;
    const std::size_t first = line.frameCount();
    const std::size_t firstTick = panel.repeatTicks().size();
    const std::int64_t pressed = nowNs();
    panel.press(h.button);
    spinFor(o.holdMs);
    const std::int64_t released = nowNs();
    panel.release(h.button);
    spinFor(150);  // the last answers drain
    line.relayTo(-1);
    const test::SimulatorSummary counts = sim.quit();

    run.heldMs = nsToMs(released - pressed);
    run.expected = 1 + static_cast<long>(std::floor(run.heldMs / h.period));
    const auto frames = line.framesFrom(first);
    run.onWire = static_cast<long>(frames.size());
    if (counts.frames >= 0) run.bySimulator = counts.frames - static_cast<long>(first - attached);
    std::vector<double> gaps;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (frames[i].text != h.command) run.allRight = false;
        if (i > 0) gaps.push_back(nsToMs(frames[i].ns - frames[i - 1].ns));
    }
    run.medianMs = median(gaps);
    run.p99Ms = percentile(gaps, 99);
    run.maxMs = maxOf(gaps);

    // Ticks that sent: each is followed by the next frame on the wire.
    const auto& ticks = panel.repeatTicks();
    std::vector<double> tickGaps, sends;
    std::size_t f = 1;
    for (std::size_t i = firstTick; i < ticks.size() && ticks[i] < released; ++i) {
        if (i > firstTick) tickGaps.push_back(nsToMs(ticks[i] - ticks[i - 1]));
        while (f < frames.size() && frames[f].ns < ticks[i]) ++f;
        if (f < frames.size()) sends.push_back(nsToMs(frames[f].ns - ticks[i]));
    }
    run.tickP99Ms = percentile(tickGaps, 99);
    run.sendP99Ms = percentile(sends, 99);
    return run;
}

}  // namespace

void measurePacing(const Options& o, Report& r) {
    std::string md = fmt("## 1. Repeat pacing on the wire\n\n"
                         "Each button held for %d ms (no period divides it, so no tick falls within 25 ms "
                         "of the release), %d runs per row; the expected count is 1 + floor(H / P) with H "
                         "the hold actually measured. The simulated projector is the far end and answers "
                         "every frame; the harness relays the line to it and stamps each frame when it "
                         "becomes readable. *Sim* is the simulator's own count. Interval columns are "
                         "medians over the runs of each run's median, p99 and max; *worst* is the worst "
                         "run. *Tick interval* is the time between two repeat ticks as the event thread "
                         "starts their handler; *tick to wire* from a tick to its frame readable at the far "
                         "end: a late timer shows in the first, a slow send in the second. A pseudo-terminal does not pace bytes at the baud rate, so the line limit "
                         "(2.08 ms a frame at 19200, 4.17 ms at 9600) is below every period and is not "
                         "what is measured here.\n\n",
                         o.holdMs, o.runs);
    md += "| baud | P ms | held by | expected | on wire | sim | frames/expected (worst) | exact runs | "
          "interval median | p99 (worst) | max (worst) | tick interval p99 | tick to wire p99 | goal | met |\n"
          "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n";

    for (int baud : {19200, 9600}) {
        FarEnd line;
        BenchPanel panel(line.path());
        panel.setSpeed(baud);
        spinFor(50);
        for (const Hold& h : kHolds) {
            std::vector<HoldRun> runs;
            for (int i = 0; i < o.runs; ++i) runs.push_back(holdOnce(o, panel, line, h, baud));

            std::vector<double> expected, onWire, sim, ratio, med, p99, mx, tickP99, sendP99;
            int exact = 0;
            bool right = true;
            for (const auto& x : runs) {
                expected.push_back(static_cast<double>(x.expected));
                onWire.push_back(static_cast<double>(x.onWire));
                sim.push_back(static_cast<double>(x.bySimulator));
                ratio.push_back(100.0 * static_cast<double>(x.onWire) / static_cast<double>(x.expected));
                med.push_back(x.medianMs);
                p99.push_back(x.p99Ms);
                mx.push_back(x.maxMs);
                tickP99.push_back(x.tickP99Ms);
                sendP99.push_back(x.sendP99Ms);
                if (x.onWire == x.expected && x.bySimulator == x.expected) ++exact;
                right = right && x.allRight;
            }
            const bool fast = h.period == 5;
            const double p99Median = median(p99);
            const bool paceMet = std::fabs(p99Median - h.period) <= 2.0;
            const bool countMet = fast ? median(ratio) >= 97.0 : exact * 2 > o.runs;
            const bool met = paceMet && countMet && right;
            const std::string goal = fast ? "≥ 97 % of frames, p99 within 2 ms of P" : "exact count, p99 within 2 ms of P";
            md += fmt("| %d | %d | %s | %.0f | %.0f | %.0f | %.1f %% (%.1f %%) | %d/%d | %.2f | %.2f (%.2f) | "
                      "%.2f (%.2f) | %.2f | %.2f | %s | %s |\n",
                      baud, h.period, h.what, median(expected), median(onWire), median(sim), median(ratio),
                      minOf(ratio), exact, o.runs, median(med), p99Median, maxOf(p99), median(mx), maxOf(mx),
                      median(tickP99), median(sendP99), goal.c_str(), met ? "yes" : "**no**");
            r.figure({"1", fmt("pacing %5d baud P=%3d ms: frames/expected, interval p99", baud, h.period),
                      fmt("%.1f%%, %.2f ms", median(ratio), p99Median),
                      fmt("%.1f..%.1f%%, p99 %.2f..%.2f ms", minOf(ratio), maxOf(ratio), minOf(p99), maxOf(p99)),
                      fast ? "≥97%, p99 in 3..7 ms" : fmt("exact, p99 in %d..%d ms", h.period - 2, h.period + 2), met});
            if (!right) md += "\n(some frames were not the held button's command)\n";
        }
        if (!panel.messages.empty()) md += "\nMessages: " + panel.messages.front() + "\n";
    }
    r.section(md);
}

}  // namespace qelo::bench
