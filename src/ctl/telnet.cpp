#include "ctl/telnet.h"

#include <utility>

namespace qelo::ctl::telnet {

namespace {

constexpr unsigned char kSe = 240, kSb = 250, kWill = 251, kWont = 252, kDo = 253, kDont = 254;
constexpr unsigned char kBinary = 0, kSga = 3;
// COM port option commands, client to server; the server answers each +100.
constexpr unsigned char kSetBaud = 1, kSetDataSize = 2, kSetParity = 3, kSetStopSize = 4, kSetControl = 5;
constexpr unsigned char kServerOffset = 100;
constexpr std::size_t kLongestSub = 64;

std::string command(unsigned char verb, unsigned char opt) { return {char(kIac), char(verb), char(opt)}; }

std::string doubled(std::string_view value) {
    std::string out;
    for (char c : value) {
        out += c;
        if (static_cast<unsigned char>(c) == kIac) out += c;
    }
    return out;
}

bool wantUs(unsigned char opt) { return opt == kBinary || opt == kSga || opt == kComPort; }
bool wantHim(unsigned char opt) { return opt == kBinary || opt == kSga; }

}  // namespace

bool negotiates(std::string_view first) {
    return first.size() >= 2 && static_cast<unsigned char>(first[0]) == kIac &&
           static_cast<unsigned char>(first[1]) >= kWill && static_cast<unsigned char>(first[1]) <= kDont;
}

std::string Session::opening(int baud) {
    baud_ = baud;
    askedUs_[kBinary] = askedHim_[kBinary] = askedUs_[kComPort] = true;
    return command(kWill, kBinary) + command(kDo, kBinary) + command(kWill, kComPort);
}

std::string Session::settings() const {
    auto sub = [](unsigned char cmd, std::string value) {
        std::string out{char(kIac), char(kSb), char(kComPort), char(cmd)};
        out += doubled(value);
        return out + char(kIac) + char(kSe);
    };
    const auto b = static_cast<unsigned>(baud_);
    return sub(kSetBaud, {char(b >> 24), char(b >> 16), char(b >> 8), char(b)}) + sub(kSetDataSize, {char(8)}) +
           sub(kSetParity, {char(1)}) +  // none
           sub(kSetStopSize, {char(1)}) + sub(kSetControl, {char(1)});  // no flow control
}

std::string Session::escape(std::string_view data) const {
    std::string out;
    out.reserve(data.size() + 2);
    for (char c : data) {
        out += c;
        if (static_cast<unsigned char>(c) == kIac) out += c;
        // Outside binary mode a bare CR is not one on the other side.
        if (c == '\r' && !us_[kBinary]) out += '\0';
    }
    return out;
}

void Session::option(unsigned char verb, unsigned char opt, std::string& reply) {
    // Answer only what changes a state, so that two sides never loop.
    if (verb == kDo || verb == kDont) {
        const bool asked = std::exchange(askedUs_[opt], false);
        if (verb == kDo && wantUs(opt)) {
            if (!us_[opt] && !asked) reply += command(kWill, opt);
            const bool fresh = !us_[opt];
            us_[opt] = true;
            if (opt == kComPort && fresh && baud_ > 0) reply += settings();
        } else if (verb == kDo) {
            reply += command(kWont, opt);
        } else if (us_[opt]) {
            us_[opt] = false;
            reply += command(kWont, opt);
        }
    } else {
        const bool asked = std::exchange(askedHim_[opt], false);
        if (verb == kWill && wantHim(opt)) {
            if (!him_[opt] && !asked) reply += command(kDo, opt);
            him_[opt] = true;
        } else if (verb == kWill) {
            reply += command(kDont, opt);
        } else if (him_[opt]) {
            him_[opt] = false;
            reply += command(kDont, opt);
        }
    }
}

void Session::subnegotiation() {
    if (sub_.size() == 6 && static_cast<unsigned char>(sub_[0]) == kComPort &&
        static_cast<unsigned char>(sub_[1]) == kSetBaud + kServerOffset) {
        confirmedBaud_ = 0;
        for (int i = 2; i < 6; ++i) confirmedBaud_ = (confirmedBaud_ << 8) | static_cast<unsigned char>(sub_[i]);
    }
    sub_.clear();
}

std::string Session::receive(std::string_view bytes, std::string& reply) {
    std::string data;
    data.reserve(bytes.size());
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        switch (state_) {
        case State::AfterCr:
            state_ = State::Data;
            if (c == 0 && !him_[kBinary]) break;
            [[fallthrough]];
        case State::Data:
            if (c == kIac) {
                state_ = State::Iac;
            } else {
                data += ch;
                if (ch == '\r') state_ = State::AfterCr;
            }
            break;
        case State::Iac:
            if (c == kIac) {
                data += ch;
                state_ = State::Data;
            } else if (c >= kWill) {
                verb_ = c;
                state_ = State::Option;
            } else if (c == kSb) {
                sub_.clear();
                state_ = State::Sub;
            } else {
                state_ = State::Data;  // NOP, go-ahead, break and the like carry nothing here
            }
            break;
        case State::Option:
            option(verb_, c, reply);
            state_ = State::Data;
            break;
        case State::Sub:
            if (c == kIac)
                state_ = State::SubIac;
            else if (sub_.size() < kLongestSub)
                sub_ += ch;
            break;
        case State::SubIac:
            if (c == kSe) {
                subnegotiation();
                state_ = State::Data;
            } else {
                if (sub_.size() < kLongestSub) sub_ += ch;  // IAC IAC inside: one 255
                state_ = State::Sub;
            }
            break;
        }
    }
    return data;
}

TelnetLine::TelnetLine(std::unique_ptr<Line> inner, int baud) : inner_(std::move(inner)) {
    inner_->send(session_.opening(baud));
}

void TelnetLine::send(const std::string& bytes) { inner_->send(session_.escape(bytes)); }

Task<std::string> TelnetLine::receive(long long until) {
    const std::string bytes = co_await inner_->receive(until);
    std::string reply;
    std::string data = session_.receive(bytes, reply);
    if (!reply.empty()) inner_->send(reply);
    co_return data;
}

}  // namespace qelo::ctl::telnet
