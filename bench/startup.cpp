// Item 5: from process start to the window first shown, and the resident
// memory after start-up. The time comes from a probe program that starts the
// panel exactly as its main() does (same libraries, same steps) and stamps
// the end of the window's first paint; the parent stamps the moment before
// it starts the process, on the same clock. The real qelo-panel binary is
// started too, for its resident memory.

#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>

#include <string>
#include <vector>

#include "harness/far_end.h"
#include "harness/items.h"
#include "harness/stats.h"

namespace qelo::bench {

void measureStartup(const Options& o, Report& r) {
    FarEnd line;  // COM1 of the probe: opening it is part of the start-up
    std::vector<double> shownMs, rssMb, panelRssMb;
    std::string problems;
    for (int i = 0; i < o.runs; ++i) {
        QProcess probe;
        probe.setProcessChannelMode(QProcess::SeparateChannels);
        const std::int64_t started = nowNs();
        probe.start(o.probe, {QString::fromStdString(line.path())});
        if (!probe.waitForFinished(20000)) {
            probe.kill();
            probe.waitForFinished(2000);
            problems += " a probe run did not end;";
            continue;
        }
        long long shown = 0;
        long rss = 0;
        for (const QByteArray& l : probe.readAllStandardOutput().split('\n')) {
            if (l.startsWith("shown ")) shown = l.mid(6).toLongLong();
            if (l.startsWith("rss ")) rss = l.mid(4).toLong();
        }
        const QByteArray err = probe.readAllStandardError().trimmed();
        if (!err.isEmpty() && problems.find(err.toStdString()) == std::string::npos)
            problems += " probe said: " + err.toStdString() + ";";
        if (shown > 0) shownMs.push_back(nsToMs(shown - started));
        if (rss > 0) rssMb.push_back(rss / 1024.0);
    }

    // The real program, on whatever COM1 is on this machine.
    for (int i = 0; i < o.runs && !o.panel.isEmpty(); ++i) {
        QProcess panel;
        panel.start(o.panel, {});
        if (!panel.waitForStarted(5000)) break;
        QThread::msleep(1500);
        const long kb = residentKb(static_cast<int>(panel.processId()));
        if (kb > 0) panelRssMb.push_back(kb / 1024.0);
        panel.terminate();
        if (!panel.waitForFinished(2000)) {
            panel.kill();
            panel.waitForFinished(2000);
        }
    }

    const double t = median(shownMs), m = median(rssMb), pm = median(panelRssMb);
    r.figure({"5", "process start to window first shown", fmt("%.1f ms", t), rangeOf(shownMs, "%.1f"), "< 300 ms",
              t < 300});
    r.figure({"5", "resident memory after start-up (probe)", fmt("%.1f MB", m), rangeOf(rssMb, "%.1f"), "< 60 MB",
              m < 60});
    if (!panelRssMb.empty())
        r.figure({"5", "resident memory of qelo-panel 1.5 s after start", fmt("%.1f MB", pm),
                  rangeOf(panelRssMb, "%.1f"), "< 60 MB", pm < 60});
    r.section(fmt("## 5. Start-up and size\n\n"
                  "*Time*: `qelo_startup_probe` does what `qelo-panel`'s main() does (QApplication, style, fonts, "
                  "window, serial port, Form1, Form_Load, show) with COM1 routed to a pseudo-terminal, and stamps "
                  "the end of the window's first paint on CLOCK_MONOTONIC; the harness stamps the moment before it "
                  "starts the process. Offscreen platform, %d runs. *Memory*: the probe's resident set 0.5 s after "
                  "the first paint, and the real `qelo-panel` binary's 1.5 s after it was started (on this "
                  "machine's own COM1).\n\n"
                  "| | median | range |\n|---|---|---|\n"
                  "| start to first shown | %.1f ms | %s |\n| resident, probe | %.1f MB | %s |\n"
                  "| resident, qelo-panel | %.1f MB | %s |\n\nGoal: under 300 ms and under 60 MB: %s.%s\n",
                  o.runs, t, rangeOf(shownMs, "%.1f").c_str(), m, rangeOf(rssMb, "%.1f").c_str(), pm,
                  rangeOf(panelRssMb, "%.1f").c_str(), t < 300 && m < 60 && (panelRssMb.empty() || pm < 60) ? "met" : "**falls short**",
                  problems.empty() ? "" : ("\n\nNotes:" + problems).c_str()));
}

}  // namespace qelo::bench
