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

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
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

    long samples = 0, peak = 0, warm = 0;
    {
        test::Panel panel(platform::qt::routedPortMap({{1, pty}}));
        auto& port = panel.port;
        auto& window = panel.window;
        if (!port.portOpen()) {
            std::fprintf(stderr, "qelo-soak: the panel could not open %s\n", pty.c_str());
            return 1;
        }

        const long start = bench::residentKb();
        QTimer sampler;
        QObject::connect(&sampler, &QTimer::timeout, [&] {
            peak = std::max(peak, bench::residentKb());
            ++samples;
        });
        sampler.start(1000);

        auto button = [&](const char* name) { return window.findChild<QPushButton*>(name); };
        auto hold = [&](const char* name) {
            QTest::mousePress(button(name), Qt::LeftButton);
            spinFor(o.holdMs);
            QTest::mouseRelease(button(name), Qt::LeftButton);
            spinFor(100);
        };

        std::printf("soak on %s: %.0f s of holds (%d ms each), then %.0f s idle\n", pty.c_str(), o.seconds,
                    o.holdMs, o.idleSeconds);
        std::fflush(stdout);
        QElapsedTimer clock;
        clock.start();
        long cycles = 0, lastReport = 0;
        while (clock.elapsed() < o.seconds * 1000) {
            hold("Command48");  // D.Zoom +: 250 ms; its release sets the arrows to 5 ms
            hold("Command5");   // cursor up at 5 ms
            if (++cycles == 1) warm = bench::residentKb();
            if (clock.elapsed() / 60000 > lastReport) {
                lastReport = clock.elapsed() / 60000;
                std::printf("  %ld min: %ld KiB resident\n", lastReport, bench::residentKb());
                std::fflush(stdout);
            }
        }
        const double busy = clock.elapsed() / 1000.0;

        const double cpuBefore = cpuSeconds();
        spinFor(static_cast<int>(o.idleSeconds * 1000));
        const double idleCpu = cpuSeconds() - cpuBefore;
        const long end = bench::residentKb();
        peak = std::max(peak, end);

        // Answers to the last frames of a hold that came after its release
        // must not stand in front of this reply: one query has to do.
        QTest::mouseClick(button("Command44"), Qt::LeftButton);
        const bool decoded = spinUntil([&] { return window.label("Label25").caption() == " Stand by"; }, 1500);
        port.setPortOpen(false);

        const test::SimulatorSummary tally = sim->quit();
        const long frames = tally.frames;
        const long malformed = tally.malformed;
        const long answers = tally.answers;
        const int messages = static_cast<int>(panel.messages.size());
        for (const auto& text : panel.messages) std::fprintf(stderr, "qelo-soak: message box: %s\n", text.c_str());

        const long growth = end - warm;
        std::printf("holds:     %ld cycles in %.0f s, %ld frames received by the simulator (%.0f/s), "
                    "%ld answers sent\n",
                    cycles, busy, frames, frames / std::max(busy, 1.0), answers);
        std::printf("malformed: %ld\n", malformed);
        std::printf("memory:    start %ld KiB, after the first cycle %ld KiB, peak %ld KiB (kernel high-water "
                    "%ld KiB), end %ld KiB; growth after warm-up %+ld KiB\n",
                    start, warm, peak, highWaterKib(), end, growth);
        std::printf("idle:      %.2f s CPU over %.0f s\n", idleCpu, o.idleSeconds);
        std::printf("status:    %s (\"%s\")\n", decoded ? "decoded" : "NOT decoded",
                    window.label("Label25").caption().c_str());
        std::printf("messages:  %d\n", messages);

        bool ok = true;
        auto check = [&](bool good, const char* what) {
            if (!good) std::printf("FAIL: %s\n", what);
            ok = ok && good;
        };
        check(frames > 0 && malformed == 0, "the simulator counted malformed frames (or none at all)");
        check(messages == 0, "the panel reported failures");
        check(decoded, "STATUS was not decoded at the end");
        check(o.maxGrowthKib == 0 || growth <= o.maxGrowthKib, "resident memory kept growing");
        std::printf("%s\n", ok ? "soak passed" : "soak FAILED");
        return ok ? 0 : 1;
    }
}
