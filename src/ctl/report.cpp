#include "ctl/report.h"

#include <cerrno>
#include <cstring>
#include <ostream>

#include "ctl/escape.h"
#include "link/protocol.h"
#include "seam/platform.h"

namespace qelo::ctl {

std::string jsonLine(const std::string& time, const std::string& device, const Action* a, const Exchange& x) {
    auto bytesOrNull = [](const std::optional<std::string>& s) { return s ? jsonBytes(*s) : std::string("null"); };
    auto numberOrNull = [](const std::optional<long long>& n) { return n ? std::to_string(*n) : std::string("null"); };
    std::string line = "{\"time\":" + jsonText(time);
    line += ",\"device\":" + jsonText(device);
    line += ",\"action\":" + (a ? jsonText(a->name) : "null");
    line += ",\"code\":" + (a ? jsonText(a->code) : "null");
    line += ",\"sent\":" + (x.sent.empty() ? std::string("null") : jsonBytes(x.sent));
    line += ",\"reply\":" + bytesOrNull(x.reply);
    line += ",\"acknowledged\":" + (x.acknowledged ? std::string(*x.acknowledged ? "true" : "false") : "null");
    line += ",\"words\":" + bytesOrNull(x.words);
    line += ",\"hours\":" + numberOrNull(x.hours);
    line += ",\"ms\":" + numberOrNull(x.ms);
    line += ",\"discarded\":" + bytesOrNull(x.discarded);
    line += x.error.empty() ? ",\"ok\":true}" : ",\"ok\":false,\"error\":" + jsonText(x.error) + "}";
    return line;
}

void Printer::traffic(const std::string& stamp, const char* direction, const std::string& rendered) {
    err_ << stamp << ' ' << direction << rendered << '\n' << std::flush;
}

bool Printer::exchanged(const Action& a, const Exchange& x) {
    if (!x.error.empty()) err_ << "qelo-ctl: " << x.error << '\n' << std::flush;
    if (o_.json) {
        out_ << jsonLine(utcNow(), device_, &a, x) << '\n' << std::flush;
    } else {
        if (!x.note.empty() && noted_.insert(a.name).second) err_ << "qelo-ctl: " << x.note << '\n' << std::flush;
        if (x.status == kDone && x.reply) {
            if (o_.raw)
                out_ << link::render(*x.reply) << '\n';
            else if (a.query)
                out_ << x.words.value_or(link::render(*x.reply)) << '\n';
            out_ << std::flush;
        }
    }
    return outputWritten(out_, err_);
}

bool Printer::failedToOpen(const std::string& why) {
    err_ << "qelo-ctl: " << why << '\n' << std::flush;
    if (o_.json) {
        const std::string time = utcNow();
        Exchange x;
        x.status = kPortFailed;
        x.error = why;
        for (const Action& a : o_.actions) out_ << jsonLine(time, device_, &a, x) << '\n' << std::flush;
    }
    return outputWritten(out_, err_);
}

bool outputWritten(std::ostream& out, std::ostream& err) {
    if (out) return true;
    const int why = errno;
    err << "qelo-ctl: standard output could not be written" << (why ? std::string(": ") + std::strerror(why) : "")
        << '\n' << std::flush;
    return false;
}

Task<int> session(Opener open, const std::string& device, const Options& o, std::ostream& out, std::ostream& err,
                  std::unique_ptr<Line>& line) {
    Printer printer(o, device, out, err);
    std::string failure;
    try {
        line = co_await open();
    } catch (const platform::LineError& e) {
        failure = e.what();
    }
    if (!line) co_return printer.failedToOpen(failure) ? kPortFailed : kOutputLost;
    Runner runner(*line, printer);
    co_return co_await runner.run(o);
}

}  // namespace qelo::ctl
