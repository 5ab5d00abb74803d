#pragma once
// Telnet with the COM port control option, as serial device servers speak
// it: the byte stream in both directions, the option negotiation and the
// line settings. Pure byte logic; TelnetLine wraps any Line in it.

#include <array>
#include <memory>
#include <string>
#include <string_view>

#include "ctl/runner.h"

namespace qelo::ctl::telnet {

inline constexpr unsigned char kIac = 255;
inline constexpr unsigned char kComPort = 44;

// Whether what a server sent first opens a telnet negotiation, so that a
// raw connection can tell it is talking to the wrong kind of port.
bool negotiates(std::string_view first);

// One side of a telnet connection: what to write and what was received.
class Session {
public:
    // What the client says first: binary both ways, no go-ahead, the COM
    // port option, and the line set to baud, 8 data bits, no parity, one
    // stop bit, no flow control.
    std::string opening(int baud);
    // Data bytes as they go on the wire: 255 doubled, CR followed by NUL
    // while the line is not binary.
    std::string escape(std::string_view data) const;
    // The data in bytes from the server; what the negotiation asks to send
    // back is appended to reply.
    std::string receive(std::string_view bytes, std::string& reply);
    // The speed the server said it set, 0 until it does.
    int confirmedBaud() const { return confirmedBaud_; }

private:
    enum class State { Data, Iac, Option, Sub, SubIac, AfterCr };
    void option(unsigned char verb, unsigned char opt, std::string& reply);
    void subnegotiation();

    std::string settings() const;

    int baud_ = 0;
    State state_ = State::Data;
    unsigned char verb_ = 0;
    std::string sub_;
    std::array<bool, 256> us_{};      // options enabled on our side
    std::array<bool, 256> him_{};     // options enabled on the server's side
    std::array<bool, 256> askedUs_{};   // WILL sent, no answer yet
    std::array<bool, 256> askedHim_{};  // DO sent, no answer yet
    int confirmedBaud_ = 0;
};

// A line with telnet in between: frames are escaped on the way out,
// negotiation is answered and taken out on the way in.
class TelnetLine : public Line {
public:
    // Sends the opening on inner at once; the first frame waits for the
    // quiet time, by which the server has answered it.
    TelnetLine(std::unique_ptr<Line> inner, int baud);

    void send(const std::string& bytes) override;
    Task<std::string> receive(long long until) override;
    long long now() override { return inner_->now(); }
    std::string stamp() override { return inner_->stamp(); }
    std::string device() const override { return inner_->device(); }
    long long quietMs() const override { return inner_->quietMs(); }
    int confirmedBaud() const { return session_.confirmedBaud(); }

private:
    std::unique_ptr<Line> inner_;
    Session session_;
};

}  // namespace qelo::ctl::telnet
