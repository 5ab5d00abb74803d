// Drives the whole panel on the fake platform with a script decoded from the
// fuzzer's bytes: arriving text in any chunks, clock advances, clicks,
// presses and releases, keys, port choices and serial failures.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_invariants.h"
#include "fuzz_script.h"
#include "link/protocol.h"
#include "panel/buttons.h"
#include "panel/form1.h"
#include "support/fakes.h"

using namespace qelo;

namespace {

using fuzz::Script;

const char* const kOther[] = {"Command16", "Command33", "Command34"};
const char* const kRadios[] = {"Option1", "Option2", "Option3", "Option4"};
const fakes::Op kOps[] = {fakes::Op::SetPort, fakes::Op::SetSettings, fakes::Op::Open,
                          fakes::Op::Close,   fakes::Op::Output,      fakes::Op::Input};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fakes::FakePanel panel;
    auto& [clock, window, port, form] = panel;
    Script s{data, size};
    if (s.byte() & 1) port.fail(fakes::Op::Open, "no port 1", 1);
    form.Form_Load();

    const auto oneShot = panel::oneShotButtons();
    const auto hold = panel::holdButtons();
    while (s.more()) {
        const std::uint8_t op = s.byte();
        const std::uint8_t arg = s.byte();
        const int inputs = port.inputs;
        const std::string statusBefore = window.caption("Label25");
        switch (op % 12) {
        case 0: case 1: port.receive(s.bytes(arg)); break;
        case 2: port.receive(std::string(static_cast<std::size_t>(arg) * 256, static_cast<char>(s.byte()))); break;
        case 3: clock.advance(arg); break;
        case 4: clock.advance(static_cast<long>(arg) * 40); break;
        case 5: window.b(oneShot[arg % oneShot.size()]->name).click(); break;
        case 6: window.b(hold[arg % hold.size()]->name).press(1 << (s.byte() % 3)); break;
        case 7: window.b(hold[arg % hold.size()]->name).release(); break;
        case 8: window.b(kOther[arg % 3]).click(); break;
        case 9: window.radios[kRadios[arg % 4]]->select(); break;
        case 10: window.key(arg % 2 ? 72 : arg, s.byte() % 8); break;
        case 11:
            if (arg & 0x80) port.heal();
            else port.fail(kOps[arg % 6], "failure " + std::to_string(arg), arg % 3);
            break;
        }
        if (form.recvData().size() > panel::Form1::kRecvLimit) fuzz::broken("RecvData bound", "");
        // Rendered as it arrives, the text must read exactly as a render of
        // the whole would: on the RXD line and in what it decodes to.
        const std::string whole = link::render(form.recvData().str());
        if (form.recvData().rendered() != whole) fuzz::broken("kept rendering", form.recvData().rendered());
        if (port.inputs != inputs) {
            if (window.caption("Label12") != whole) fuzz::broken("RXD line", window.caption("Label12"));
            const std::string status = link::statusText(form.sendData(), form.recvData()).value_or(statusBefore);
            if (window.caption("Label25") != status) fuzz::broken("status after receive", window.caption("Label25"));
        }
        fuzz::checkStatusText(window.caption("Label25"));
        for (const auto& b : window.boxes)
            if (b.title != panel::kAppTitle) fuzz::broken("message box title", b.title);
    }
    for (const auto& w : port.writes) fuzz::checkFrame(w.text);
    return 0;
}
