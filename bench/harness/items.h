#pragma once
// The measurements, one function per item of the harness.

#include <QString>
#include <QStringList>

#include "harness/report.h"

namespace qelo::bench {

struct Options {
    int runs = 5;              // each figure is measured this many times
    int holdMs = 2025;         // no period divides it: every tick is 25 ms from the release
    int floodSeconds = 60;
    int floodRuns = 1;
    int samples = 100;         // clicks per latency run
    QString simulator;         // qelo-projector-sim
    QString panel;             // qelo-panel
    QString probe;             // qelo_startup_probe
    QStringList receiveBenches;
    QString out = "RESULTS.md";
    QString analysis;          // notes appended to the results
    QString command;           // how the harness was started, for the record
    QString only;              // items to run, e.g. "1,3"; empty: all
    bool control = true;       // items 1 to 3 again at real-time priority
};

void measurePacing(const Options& o, Report& r);          // 1
void measureClickToWire(const Options& o, Report& r);     // 2
void measureReplyToScreen(const Options& o, Report& r);   // 3
void measureFlood(const Options& o, Report& r);           // 4
void measureStartup(const Options& o, Report& r);         // 5
void measureReceivePath(const Options& o, Report& r);     // 6
void measureTrickle(const Options& o, Report& r);         // 7
// How late a bare precise timer fires right now: the machine's own noise.
void measureMachineNoise(const char* when, Report& r);

// "12.3 (10.1 .. 15.0)" style helpers.
std::string rangeOf(const std::vector<double>& runs, const char* format);

}  // namespace qelo::bench
