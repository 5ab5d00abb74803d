// Whatever a serial device server sends, in whatever pieces: the data is the
// same however it was split, and only whole telnet commands go back.
#include <cstddef>
#include <cstdint>
#include <string>

#include "ctl/telnet.h"
#include "fuzz_invariants.h"

using namespace qelo;

namespace {

// IAC and a verb with its option, or IAC SB ... IAC SE with IAC doubled inside.
void checkCommands(std::string_view reply) {
    std::size_t i = 0;
    auto at = [&](std::size_t k) { return static_cast<unsigned char>(reply[k]); };
    while (i < reply.size()) {
        if (at(i) != 255 || i + 2 >= reply.size()) fuzz::broken("reply is no telnet command", reply);
        if (at(i + 1) >= 251) {
            i += 3;
            continue;
        }
        if (at(i + 1) != 250) fuzz::broken("reply verb", reply);
        std::size_t k = i + 2;
        for (; k + 1 < reply.size(); ++k) {
            if (at(k) != 255) continue;
            if (at(k + 1) == 240) break;
            if (at(k + 1) != 255) fuzz::broken("lone IAC in a subnegotiation", reply);
            ++k;
        }
        if (k + 1 >= reply.size()) fuzz::broken("subnegotiation without its end", reply);
        i = k + 2;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t piece = data[0] % 7 + 1;
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

    ctl::telnet::Session whole, split;
    whole.opening(19200);
    split.opening(19200);
    std::string wholeReply, splitReply, splitData;
    const std::string wholeData = whole.receive(bytes, wholeReply);
    for (std::size_t at = 0; at < bytes.size(); at += piece) splitData += split.receive(bytes.substr(at, piece), splitReply);

    if (splitData != wholeData) fuzz::broken("data depends on the pieces", bytes);
    if (splitReply != wholeReply) fuzz::broken("replies depend on the pieces", bytes);
    if (wholeData.size() > bytes.size()) fuzz::broken("more data than bytes", bytes);
    if (split.confirmedBaud() != whole.confirmedBaud()) fuzz::broken("confirmed speed", bytes);
    checkCommands(wholeReply);
    return 0;
}
