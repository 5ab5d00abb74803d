// Cost of one receive event as the received text grows: it must follow what
// arrived, not everything RecvData kept.
#include <benchmark/benchmark.h>

#include "receive_events.h"

namespace {

void ReceiveEvent(benchmark::State& state) {
    using namespace qelo;
    fakes::FakeClock clock;
    fakes::FakeWindow window{clock};
    fakes::FakeSerialPort port{clock};
    panel::Form1 form{window, port};
    form.Form_Load();
    bench::receiveEvents(state, port, form);
}
BENCHMARK(ReceiveEvent)->Arg(1)->Arg(100)->Arg(1000)->Arg(32767)->Complexity();

void ReceiveEventFromEmpty(benchmark::State& state) {
    using namespace qelo;
    fakes::FakeClock clock;
    fakes::FakeWindow window{clock};
    fakes::FakeSerialPort port{clock};
    panel::Form1 form{window, port};
    form.Form_Load();
    form.SendData = "CR0\r";
    for (auto _ : state) {
        form.RecvData.clear();
        port.receive("00\r");  // the common case: one short reply
    }
}
BENCHMARK(ReceiveEventFromEmpty);

}  // namespace

BENCHMARK_MAIN();
