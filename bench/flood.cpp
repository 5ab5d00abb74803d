// Item 4: the projector talking unasked. Two floods: the simulated projector
// chattering at the full line rate for a minute, and a mebibyte poured at
// the panel as fast as the pseudo-terminal takes it. A probe timer on the
// event thread measures the longest the loop went without turning; the
// panel must then still send and decode as before.

#include <QTimer>
#include <sys/resource.h>

#include <string>
#include <vector>

#include "harness/bench_panel.h"
#include "harness/far_end.h"
#include "harness/items.h"
#include "support/simulator.h"
#include "harness/stats.h"
#include "link/answer.h"
#include "link/protocol.h"

namespace qelo::bench {

namespace {

constexpr int kProbeMs = 5;

// Ticks every 5 ms on the event thread; the longest gap between two ticks
// is how long the loop was kept from turning (plus the 5 ms).
class StallProbe {
public:
    StallProbe() {
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const std::int64_t now = nowNs();
            if (last_) gaps_.push_back(nsToMs(now - last_));
            last_ = now;
        });
        timer_.start(kProbeMs);
    }
    double longestMs() const { return maxOf(gaps_); }
    double p99Ms() const { return percentile(gaps_, 99); }

private:
    QTimer timer_;
    std::int64_t last_ = 0;
    std::vector<double> gaps_;
};

// Processor time of the whole process, or of the calling (event) thread.
double cpuMs(int who = RUSAGE_SELF) {
    rusage u{};
    getrusage(who, &u);
    auto ms = [](const timeval& t) { return static_cast<double>(t.tv_sec) * 1000.0 + t.tv_usec / 1000.0; };
    return ms(u.ru_utime) + ms(u.ru_stime);
}

// Sends MODE (CR1) once the flood is over and expects the mode's words on the
// status line: the send drops what the flood left in RecvData, so the reply
// is read on its own.
bool stillWorks(BenchPanel& panel, FarEnd& line, std::string& why) {
    const std::string expected = std::string(" ") + link::readAnswer("CR1", "1\r").word->words;
    const std::size_t before = line.frameCount();
    const std::size_t sets = panel.status().sets.size();
    panel.click("Command45");
    if (!runUntil([&] { return line.frameCount() > before; }, 2000)) {
        why = "MODE never reached the wire";
        return false;
    }
    if (!runUntil([&] { return panel.status().sets.size() > sets && panel.status().sets.back().text == expected; },
                  2000)) {
        why = "no \"" + expected + "\" on the status line; it shows \"" + panel.window.label("Label25").caption() + "\"";
        return false;
    }
    return true;
}

struct FloodRun {
    double seconds = 0;
    double bytesPerSecond = 0;
    double longestStallMs = 0;
    double p99GapMs = 0;
    double rssGrowthMb = 0;
    double cpuPercent = 0;
    double eventThreadPercent = 0;
    bool works = false;
    std::string why;
};

FloodRun chatter(const Options& o) {
    FarEnd line;
    line.answerWith(nullptr);
    BenchPanel panel(line.path());
    test::Simulator sim(o.simulator, {"--quiet", "--baud", "19200", "--chatter", "1"});
    spinFor(200);
    const long rssBefore = residentKb();
    FloodRun run;
    {
        StallProbe probe;
        const double cpu0 = cpuMs(), thread0 = cpuMs(RUSAGE_THREAD);
        const std::int64_t t0 = nowNs();
        const std::uint64_t bytes0 = line.bytesToPanel();
        line.relayTo(sim.fd());
        spinFor(o.floodSeconds * 1000);
        sim.command("chatter 0");
        spinFor(300);  // what was on its way arrives
        run.seconds = nsToMs(nowNs() - t0) / 1000.0;
        run.bytesPerSecond = static_cast<double>(line.bytesToPanel() - bytes0) / (run.seconds - 0.3);
        run.cpuPercent = (cpuMs() - cpu0) / (run.seconds * 10.0);
        run.eventThreadPercent = (cpuMs(RUSAGE_THREAD) - thread0) / (run.seconds * 10.0);
        run.longestStallMs = probe.longestMs();
        run.p99GapMs = probe.p99Ms();
    }
    run.rssGrowthMb = static_cast<double>(residentKb() - rssBefore) / 1024.0;
    run.works = stillWorks(panel, line, run.why);
    line.relayTo(-1);
    return run;
}

FloodRun burst() {
    constexpr std::size_t kBurst = 1 << 20;
    FarEnd line;
    line.answerWith([](const WireFrame& f) -> std::optional<Answer> {
        if (f.text == "CR1") return Answer{"1\r", 2000};
        return std::nullopt;
    });
    BenchPanel panel(line.path());
    spinFor(200);
    const long rssBefore = residentKb();
    FloodRun run;
    {
        StallProbe probe;
        const double cpu0 = cpuMs(), thread0 = cpuMs(RUSAGE_THREAD);
        std::string bytes;
        bytes.reserve(kBurst);
        while (bytes.size() < kBurst) bytes += "80\r";
        bytes.resize(kBurst);
        const std::int64_t t0 = nowNs();
        line.pour(std::move(bytes));
        runUntil([&] { return line.drained(); }, 60000);
        run.seconds = nsToMs(nowNs() - t0) / 1000.0;
        spinFor(100);  // the panel reads what is left in the line
        run.bytesPerSecond = static_cast<double>(kBurst) / run.seconds;
        run.cpuPercent = (cpuMs() - cpu0) / nsToMs(nowNs() - t0) * 100.0;
        run.eventThreadPercent = (cpuMs(RUSAGE_THREAD) - thread0) / nsToMs(nowNs() - t0) * 100.0;
        run.longestStallMs = probe.longestMs();
        run.p99GapMs = probe.p99Ms();
    }
    run.rssGrowthMb = static_cast<double>(residentKb() - rssBefore) / 1024.0;
    run.works = stillWorks(panel, line, run.why);
    return run;
}

// Byte by byte, as a UART hands bytes over (ten bits a byte), nobody asking:
// the event thread's share of a core over each 10 s, which must stay flat
// while RecvData grows to its cap and stays there.
struct TrickleRun {
    std::vector<double> windowPercent;  // event thread, each 10 s
    std::vector<double> eventUs;        // event thread's time per receive event, each 10 s
    double processPercent = 0;          // far end's thread included
};

TrickleRun trickle(int baud, int seconds) {
    constexpr int kWindowMs = 10000;
    FarEnd line;
    BenchPanel panel(line.path());
    spinFor(200);
    std::string talk;
    while (talk.size() < static_cast<std::size_t>(baud / 10) * (seconds + 1)) talk += "80\r";
    TrickleRun run;
    const double cpu0 = cpuMs();
    const std::int64_t t0 = nowNs();
    line.trickle(talk, 10'000'000 / baud);
    for (int w = 0; w < seconds * 1000 / kWindowMs; ++w) {
        const double thread0 = cpuMs(RUSAGE_THREAD);
        const std::int64_t w0 = nowNs();
        const std::uint64_t events0 = panel.receiveEvents();
        spinFor(kWindowMs);
        const double ms = cpuMs(RUSAGE_THREAD) - thread0;
        run.windowPercent.push_back(ms / nsToMs(nowNs() - w0) * 100.0);
        run.eventUs.push_back(ms * 1000.0 / static_cast<double>(std::max<std::uint64_t>(panel.receiveEvents() - events0, 1)));
    }
    run.processPercent = (cpuMs() - cpu0) / nsToMs(nowNs() - t0) * 100.0;
    return run;
}

void describe(Report& r, const std::string& name, const std::vector<FloodRun>& runs, std::string& md) {
    std::vector<double> stall, gap, rss, rate, cpu, thread, secs;
    int works = 0;
    std::string why;
    for (const auto& x : runs) {
        stall.push_back(x.longestStallMs);
        gap.push_back(x.p99GapMs);
        rss.push_back(x.rssGrowthMb);
        rate.push_back(x.bytesPerSecond);
        cpu.push_back(x.cpuPercent);
        thread.push_back(x.eventThreadPercent);
        secs.push_back(x.seconds);
        works += x.works;
        if (!x.works && why.empty()) why = x.why;
    }
    const double worstStall = maxOf(stall), worstRss = maxOf(rss);
    md += fmt("| %s | %zu | %.1f s | %.0f B/s | %.1f %% | %.1f %% | %.2f ms | %.2f ms (%s) | %.2f MB (%s) | %d/%zu%s |\n",
              name.c_str(), runs.size(), median(secs), median(rate), median(cpu), median(thread), median(gap), worstStall,
              rangeOf(stall, "%.2f").c_str(), worstRss, rangeOf(rss, "%.2f").c_str(), works, runs.size(),
              why.empty() ? "" : (" (" + why + ")").c_str());
    r.figure({"4", name + ": longest event-loop stall (worst run)", fmt("%.2f ms", worstStall),
              rangeOf(stall, "%.2f"), "≤ 50 ms", worstStall <= 50});
    r.figure({"4", name + ": memory growth (worst run)", fmt("%.2f MB", worstRss), rangeOf(rss, "%.2f"), "< 5 MB",
              worstRss < 5});
    r.figure({"4", name + ": sends and decodes normally afterwards", fmt("%d/%zu runs", works, runs.size()), "",
              "every run", works == static_cast<int>(runs.size())});
}

}  // namespace

void measureTrickle(const Options& o, Report& r) {
    std::string md = fmt(
        "## 7. Unasked talk, byte by byte\n\n"
        "The far end writes \"80\" CR over and over, one byte at a time at the pace a UART hands them over "
        "(a byte every 10 bits), for %d s, with no command sent: RecvData reaches its cap of 32,767 characters "
        "after about 17 s at 19200 baud and 34 s at 9600, and stays there. CPU is the event thread's share of a "
        "core in each 10 s (the panel's work), and the whole process's over the run (the far end's writing "
        "thread included). A loaded machine wakes the panel less often, so that each receive event carries more "
        "bytes and the share falls: the time per receive event shows the cost's growth whatever the load. "
        "Medians over %d runs.\n\n"
        "| line | event thread, whole run | first 10 s | last 10 s | last / first | per event, first 10 s | "
        "last 10 s | whole process |\n|---|---|---|---|---|---|---|---|\n",
        o.floodSeconds, o.floodRuns);
    for (int baud : {19200, 9600}) {
        std::vector<double> whole, first, last, ratio, process, firstUs, lastUs;
        for (int i = 0; i < o.floodRuns; ++i) {
            const TrickleRun run = trickle(baud, o.floodSeconds);
            if (run.windowPercent.empty()) continue;
            double sum = 0;
            for (double p : run.windowPercent) sum += p;
            whole.push_back(sum / static_cast<double>(run.windowPercent.size()));
            first.push_back(run.windowPercent.front());
            last.push_back(run.windowPercent.back());
            ratio.push_back(run.windowPercent.back() / run.windowPercent.front());
            firstUs.push_back(run.eventUs.front());
            lastUs.push_back(run.eventUs.back());
            process.push_back(run.processPercent);
        }
        const std::string name = fmt("%d baud", baud);
        md += fmt("| %s | %.2f %% | %.2f %% | %.2f %% | %.2f | %.1f µs | %.1f µs | %.2f %% |\n", name.c_str(),
                  median(whole), median(first), median(last), median(ratio), median(firstUs), median(lastUs),
                  median(process));
        r.figure({"7", name + ": event thread's share of a core", fmt("%.2f %%", median(whole)), rangeOf(whole, "%.2f"),
                  "< 3 %", median(whole) < 3});
        r.figure({"7", name + ": last 10 s against the first", fmt("%.2fx", median(ratio)), rangeOf(ratio, "%.2f"),
                  "<= 1.2x", median(ratio) <= 1.2});
    }
    md += "\nGoal: under 3 % of a core, and the last 10 s costing no more than 1.2 times the first.\n";
    r.section(md);
}

void measureFlood(const Options& o, Report& r) {
    std::vector<FloodRun> chat, pour;
    for (int i = 0; i < o.floodRuns; ++i) chat.push_back(chatter(o));
    for (int i = 0; i < o.runs; ++i) pour.push_back(burst());
    std::string md = fmt(
        "## 4. Receive flood\n\n"
        "*Chatter*: the simulated projector talks unasked (`--chatter 1`, \"80\" CR every millisecond, "
        "throttled by its `--baud 19200` to the line rate) for %d s, relayed to the panel by the harness, which "
        "counts the bytes. *Burst*: the harness pours 1 MiB (\"80\" CR repeated) at the panel as fast as the "
        "pseudo-terminal takes it. A %d ms precise probe timer on the event thread records the gaps between its "
        "ticks: the longest gap is the longest stall (the probe's own period included). Memory is the resident "
        "set before and after the flood. Afterwards the panel sends MODE once (the send drops what the flood left "
        "in RecvData) and must show the decoded mode.\n\n"
        "| flood | runs | duration | rate to panel | CPU, whole process | CPU, event thread | probe gap p99 | longest stall, "
        "worst (range) | RSS growth, worst (range) | works afterwards |\n|---|---|---|---|---|---|---|---|---|---|\n",
        o.floodSeconds, kProbeMs);
    describe(r, "chatter", chat, md);
    describe(r, "1 MiB burst", pour, md);
    md += "\nGoal: no stall over 50 ms, growth under 5 MB, normal sending and decoding afterwards.\n";
    r.section(md);
}

}  // namespace qelo::bench
