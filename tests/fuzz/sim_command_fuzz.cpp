// The simulated projector fed from both ends: its standard input cut into
// command lines as the program cuts it, and bytes on the wire, with time
// going by in between.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_invariants.h"
#include "fuzz_script.h"
#include "sim/options.h"
#include "sim/projector.h"

using namespace qelo;
using namespace qelo::sim;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Script in{data, size};
    Projector p;
    CommandLines typed;
    Time now{0};
    while (in.more()) {
        const std::uint8_t op = in.byte();
        const std::string bytes = in.bytes(op >> 2);
        switch (op % 4) {
        case 0:
            for (const auto& line : typed.feed(bytes)) {
                if (line.text.size() > CommandLines::kMaxLine) fuzz::broken("kept a long line", line.text);
                if (line.overlong()) continue;
                const CommandResult r = applyCommand(p, now, line.text);
                if (!r.ok && r.message.empty()) fuzz::broken("refused without a reason", line.text);
                if (r.quit) return 0;
            }
            break;
        case 1:
            p.receive(now, bytes);
            break;
        case 2:
            p.transmit(now);
            break;
        default:
            now += std::chrono::milliseconds(bytes.empty() ? 1 : static_cast<unsigned char>(bytes[0]) * 40);
            p.advance(now);
        }
        // Whatever it was told, its state is one it can report and its
        // queue stays bounded.
        if (!Projector::validState(p.state())) fuzz::broken("state", p.state());
        if (!Projector::validMode(p.mode())) fuzz::broken("mode", std::string(1, p.mode()));
        if (!Projector::validReversal(p.reversal())) fuzz::broken("reversal", p.reversal());
        if (p.waitingAnswers() > Projector::kMaxWaiting) fuzz::broken("answers waiting", bytes);
        p.takeLog();
    }
    describe(p, now);
    return 0;
}
