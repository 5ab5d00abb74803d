#pragma once
// One receive event after another on a RecvData of N - 1 characters, whatever
// window shows the result: the fakes, or the real Qt labels.
#include <benchmark/benchmark.h>

#include <cstddef>

#include "panel/form1.h"
#include "support/fakes.h"

namespace qelo::bench {

inline void receiveEvents(benchmark::State& state, fakes::FakeSerialPort& port, panel::Form1& form) {
    form.SendData = "CR0\r";  // decoding runs on every event
    const auto length = static_cast<std::size_t>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        form.RecvData.assign(length - 1, '0');
        state.ResumeTiming();
        port.receive("0");
    }
    state.SetComplexityN(state.range(0));
}

}  // namespace qelo::bench
