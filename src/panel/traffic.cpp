// The send path, the receive path and the two timers that close a reply
// window: everything sent goes through Hyouji, everything received through
// showReceived.
#include "link/answer.h"
#include "panel/form1.h"

namespace qelo::panel {

void Form1::Hyouji(const std::string& data, std::uint8_t direction) {
    // Received text goes its own way (showReceived), which renders only what
    // arrived; here, only sends.
    if (direction != kSend) return;
    // The write comes first: if it fails, nothing of this send is shown or
    // timed, and the failure goes to whoever asked for the send.
    port_.output(data);
    // What arrived while no reply window was open (acknowledgements of a
    // released hold, talk nobody asked for) is no part of this reply and
    // would be decoded in front of it. What arrived inside a window still
    // open stays, as it always has.
    if (!timer2_.enabled()) RecvData.clear();
    label11_.setCaption(link::render(data));
    timer2_.setEnabled(true);
    WaitReply = 1;
    timer4_.setEnabled(true);
}

void Form1::showReceived(const link::RenderedText& kept) {
    // The kept text is rendered as it arrives: when the line still shows an
    // earlier part of it, only the new tokens are handed over.
    const std::string& rendered = kept.rendered();
    if (rxd_.valid && rxd_.generation == kept.generation() && rxd_.size <= rendered.size())
        label12_.appendCaption(std::string_view(rendered).substr(rxd_.size));
    else
        label12_.setCaption(rendered);
    rxd_ = {kept.generation(), rendered.size(), true};
    showStatus(kept);
}

void Form1::showStatus(const link::RenderedText& kept) {
    // Read from what the RXD line now shows, and again on every piece of a
    // reply that arrives split.
    if (auto status = link::statusText(SendData, kept)) label25_.setCaption(*status);
}

void Form1::setRxdCaption(const std::string& text) {
    label12_.setCaption(text);
    rxd_.valid = false;
}

void Form1::MSComm1_OnComm() {
    if (static_cast<std::int16_t>(port_.commEvent()) != platform::SerialPort::ReceiveEvent) return;
    // A projector that talks unasked must not grow RecvData without bound:
    // what does not fit is dropped until the next reply window empties it.
    RecvData.append(port_.input(), kRecvLimit);
    WaitReply = 0;
    showReceived(RecvData);
}

void Form1::Timer2_Timer() {
    if (WaitReply == 1) setRxdCaption(link::kTimeoutMark);
    timer2_.setEnabled(false);
    RecvData.clear();
    WaitReply = 0;
}

void Form1::Timer4_Timer() {
    label11_.setCaption("");
    setRxdCaption("");
    label25_.setCaption("");
    timer4_.setEnabled(false);
}

}  // namespace qelo::panel
