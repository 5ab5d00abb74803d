#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <algorithm>

#include <map>
#include <sstream>
#include <vector>

#include "ctl/qt_line.h"
#include "ctl/escape.h"
#include "ctl/report.h"
#include "ctl/runner.h"
#include "ctl/telnet.h"
#include "seam/platform.h"

using namespace qelo::ctl;

namespace {

// A projector on a scripted line with a clock that jumps to the next event.
class ScriptedLine : public Line {
public:
    struct Answer {
        long long delay;
        std::string bytes;
    };
    std::map<std::string, std::vector<Answer>> answers;  // by frame, in pieces
    std::vector<std::pair<long long, std::string>> sent;
    int failSendAt = -1;        // the send (from 0) that throws
    long long closedAt = -1;    // the peer hangs up then, once all before it is read
    long long quiet = 0;

    void arrive(long long at, std::string bytes) { due_.push_back({at, std::move(bytes)}); }

    void send(const std::string& bytes) override {
        if (static_cast<int>(sent.size()) == failSendAt)
            throw qelo::platform::LineError("/dev/pts/9: the device went away (the line was hung up)");
        sent.push_back({now_, bytes});
        if (auto it = answers.find(bytes); it != answers.end())
            for (const auto& a : it->second) arrive(now_ + a.delay, a.bytes);
    }
    Task<std::string> receive(long long until) override { co_return take(until); }
    std::string take(long long until) {
        long long next = until;
        for (const auto& [at, b] : due_) next = std::min(next, at);
        now_ = std::max(now_, next);
        std::string got;
        if (closedAt >= 0 && now_ >= closedAt && std::none_of(due_.begin(), due_.end(), [&](auto& d) { return d.first <= now_; }))
            throw qelo::platform::LineError("tcp://127.0.0.1:7: the server closed the connection");
        for (auto it = due_.begin(); it != due_.end();) {
            if (it->first <= now_) {
                got += it->second;
                it = due_.erase(it);
            } else {
                ++it;
            }
        }
        return got;
    }
    long long now() override { return now_; }
    std::string stamp() override { return std::to_string(now_); }
    std::string device() const override { return "/dev/pts/9"; }
    long long quietMs() const override { return quiet; }

    std::vector<long long> sendTimes() const {
        std::vector<long long> t;
        for (const auto& s : sent) t.push_back(s.first);
        return t;
    }

private:
    long long now_ = 0;
    std::vector<std::pair<long long, std::string>> due_;
};

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

Outcome runCtl(ScriptedLine& line, std::vector<std::string> args) {
    const ParseResult p = parseCommandLine(args);
    EXPECT_TRUE(p.options) << p.error;
    std::ostringstream out, err;
    Printer printer(*p.options, line.device(), out, err);
    Runner runner(line, printer);
    const int status = finished(runner.run(*p.options));
    return {status, out.str(), err.str()};
}

}  // namespace

TEST(Runner, QueryRepliesBecomeWordsOrTheirRenderedForm) {
    const struct {
        std::vector<std::string> args;
        std::string frame;
        std::vector<ScriptedLine::Answer> answer;
        std::string out;
    } cases[] = {
        {{"status"}, "CR0\r", {{10, "00\r"}}, "Power ON\n"},
        {{"status"}, "CR0\r", {{10, "88\r"}}, "Temperature abnormality\n"},
        {{"mode"}, "CR1\r", {{10, "1\r"}}, "Computer\n"},
        {{"setting"}, "CR4\r", {{10, "00\r"}}, "Top/Bottom , Left/Right reversal\n"},
        // The lamp hours as a number, however many digits.
        {{"l-time"}, "CR3\r", {{10, "0123\r"}}, "123\n"},
        {{"l-time"}, "CR3\r", {{10, "12345\r"}}, "12345\n"},
        // No table: the reply as the RXD line shows it.
        {{"cr2"}, "CR2\r", {{10, "7\r"}}, " 7 CR \n"},
        {{"--raw", "status"}, "CR0\r", {{10, "00\r"}}, " 0 0 CR \n"},
        // A reply in pieces is read whole; only up to its CR.
        {{"status"}, "CR0\r", {{5, "8"}, {40, "0\r"}}, "Stand by\n"},
        {{"status"}, "CR0\r", {{5, "80\r04\r"}}, "Stand by\n"},
    };
    for (const auto& c : cases) {
        ScriptedLine line;
        line.answers[c.frame] = c.answer;
        const Outcome r = runCtl(line, c.args);
        EXPECT_EQ(r.status, kDone) << c.args.back() << r.err;
        EXPECT_EQ(r.out, c.out) << c.args.back();
    }
}

TEST(Runner, ControlCommandsPrintNothingAndWaitOnlyForTheirAcknowledgement) {
    ScriptedLine line;
    line.answers["C00\r"] = {{10, "\x06\r"}};
    Outcome r = runCtl(line, {"power on"});
    EXPECT_EQ(r.status, kDone);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(line.now(), 10);

    ScriptedLine mute;  // never acknowledges
    r = runCtl(mute, {"power on"});
    EXPECT_EQ(r.status, kDone);
    EXPECT_EQ(mute.now(), kSettleMs);

    ScriptedLine raw;
    raw.answers["C00\r"] = {{10, "\x06\r"}};
    EXPECT_EQ(runCtl(raw, {"--raw", "power on"}).out, " ACK CR \n");
}

TEST(Runner, LateAcknowledgementIsNotTakenForTheQueryAnswer) {
    ScriptedLine line;
    line.answers["C02\r"] = {{kSettleMs + 30, "\x06\r"}};
    line.answers["CR0\r"] = {{60, "20\r"}};
    const Outcome r = runCtl(line, {"power off", "status"});
    EXPECT_EQ(r.status, kDone) << r.err;
    EXPECT_EQ(r.out, "Cooling down\n");
}

// What waits on the line before a frame is written is set aside, never taken
// for its answer; a server that talks and hangs up is quoted.
TEST(Runner, TextBeforeTheFrameIsSetAside) {
    const std::string banner = "\r\nser2net port 7 device /dev/pts/3 [19200N81] (Debian GNU/Linux)\r\n\r\n";
    const struct {
        long long quiet;
        std::vector<std::pair<long long, std::string>> before;
        long long closedAt;
        std::vector<std::string> args;
        int status;
        std::string out;  // must appear
        std::string err;  // must appear
        long long firstSend;  // -1: nothing sent
    } cases[] = {
        {0, {{0, "80\r4"}}, -1, {"--watch", "status"}, kDone, "Power ON\n",
         "0 RXD 8 0 CR \n0 RXD 4 \n0 TXD C R 0 CR \n10 RXD 0 0 CR \n", 0},
        // A greeting in two pieces: the first frame waits for the line to be quiet.
        {100, {{2, banner.substr(0, 9)}, {30, banner.substr(9)}}, -1, {"--json", "status"}, kDone,
         R"("discarded":"\r\nser2net port 7 device /dev/pts/3 [19200N81] (Debian GNU/Linux)\r\n\r\n","ok":true)", "", 130},
        {100, {{3, "Device open failure: Value or file not found\r\n"}}, 4, {"l-time"}, kPortFailed, "",
         "qelo-ctl: tcp://127.0.0.1:7: the server closed the connection after saying \"Device open failure: Value or "
         "file not found\\r\\n\"\n",
         -1},
        // Its words come as the answer and the hang-up right after them.
        {0, {}, 5, {"l-time"}, kPortFailed, "", "after saying \"Device open failure\\r\\n\"\n", 0},
    };
    for (const auto& c : cases) {
        ScriptedLine line;
        line.quiet = c.quiet;
        line.closedAt = c.closedAt;
        for (const auto& [at, bytes] : c.before) line.arrive(at, bytes);
        line.answers["CR0\r"] = {{10, "00\r"}};
        line.answers["CR3\r"] = {{5, "Device open failure\r\n"}};
        const Outcome r = runCtl(line, c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        EXPECT_EQ(line.sent.empty() ? -1 : line.sent[0].first, c.firstSend);
    }
}

TEST(Runner, MissingReplyStopsTheRunWithStatusTwo) {
    ScriptedLine line;
    const Outcome r = runCtl(line, {"--watch", "--timeout", "300", "status", "power off"});
    EXPECT_EQ(r.status, kNoReply);
    EXPECT_EQ(line.sent.size(), 1u);
    EXPECT_EQ(line.now(), 300);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err,
              "0 TXD C R 0 CR \n300 RXD X X X X\n"
              "qelo-ctl: no reply to \"status\" (CR0) within 300 ms on /dev/pts/9\n");
}

TEST(Runner, RepeatKeepsItsPaceWithoutWaitingForAcknowledgements) {
    ScriptedLine line;
    line.answers["C09\r"] = {{70, "\x06\r"}};  // slower than the pace
    const Outcome r = runCtl(line, {"--repeat", "5", "--interval", "50", "vol +"});
    EXPECT_EQ(r.status, kDone);
    EXPECT_EQ(line.sendTimes(), (std::vector<long long>{0, 50, 100, 150, 200}));
    // Acknowledgements carry no name: the first after the last send ends it.
    EXPECT_EQ(line.now(), 220);
    // Nor is a hold judged frame by frame: the last one's stands for it.
    EXPECT_EQ(r.err, "");
    ScriptedLine required;
    required.answers["C09\r"] = {{70, "\x06\r"}};
    EXPECT_EQ(runCtl(required, {"--require-ack", "--repeat", "5", "--interval", "50", "vol +"}).status, kDone);
}

TEST(Runner, RepeatedQueriesEachWaitForTheirOwnReply) {
    ScriptedLine line;
    line.answers["CR1\r"] = {{80, "3\r"}};
    const Outcome r = runCtl(line, {"--repeat", "3", "--interval", "20", "mode"});
    EXPECT_EQ(r.out, "Video\nVideo\nVideo\n");
    EXPECT_EQ(line.sendTimes(), (std::vector<long long>{0, 80, 160}));
}

TEST(Runner, LineFailureIsStatusThreeWithTheDevice) {
    ScriptedLine line;
    line.failSendAt = 1;
    const Outcome r = runCtl(line, {"power on", "status"});
    EXPECT_EQ(r.status, kPortFailed);
    EXPECT_EQ(r.err,
              "qelo-ctl: no acknowledgement of \"power on\" (C00) within 100 ms on /dev/pts/9\n"
              "qelo-ctl: /dev/pts/9: the device went away (the line was hung up)\n");

    // Opened without the command line's checks, as the bridge does.
    std::ostringstream out, err;
    EXPECT_EQ(runSession([] { return openLine("tcp://h", 1, 9600); }, "tcp://h", {}, out, err), kPortFailed);
    EXPECT_EQ(err.str(), "qelo-ctl: tcp://h has no port (tcp://HOST:PORT)\n");
}

// Every line --json prints must parse, and its byte fields must give back
// exactly the bytes that travelled, whatever they were. The rows are the
// hostile peers too: none of them may pass for an answer.
TEST(Runner, JsonLinesCarryEveryByteAndTheOutcome) {
    std::string everyByte;
    for (int b = 0; b < 256; ++b)
        if (b != '\r') everyByte += static_cast<char>(b);
    const std::string kStates = "one of 00 80 40 20 10 88 08 24 04 28 02, then CR";
    const struct {
        std::vector<std::string> args;
        std::string answer;  // to CR0 and C00; empty: none
        int status;
        std::string reply;  // expected, as bytes; "-" for null
        std::string words;  // "-" for null
        std::string error;  // empty: ok
    } cases[] = {
        {{"status"}, "00\r", kDone, "00\r", "Power ON", ""},
        {{"power on"}, "\x06\r", kDone, "\x06\r", "-", ""},
        {{"power on"}, "", kDone, "-", "-", ""},
        {{"--require-ack", "power on"}, "", kNoReply, "-", "-",
         "no acknowledgement of \"power on\" (C00) within 100 ms on /dev/pts/9"},
        // What came instead of an acknowledgement is told, not lost.
        {{"power on"}, "XYZW", kDone, "XYZW", "-", ""},
        {{"l-time"}, "0123\r", kDone, "0123\r", "123", ""},
        {{"status"}, everyByte + "\r", kUnexpected, everyByte + "\r", "-",
         "unexpected answer to \"status\" (CR0) on /dev/pts/9: " + quoteBytes(everyByte + "\r") + ", expected " + kStates},
        {{"status"}, "01\r", kUnexpected, "01\r", "-",
         "unexpected answer to \"status\" (CR0) on /dev/pts/9: \"01\\r\", expected " + kStates},
        {{"status"}, "\x06\r", kUnexpected, "\x06\r", "-",
         "unexpected answer to \"status\" (CR0) on /dev/pts/9: \"\\x06\\r\", expected " + kStates},
        {{"power on"}, "80\r", kUnexpected, "80\r", "-",
         "unexpected answer to \"power on\" (C00) on /dev/pts/9: \"80\\r\", expected ACK CR"},
        {{"status"}, "8", kNoReply, "8", "-",
         "the reply to \"status\" (CR0) on /dev/pts/9 had no CR by the time-out: \"8\""},
        {{"status"}, "", kNoReply, "-", "-", "no reply to \"status\" (CR0) within 500 ms on /dev/pts/9"},
        {{"status"}, std::string(70'000, 'x'), kNoReply, std::string(kLongestReply, 'x'), "-",
         "the reply to \"status\" (CR0) on /dev/pts/9 ran past 256 bytes without a CR"},
        // The cap counts bytes before the CR, not the pieces they came in.
        {{"status"}, std::string(60'000, '7') + "\r", kNoReply, std::string(kLongestReply, '7'), "-",
         "the reply to \"status\" (CR0) on /dev/pts/9 ran past 256 bytes without a CR"},
    };
    for (const auto& c : cases) {
        ScriptedLine line;
        if (!c.answer.empty()) line.answers["CR0\r"] = line.answers["C00\r"] = line.answers["CR3\r"] = {{10, c.answer}};
        std::vector<std::string> args{"--json"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Outcome r = runCtl(line, args);
        EXPECT_EQ(r.status, c.status) << c.reply.size();
        QJsonParseError error{};
        const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(r.out), &error).object();
        ASSERT_EQ(error.error, QJsonParseError::NoError) << r.out;
        EXPECT_EQ(QString::fromStdString(r.out).count('\n'), 1);
        EXPECT_TRUE(QRegularExpression(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$)").match(o["time"].toString()).hasMatch());
        EXPECT_TRUE(o["discarded"].isNull());
        EXPECT_EQ(o["device"].toString(), "/dev/pts/9");
        EXPECT_EQ(o["code"].toString(), line.sent.at(0).second.substr(0, 3).c_str());
        EXPECT_EQ(o["sent"].toString(), QString::fromStdString(line.sent.at(0).second));
        auto bytes = [](const QJsonValue& v) { return v.isNull() ? std::string("-") : v.toString().toLatin1().toStdString(); };
        EXPECT_EQ(bytes(o["reply"]), c.reply);
        EXPECT_EQ(bytes(o["words"]), c.words);
        const bool control = c.args.back() == "power on";
        EXPECT_EQ(o["acknowledged"].isNull(), !control);
        EXPECT_EQ(o["acknowledged"].toBool(), control && c.reply == "\x06\r");
        EXPECT_EQ(o["hours"].isNull(), c.args.back() != "l-time");
        if (!o["hours"].isNull()) {
            EXPECT_EQ(std::to_string(o["hours"].toInteger()), c.words);
        }
        EXPECT_EQ(o["ms"].isNull(), c.reply == "-");
        EXPECT_EQ(o["ok"].toBool(), c.error.empty());
        EXPECT_EQ(o["error"].toString().toStdString(), c.error);
        EXPECT_TRUE(std::all_of(r.out.begin(), r.out.end(), [](char ch) { return ch > 0 && ch < 0x7f && ch != '\r'; }));
    }

    // Text from the user is UTF-8; what is not becomes U+FFFD.
    Exchange failed;
    failed.error = "x";
    const std::string line = jsonLine("", "/dev/\xe2\x86\x91\xf0\x9f\x93\xbd\xff\xc0\xaf\xed\xa0\x80\"\\\t", nullptr, failed);
    const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
    EXPECT_EQ(o["device"].toString(), QString::fromUtf8("/dev/\u2191\U0001F4FD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\"\\\t"));
    EXPECT_FALSE(o["ok"].toBool());
}

// The telnet layer over the scripted line: the opening, the settings once the
// server takes the COM port option, answers only to what changes, and 255
// doubled on the wire but single in the data.
TEST(Telnet, NegotiatesSetsTheLineAndKeepsTheDataWhole) {
    using namespace qelo::ctl::telnet;
    auto owned = std::make_unique<ScriptedLine>();
    ScriptedLine& server = *owned;
    server.quiet = 100;
    auto iac = [](std::initializer_list<int> bytes) {
        std::string s;
        for (int b : bytes) s += static_cast<char>(b);
        return s;
    };
    // DO BINARY, WILL BINARY, DO COM-PORT, WILL SGA, WILL ECHO, a banner,
    // then the speed confirmed split across two pieces.
    server.arrive(1, iac({255, 253, 0, 255, 251, 0, 255, 253, 44, 255, 251, 3, 255, 251, 1}) + "hi\r\n");
    server.arrive(2, iac({255, 250, 44, 101, 0, 0}));
    server.arrive(3, iac({0x25, 0x80, 255, 240}));
    server.answers["CR2\r"] = {{10, "a" + iac({255, 255}) + "b\r"}};
    TelnetLine line(std::move(owned), 9600);
    const ParseResult p = parseCommandLine({"--json", "cr2"});
    std::ostringstream out, err;
    Printer printer(*p.options, line.device(), out, err);
    Runner runner(line, printer);
    EXPECT_EQ(finished(runner.run(*p.options)), kDone) << err.str();

    auto sub = [&](int cmd, std::string value) { return iac({255, 250, 44, cmd}) + value + iac({255, 240}); };
    const std::string settings = sub(1, iac({0, 0, 0x25, 0x80})) + sub(2, iac({8})) + sub(3, iac({1})) +
                                 sub(4, iac({1})) + sub(5, iac({1}));
    ASSERT_EQ(server.sent.size(), 3u);
    EXPECT_EQ(server.sent[0].second, iac({255, 251, 0, 255, 253, 0, 255, 251, 44}));
    EXPECT_EQ(server.sent[1].second, settings + iac({255, 253, 3, 255, 254, 1}));
    EXPECT_EQ(server.sent[2].second, "CR2\r");  // binary by now: no NUL after the CR
    const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(out.str())).object();
    EXPECT_EQ(o["reply"].toString().toLatin1().toStdString(), "a\xff" "b\r");
    EXPECT_EQ(o["discarded"].toString().toStdString(), "hi\r\n");
    EXPECT_EQ(line.confirmedBaud(), 9600);

    Session fresh;
    EXPECT_EQ(fresh.escape("C\xff\r"), "C\xff\xff\r" + iac({0}));
    EXPECT_TRUE(negotiates(iac({255, 251, 3})));
    EXPECT_FALSE(negotiates("\r\nser2net port"));
}
