// Cost of one receive event as the received text grows: it must follow what
// arrived, not everything RecvData kept.
#include <benchmark/benchmark.h>

#include "receive_events.h"

namespace {

void ReceiveEvent(benchmark::State& state) {
    qelo::fakes::FakePanel panel;
    panel.form.Form_Load();
    qelo::bench::receiveEvents(state, panel.port, panel.form);
}
BENCHMARK(ReceiveEvent)->Arg(1)->Arg(100)->Arg(1000)->Arg(32767)->Complexity();

void ReceiveEventFromEmpty(benchmark::State& state) {
    qelo::fakes::FakePanel panel;
    panel.form.Form_Load();
    panel.form.Hyouji("CR0\r", qelo::panel::Form1::kSend);
    for (auto _ : state) {
        panel.form.Timer2_Timer();  // the reply window closes: nothing kept
        panel.port.receive("00\r");  // the common case: one short reply
    }
}
BENCHMARK(ReceiveEventFromEmpty);

}  // namespace

BENCHMARK_MAIN();
