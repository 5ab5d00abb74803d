// Item 6: the receive path's cost as RecvData grows, from the Google
// Benchmark programs, run with repetitions and read back as JSON.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <map>
#include <string>

#include "harness/items.h"
#include "harness/stats.h"

namespace qelo::bench {

namespace {
double toUs(double value, const QString& unit) {
    if (unit == "ns") return value / 1000.0;
    if (unit == "ms") return value * 1000.0;
    if (unit == "s") return value * 1e6;
    return value;
}
}  // namespace

void measureReceivePath(const Options& o, Report& r) {
    std::string md = fmt("## 6. Receive path cost against the length of RecvData\n\n"
                         "Google Benchmark, %d repetitions, medians of CPU time per receive event. Each event appends "
                         "one character to a RecvData of N - 1 characters (what was kept arrived earlier, untimed), shows it "
                         "on the RXD line and decodes it. `qelo_receive_bench` uses the test fakes for the window, "
                         "`qelo_receive_qt_bench` the real Qt labels. Growth from 1,000 to 32,767 characters is 32.8 "
                         "times the length: a cost that followed everything kept would grow about as much; one that "
                         "follows what arrived stays flat.\n\n"
                         "| benchmark | N = 1 | 100 | 1,000 | 32,767 | growth 1,000 → 32,767 | fitted | goal |\n"
                         "|---|---|---|---|---|---|---|---|\n",
                         o.runs);
    for (const QString& program : o.receiveBenches) {
        QProcess bench;
        bench.start(program, {QString("--benchmark_repetitions=%1").arg(o.runs), "--benchmark_format=json",
                              "--benchmark_report_aggregates_only=true", "--benchmark_min_time=0.2"});
        if (!bench.waitForFinished(300000)) {
            bench.kill();
            r.say("receive benchmark did not finish: " + program.toStdString());
            continue;
        }
        const QJsonArray results = QJsonDocument::fromJson(bench.readAllStandardOutput()).object()["benchmarks"].toArray();
        // name -> N -> median µs
        std::map<std::string, std::map<long, double>> medians;
        std::map<std::string, std::string> fitted;
        for (const auto& v : results) {
            const QJsonObject b = v.toObject();
            const QString name = b["name"].toString();
            if (b["aggregate_name"].toString() == "median") {
                const QString base = b["run_name"].toString();
                const auto slash = base.indexOf('/');
                if (slash < 0) continue;
                medians[base.left(slash).toStdString()][base.mid(slash + 1).toLong()] =
                    toUs(b["cpu_time"].toDouble(), b["time_unit"].toString());
            }
            if (name.endsWith("_BigO"))
                fitted[name.chopped(5).toStdString()] = "O(" + b["big_o"].toString().toStdString() + ")";
        }
        for (const auto& [name, byN] : medians) {
            auto at = [&](long n) { return byN.count(n) ? byN.at(n) : NAN; };
            const double growth = at(32767) / at(1000);
            const bool flat = growth <= 2;
            const bool met = flat && at(32767) < 5;
            md += fmt("| %s | %.2f µs | %.2f µs | %.2f µs | %.2f µs | %.1f× | %s | %s |\n", name.c_str(), at(1), at(100),
                      at(1000), at(32767), growth, fitted.count(name) ? fitted[name].c_str() : "-",
                      met ? "met" : "**falls short**");
            r.figure({"6", name + ": one event at 32,767 characters", fmt("%.2f us", at(32767)), "", "< 5 us",
                      at(32767) < 5});
            r.figure({"6", name + ": growth 1,000 -> 32,767 characters", fmt("%.2fx", growth), "", "<= 2x", flat});
        }
    }
    md += "\nGoal: one event at 32,767 characters within 2 times one at 1,000, and under 5 µs.\n";
    r.section(md);
}

}  // namespace qelo::bench
