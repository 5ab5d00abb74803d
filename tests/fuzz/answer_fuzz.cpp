// A conversation on a line that answers anything, in any pieces, at any time:
// it ends well only on an answer of the documented form, and what it makes of
// that answer is what the answer says. The forms are written out here, not
// taken from the program's tables.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "ctl/runner.h"
#include "fuzz_invariants.h"
#include "seam/platform.h"

using namespace qelo;

namespace {

const std::set<std::string> kStatus{"00", "80", "40", "20", "10", "88", "08", "24", "04", "28", "02"};
const std::set<std::string> kMode{"1", "2", "3"};
const std::set<std::string> kSetting{"11", "10", "01", "00"};

struct Piece {
    long long at;
    std::string bytes;
};

class FuzzLine : public ctl::Line {
public:
    std::vector<Piece> pieces;  // in time order
    bool hangsUp = false;

    void send(const std::string&) override {}
    ctl::Task<std::string> receive(long long until) override { co_return take(until); }
    long long now() override { return now_; }
    std::string stamp() override { return {}; }
    std::string device() const override { return "fuzz"; }

private:
    std::string take(long long until) {
        if (next_ == pieces.size()) {
            if (hangsUp) throw platform::LineError("fuzz: gone");
            now_ = std::max(now_, until);
            return {};
        }
        now_ = std::max(now_, std::min(until, pieces[next_].at));
        std::string got;
        while (next_ < pieces.size() && pieces[next_].at <= now_) got += pieces[next_++].bytes;
        return got;
    }
    long long now_ = 0;
    std::size_t next_ = 0;
};

bool digits(std::string_view s) {
    return !s.empty() && s.size() <= 18 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    static const char* kCodes[] = {"CR0", "CR1", "CR3", "CR4", "C00"};
    const std::string code = kCodes[data[0] % 5];
    FuzzLine line;
    line.hangsUp = data[1] & 1;
    // Pieces: a delay in ms, a length, then that many bytes.
    long long at = 0;
    for (std::size_t i = 2; i + 1 < size;) {
        at += data[i] * 4;
        const std::size_t n = std::min<std::size_t>(data[i + 1], size - i - 2);
        line.pieces.push_back({at, std::string(reinterpret_cast<const char*>(data) + i + 2, n)});
        i += 2 + n;
    }
    ctl::Options o;
    o.actions = {{code, code, code[1] == 'R'}};
    o.requireAck = data[1] & 2;
    ctl::Keeper keeper;
    ctl::Runner runner(line, keeper);
    const int status = ctl::finished(runner.run(o));
    if (keeper.conversation.exchanges.size() != 1) fuzz::broken("one exchange", code);
    const ctl::Exchange& x = keeper.conversation.exchanges[0].second;
    if (status != x.status) fuzz::broken("status", code);
    if (status != ctl::kDone) {
        if (x.error.empty()) fuzz::broken("a failure without its reason", code);
        return 0;
    }
    if (code == "C00") {
        const bool ack = x.reply == std::string("\x06\r");
        if (x.acknowledged != ack) fuzz::broken("acknowledged", x.reply.value_or("-"));
        if (o.requireAck && !ack) fuzz::broken("passed without its acknowledgement", x.reply.value_or("-"));
        if (x.reply && !ack && x.reply->find('\r') != std::string::npos) fuzz::broken("a wrong answer passed", *x.reply);
        return 0;
    }
    if (!x.reply || x.reply->empty() || x.reply->back() != '\r') fuzz::broken("ended well without a whole answer", code);
    const std::string body = x.reply->substr(0, x.reply->size() - 1);
    const bool fits = code == "CR0"   ? kStatus.count(body)
                      : code == "CR1" ? kMode.count(body)
                      : code == "CR4" ? kSetting.count(body)
                                      : digits(body);
    if (!fits) fuzz::broken("ended well on an answer not of the form", *x.reply);
    if (!x.words) fuzz::broken("no words for an answer of the form", *x.reply);
    if (code == "CR3" && (!x.hours || std::to_string(*x.hours) != *x.words || *x.hours != std::stoll(body)))
        fuzz::broken("hours", *x.reply);
    return 0;
}
