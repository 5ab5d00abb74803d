// The receive path as the program runs it: the same growing RecvData, but
// the traffic and status lines are the real Qt labels, so the cost of
// handing the rendered text to the widgets is in the figure too.
#include <benchmark/benchmark.h>

#include "app/panel_program.h"
#include "receive_events.h"

namespace {

void ReceiveEventQtLabels(benchmark::State& state) {
    using namespace qelo;
    fakes::FakeClock clock;
    fakes::FakeSerialPort port{clock};
    app::PanelProgram program{platform::qt::defaultPortMap(),
                              {.view = {}, .messageBox = [](const std::string&, const std::string&) {}, .line = &port}};
    program.start();
    bench::receiveEvents(state, port, program.form);
}
BENCHMARK(ReceiveEventQtLabels)->Arg(1)->Arg(100)->Arg(1000)->Arg(32767)->Complexity();

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
    qelo::app::PanelApplication app(argc, argv);  // the programs' style and fonts
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
