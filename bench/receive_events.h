#pragma once
// One receive event after another on a RecvData of N - 1 characters, whatever
// window shows the result: the fakes, or the real Qt labels. What was kept
// arrived earlier in one piece, untimed; only the newest byte is timed.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <string>

#include "panel/form1.h"
#include "support/fakes.h"

namespace qelo::bench {

inline void receiveEvents(benchmark::State& state, fakes::FakeSerialPort& port, panel::Form1& form) {
    form.Hyouji("CR0\r", panel::Form1::kSend);  // decoding runs on every event
    const std::string kept(static_cast<std::size_t>(state.range(0)) - 1, '0');
    for (auto _ : state) {
        state.PauseTiming();
        form.Timer2_Timer();  // the reply window closes: nothing kept
        if (!kept.empty()) port.receive(kept);
        state.ResumeTiming();
        port.receive("0");
    }
    state.SetComplexityN(state.range(0));
}

}  // namespace qelo::bench
