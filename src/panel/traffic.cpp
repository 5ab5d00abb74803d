// The send path, the receive path and the two timers that close a reply
// window: everything that passes the serial line goes through Hyouji.
#include "link/protocol.h"
#include "panel/form1.h"

namespace qelo::panel {

void Form1::Hyouji(const std::string& data, std::uint8_t direction) {
    // The write comes first: if it fails, nothing of this send is shown or
    // timed, and the failure goes to whoever asked for the send.
    if (direction == 1) port_.output(data);

    const std::string rendered = link::render(data);
    if (direction == 1) {
        // What arrived while no reply window was open (acknowledgements of a
        // released hold, talk nobody asked for) is no part of this reply and
        // would be decoded in front of it. What arrived inside a window still
        // open stays, as it always has.
        if (!timer2_.enabled()) RecvData.clear();
        label11_.setCaption(rendered);
        timer2_.setEnabled(true);
        WaitReply = 1;
        timer4_.setEnabled(true);
        return;
    }

    label12_.setCaption(rendered);
    // Decoded from what the RXD line now shows, and again on every piece of
    // a reply that arrives split.
    if (auto status = link::decode(SendData, rendered)) label25_.setCaption(*status);
}

void Form1::MSComm1_OnComm() {
    if (static_cast<std::int16_t>(port_.commEvent()) != platform::SerialPort::ReceiveEvent) return;
    const std::string arrived = port_.input();
    // A projector that talks unasked must not grow RecvData without bound:
    // what does not fit is dropped until the next reply window empties it.
    if (RecvData.size() < kRecvLimit)
        RecvData.append(arrived, 0, kRecvLimit - RecvData.size());
    WaitReply = 0;
    Hyouji(RecvData, 2);
}

void Form1::Timer2_Timer() {
    if (WaitReply == 1) label12_.setCaption(link::kTimeoutMark);
    timer2_.setEnabled(false);
    RecvData.clear();
    WaitReply = 0;
}

void Form1::Timer4_Timer() {
    label11_.setCaption("");
    label12_.setCaption("");
    label25_.setCaption("");
    timer4_.setEnabled(false);
}

}  // namespace qelo::panel
