// qelo-soak: the real panel against the simulated projector for a long
// while. Holds alternate between a 250 ms repeat (D.Zoom +) and the 5 ms
// repeat its release leaves to the arrows (cursor up); then the panel sits
// idle. It reports resident memory at the start, at its peak and at the end,
// the frames the simulator counted, and whether STATUS still reads in words.
//
// Exit status: 0 when the simulator counted no malformed frame, no message
// box came up, STATUS was decoded at the end and memory grew by no more than
// --max-growth-kib; 1 otherwise, and for a bad command line.

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "harness/command_line.h"
#include "harness/far_end.h"
#include "qt/setup.h"
#include "support/panel.h"
#include "support/simulator.h"

namespace {

using namespace qelo;
using test::spinFor;
using test::spinUntil;

struct Options {
    double seconds = 600;     // of holds
    double idleSeconds = 30;  // after them
    int holdMs = 5000;        // each hold
    long maxGrowthKib = 4096; // 0: report only
    std::string simulator =
#ifdef QELO_SIM_PATH
        QELO_SIM_PATH;
#else
        "qelo-projector-sim";
#endif
};

Options parse(const QStringList& arguments) {
    bench::CommandLine line("A long run of the panel against the simulated projector.");
    line.options({
        {"minutes", "M", "Holds for M minutes (default 10)."},
        {"seconds", "S", "Holds for S seconds."},
        {"idle", "S", "Then idle for S seconds (default 30)."},
        {"hold", "MS", "Each hold lasts MS milliseconds (default 5000)."},
        {"max-growth-kib", "K", "Fail when memory grows by more (default 4096; 0: report only)."},
        {"simulator", "PATH", "The simulator program."},
    });
    line.parse(arguments);
    Options o;
    o.seconds = line.isSet("seconds") ? line.number("seconds", o.seconds) : line.number("minutes", o.seconds / 60) * 60;
    o.idleSeconds = line.number("idle", o.idleSeconds);
    o.holdMs = line.whole("hold", o.holdMs, 1);
    o.maxGrowthKib = line.whole("max-growth-kib", static_cast<int>(o.maxGrowthKib));
    o.simulator = line.text("simulator", QString::fromStdString(o.simulator)).toStdString();
    return o;
}

// The kernel's own high-water mark of the resident set, in KiB.
long highWaterKib() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    return 0;
}

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// What the run measured.
struct Figures {
    long start = 0, warm = 0, peak = 0, end = 0;  // resident KiB; warm: after the first cycle
    long cycles = 0;
    double busy = 0;     // seconds of holds
    double idleCpu = 0;  // CPU seconds while idle
    bool decoded = false;
};

// Alternate holds for o.seconds.
void holds(const Options& o, test::Panel& panel, Figures& f) {
    auto button = [&](const char* name) { return panel.window.findChild<QPushButton*>(name); };
    auto hold = [&](const char* name) {
        QTest::mousePress(button(name), Qt::LeftButton);
        spinFor(o.holdMs);
        QTest::mouseRelease(button(name), Qt::LeftButton);
        spinFor(100);
    };
    QElapsedTimer clock;
    clock.start();
    long lastReport = 0;
    while (clock.elapsed() < o.seconds * 1000) {
        hold("Command48");  // D.Zoom +: 250 ms; its release sets the arrows to 5 ms
        hold("Command5");   // cursor up at 5 ms
        if (++f.cycles == 1) f.warm = bench::residentKb();
        if (clock.elapsed() / 60000 > lastReport) {
            lastReport = clock.elapsed() / 60000;
            std::printf("  %ld min: %ld KiB resident\n", lastReport, bench::residentKb());
            std::fflush(stdout);
        }
    }
    f.busy = clock.elapsed() / 1000.0;
}

// The idle spell, then one query that must still read in words.
void idleThenStatus(const Options& o, test::Panel& panel, Figures& f) {
    const double cpuBefore = cpuSeconds();
    spinFor(static_cast<int>(o.idleSeconds * 1000));
    f.idleCpu = cpuSeconds() - cpuBefore;
    f.end = bench::residentKb();
    f.peak = std::max(f.peak, f.end);

    // Answers to the last frames of a hold that came after its release
    // must not stand in front of this reply: one query has to do.
    QTest::mouseClick(panel.window.findChild<QPushButton*>("Command44"), Qt::LeftButton);
    f.decoded = spinUntil([&] { return panel.window.label("Label25").caption() == " Stand by"; }, 1500);
}

// Prints the figures and judges them; the exit status.
int verdict(const Options& o, const Figures& f, const test::SimulatorSummary& tally, test::Panel& panel) {
    const int messages = static_cast<int>(panel.messages.size());
    for (const auto& text : panel.messages) std::fprintf(stderr, "qelo-soak: message box: %s\n", text.c_str());

    const long growth = f.end - f.warm;
    std::printf("holds:     %ld cycles in %.0f s, %ld frames received by the simulator (%.0f/s), "
                "%ld answers sent\n",
                f.cycles, f.busy, tally.frames, tally.frames / std::max(f.busy, 1.0), tally.answers);
    std::printf("malformed: %ld\n", tally.malformed);
    std::printf("memory:    start %ld KiB, after the first cycle %ld KiB, peak %ld KiB (kernel high-water "
                "%ld KiB), end %ld KiB; growth after warm-up %+ld KiB\n",
                f.start, f.warm, f.peak, highWaterKib(), f.end, growth);
    std::printf("idle:      %.2f s CPU over %.0f s\n", f.idleCpu, o.idleSeconds);
    std::printf("status:    %s (\"%s\")\n", f.decoded ? "decoded" : "NOT decoded",
                panel.window.label("Label25").caption().c_str());
    std::printf("messages:  %d\n", messages);

    bool ok = true;
    auto check = [&](bool good, const char* what) {
        if (!good) std::printf("FAIL: %s\n", what);
        ok = ok && good;
    };
    check(tally.frames > 0 && tally.malformed == 0, "the simulator counted malformed frames (or none at all)");
    check(messages == 0, "the panel reported failures");
    check(f.decoded, "STATUS was not decoded at the end");
    check(o.maxGrowthKib == 0 || growth <= o.maxGrowthKib, "resident memory kept growing");
    std::printf("%s\n", ok ? "soak passed" : "soak FAILED");
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qelo::platform::qt::setupLook(app);  // the panel soaked looks as the program's does
    const Options o = parse(app.arguments());

    std::unique_ptr<test::Simulator> sim;
    try {
        sim = std::make_unique<test::Simulator>(QString::fromStdString(o.simulator),
                                                QStringList{"--quiet", "--reply-delay", "10"});
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qelo-soak: %s\n", e.what());
        return 1;
    }
    const std::string pty = sim->pty();

    test::Panel panel(platform::qt::routedPortMap({{1, pty}}));
    if (!panel.port.portOpen()) {
        std::fprintf(stderr, "qelo-soak: the panel could not open %s\n", pty.c_str());
        return 1;
    }
    Figures f;
    f.start = bench::residentKb();
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] { f.peak = std::max(f.peak, bench::residentKb()); });
    sampler.start(1000);

    std::printf("soak on %s: %.0f s of holds (%d ms each), then %.0f s idle\n", pty.c_str(), o.seconds, o.holdMs,
                o.idleSeconds);
    std::fflush(stdout);
    holds(o, panel, f);
    idleThenStatus(o, panel, f);
    panel.port.setPortOpen(false);
    return verdict(o, f, sim->quit(), panel);
}
