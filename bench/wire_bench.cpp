// qelo-bench: the timing harness. Builds the real panel in this process
// (offscreen), drives it as an operator would, measures at the far end of a
// pseudo-terminal, and writes every figure beside its goal to a markdown
// file. Benchmarks, not tests: nothing here fails on a slow machine; it says
// which goals fall short.

#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QSysInfo>
#include <QTimer>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sched.h>

#include "harness/bench_panel.h"
#include "harness/command_line.h"
#include "harness/far_end.h"
#include "harness/items.h"
#include "harness/stats.h"
#include "qt/setup.h"

namespace qelo::bench {

namespace {

std::string firstLineWith(const char* file, const char* key) {
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(key, 0) == 0) return line;
    return {};
}

// /proc/loadavg as it reads: the 1, 5 and 15 min averages, running/total, last pid.
std::string loadavgLine() {
    std::ifstream in("/proc/loadavg");
    std::string line;
    std::getline(in, line);
    return line;
}

std::string loadAverage() {
    std::istringstream in(loadavgLine());
    double a = 0, b = 0, c = 0;
    in >> a >> b >> c;
    return fmt("%.2f %.2f %.2f", a, b, c);
}

std::string machine() {
    utsname u{};
    uname(&u);
    std::string cpu = firstLineWith("/proc/cpuinfo", "model name");
    if (auto colon = cpu.find(':'); colon != std::string::npos) cpu = cpu.substr(colon + 2);
    std::string mem = firstLineWith("/proc/meminfo", "MemTotal:");
    long memKb = 0;
    std::sscanf(mem.c_str(), "MemTotal: %ld", &memKb);
    return fmt("%s, %ld cores online, %.1f GB RAM; %s %s; %s; Qt %s; %s %s", cpu.empty() ? "unknown CPU" : cpu.c_str(),
               sysconf(_SC_NPROCESSORS_ONLN), memKb / 1048576.0, u.sysname, u.release,
               QSysInfo::prettyProductName().toStdString().c_str(), qVersion(),
#if defined(__clang__)
               "clang", __clang_version__
#else
               "gcc", __VERSION__
#endif
    );
}

}  // namespace

void measureMachineNoise(const char* when, Report& r) {
    std::vector<double> gaps;
    QTimer t;
    t.setTimerType(Qt::PreciseTimer);
    std::int64_t last = 0;
    QObject::connect(&t, &QTimer::timeout, [&] {
        const std::int64_t now = nowNs();
        if (last) gaps.push_back(nsToMs(now - last));
        last = now;
    });
    t.start(5);
    spinFor(2000);

    // The line without the panel: a frame written on the panel's side, from
    // this thread idling in its event loop, to the far end's thread.
    std::vector<double> wake;
    {
        FarEnd line;
        const int fd = ::open(line.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        for (int i = 0; fd >= 0 && i < 200; ++i) {
            spinFor(5);
            const std::size_t before = line.frameCount();
            const std::int64_t t0 = nowNs();
            if (::write(fd, "C00\r", 4) != 4) break;
            if (runUntil([&] { return line.frameCount() > before; }, 1000))
                wake.push_back(nsToMs(line.framesFrom(before).front().ns - t0));
        }
        if (fd >= 0) ::close(fd);
    }
    r.say(fmt("machine noise: bare 5 ms precise timer, interval median %.3f, p99 %.3f, max %.3f ms; "
              "bare pty write to reader median %.3f, p99 %.3f ms; load %s",
              median(gaps), percentile(gaps, 99), maxOf(gaps), median(wake), percentile(wake, 99),
              loadAverage().c_str()));
    r.section(fmt("- %s: bare 5 ms precise QTimer for 2 s, nothing else in the process: interval median "
                  "%.3f ms, p99 %.3f ms, max %.3f ms; 200 frames written straight on the pseudo-terminal "
                  "(no panel) until the far end's thread has read them: median %.3f ms, p99 %.3f ms, max %.3f ms; "
                  "load average %s\n",
                  when, median(gaps), percentile(gaps, 99), maxOf(gaps), median(wake), percentile(wake, 99),
                  maxOf(wake), loadAverage().c_str()));
}

namespace {

Options optionsFrom(const QStringList& arguments) {
    CommandLine line("The timing harness: pacing, latencies, floods, start-up and the receive path, each figure\n"
                     "beside its goal. Items 1 to 3 run a second time at real-time priority where that is\n"
                     "permitted (--no-control: not).");
    line.options({
        {"simulator", "PATH", "The simulator program."},
        {"probe", "PATH", "The start-up probe."},
        {"panel", "PATH", "The panel program."},
        {"receive-bench", "PATH", "A receive-path benchmark program (may be given again)."},
        {"out", "FILE", "Where the results go (default RESULTS.md)."},
        {"analysis", "FILE", "Notes appended to the results."},
        {"runs", "N", "Each figure is measured N times (default 5)."},
        {"hold-ms", "MS", "Length of each hold (default 2025)."},
        {"flood-seconds", "S", "Length of each flood (default 60)."},
        {"flood-runs", "N", "Floods to run (default 1)."},
        {"samples", "N", "Clicks per latency run (default 100)."},
        {"only", "LIST", "Items to run, e.g. 1,3 (default all)."},
        {"no-control", nullptr, "No second pass at real-time priority."},
        {"command", "TEXT", "How the harness was started, for the record."},
    });
    line.parse(arguments);
    Options o;
    o.runs = line.whole("runs", o.runs, 1);
    o.holdMs = line.whole("hold-ms", o.holdMs, 1);
    o.floodSeconds = line.whole("flood-seconds", o.floodSeconds, 1);
    o.floodRuns = line.whole("flood-runs", o.floodRuns, 1);
    o.samples = line.whole("samples", o.samples, 1);
    o.simulator = line.text("simulator");
    o.panel = line.text("panel");
    o.probe = line.text("probe");
    o.out = line.text("out", o.out);
    o.analysis = line.text("analysis");
    o.command = line.text("command", arguments.join(' '));
    o.only = line.text("only");
    o.control = !line.isSet("no-control");
    o.receiveBenches = line.texts("receive-bench");
    return o;
}

using Items = std::vector<std::pair<int, std::function<void()>>>;

// What a whole run leaves for the results file.
struct Run {
    QDateTime began = QDateTime::currentDateTime();
    std::string startLoad = loadavgLine();
    std::string endLoad;
    Report noise;
    Report r;
    bool controlRan = false;
    std::string controlNoise;
};

bool wanted(const Options& o, int item) {
    return o.only.isEmpty() || o.only.split(',').contains(QString::number(item));
}

void runItems(const Options& o, const Items& items, Report& r) {
    for (const auto& [item, run] : items) {
        if (!wanted(o, item)) continue;
        if (item == 1 && o.control) r.say("items at normal priority");
        try {
            run();
        } catch (const std::exception& e) {
            r.say(fmt("item %d failed: %s", item, e.what()));
            r.section(fmt("## %d.\n\nThe measurement failed: %s\n", item, e.what()));
        }
    }
}

// The same figures once more with the harness (panel, far end and
// simulator) at real-time priority: what the panel does when the other
// work on a shared machine cannot take its processor away.
void runControlPass(const Options& o, const Items& items, Run& run) {
    if (!o.control || !(wanted(o, 1) || wanted(o, 2) || wanted(o, 3))) return;
    sched_param param{};
    param.sched_priority = 10;
    if (sched_setscheduler(0, SCHED_FIFO, &param) != 0) {
        run.r.say("no control pass: real-time priority is not permitted here");
        return;
    }
    run.controlRan = true;
    run.r.say("control pass at real-time priority");
    Report n;
    measureMachineNoise("control pass", n);
    for (const auto& sec : n.sections()) run.controlNoise += sec;
    run.r.startControl();
    for (const auto& [item, measure] : items) {
        if (item > 3 || !wanted(o, item)) continue;
        try {
            measure();
        } catch (const std::exception& e) {
            run.r.say(fmt("item %d failed: %s", item, e.what()));
        }
    }
    param.sched_priority = 0;
    sched_setscheduler(0, SCHED_OTHER, &param);
}

constexpr const char* kFigureTable =
    "| item | figure | measured | range over runs | goal | met |\n|---|---|---|---|---|---|\n";

// The rows of one pass's figures; how many fall short.
int figureRows(std::ostream& md, const Report& r, bool control) {
    int fallShort = 0;
    for (const auto& f : r.figures()) {
        if (f.control != control) continue;
        md << "| " << f.item << " | " << f.what << " | " << f.measured << " | " << f.spread << " | " << f.goal << " | "
           << (f.met ? "yes" : "**no**") << " |\n";
        fallShort += !f.met;
    }
    return fallShort;
}

void controlResults(std::ostream& md, const Run& run) {
    md << "\n## Control pass at real-time priority\n\n"
       << "Items 1 to 3 once more, in the same run, with the harness process (the panel, the far end's thread) "
       << "and the simulator it starts at SCHED_FIFO priority 10, so that the other work of a shared machine "
       << "cannot keep them waiting for a processor. Nothing in the panel changes; the difference to the "
       << "figures above is what the machine's load costs.\n\n"
       << run.controlNoise << "\n"
       << kFigureTable;
    const int controlShort = figureRows(md, run.r, true);
    md << "\n" << (controlShort ? fmt("%d figures of the control pass fall short.\n", controlShort)
                                : std::string("Every goal of the control pass is met.\n"));
    for (const auto& s : run.r.controlSections()) {
        std::string sec = s;
        if (sec.rfind("## ", 0) == 0) sec = "### Control: " + sec.substr(3);
        md << "\n" << sec;
    }
}

// The results file's text; how many figures fall short at normal priority.
int results(std::ostream& md, const Options& o, const Run& run) {
    const qint64 seconds = run.began.secsTo(QDateTime::currentDateTime());
    md << "# Benchmark results\n\n"
       << "- Command: `" << o.command.toStdString() << "`\n"
       << "- Date: " << run.began.toString(Qt::ISODate).toStdString() << " (local), " << seconds << " s\n"
       << "- Machine: " << machine() << "\n"
       << "- Load average (1, 5, 15 min, running/total, last pid) at start: " << run.startLoad
       << "; at end: " << run.endLoad << "\n- Each figure is the median of " << o.runs
       << " runs unless the row says otherwise; ranges are over the runs.\n\n## How noisy the machine was\n\n";
    for (const auto& s : run.noise.sections()) md << s;
    md << "\n## Summary\n\n" << kFigureTable;
    const int fallShort = figureRows(md, run.r, false);
    md << "\n" << (fallShort ? fmt("%d figures fall short of their goal; see the notes below.\n", fallShort)
                             : std::string("Every goal is met.\n"));
    for (const auto& s : run.r.sections()) md << "\n" << s;
    if (run.controlRan) controlResults(md, run);
    if (!o.analysis.isEmpty()) {
        QFile notes(o.analysis);
        if (notes.open(QIODevice::ReadOnly)) md << "\n" << notes.readAll().toStdString();
    }
    return fallShort;
}

}  // namespace

}  // namespace qelo::bench

int main(int argc, char** argv) {
    using namespace qelo::bench;
    if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qelo::platform::qt::setupLook(app);  // the panel measured looks as the program's does
    const Options o = optionsFrom(app.arguments());

    Run run;
    measureMachineNoise("at the start", run.noise);
    Report& r = run.r;
    const Items items = {
        {1, [&] { measurePacing(o, r); }},          {2, [&] { measureClickToWire(o, r); }},
        {3, [&] { measureReplyToScreen(o, r); }},   {4, [&] { measureFlood(o, r); }},
        {5, [&] { measureStartup(o, r); }},         {6, [&] { measureReceivePath(o, r); }},
        {7, [&] { measureTrickle(o, r); }},
    };
    runItems(o, items, r);
    runControlPass(o, items, run);
    measureMachineNoise("at the end", run.noise);
    run.endLoad = loadavgLine();

    std::ostringstream md;
    const int fallShort = results(md, o, run);
    QFile out(o.out);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(o.out));
        return 1;
    }
    out.write(QByteArray::fromStdString(md.str()));
    std::printf("\n%d figures fall short at normal priority; results in %s\n", fallShort, qPrintable(o.out));
    return 0;
}
