#include "sim/options.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using qelo::sim::applyCommand;
using qelo::sim::parseArgs;
using qelo::sim::Projector;

TEST(Options, ReadsEveryOptionInBothSpellings) {
    auto r = parseArgs({"--baud", "9600", "--reply-delay=25", "--countdown", "500", "--cooldown=700",
                        "--hours", "12.5", "--time-scale=3600", "--state", "88", "--mode", "3", "--reversal=01",
                        "--silent", "--garbage", "--split", "20", "--chatter=100", "--hangup-after", "3",
                        "--seed", "9", "--quiet", "--exit-on-eof", "--idle-timeout", "5", "/dev/ttyUSB0"});
    ASSERT_TRUE(r.options) << r.error;
    const auto& o = *r.options;
    EXPECT_EQ(o.settings.baud, 9600);
    EXPECT_EQ(o.settings.replyDelay, 25ms);
    EXPECT_EQ(o.settings.countdown, 500ms);
    EXPECT_EQ(o.settings.cooldown, 700ms);
    EXPECT_DOUBLE_EQ(o.settings.lampHours, 12.5);
    EXPECT_DOUBLE_EQ(o.settings.timeScale, 3600);
    EXPECT_EQ(o.settings.state, "88");
    EXPECT_EQ(o.settings.mode, '3');
    EXPECT_EQ(o.settings.reversal, "01");
    EXPECT_TRUE(o.faults.silent && o.faults.garbage && o.quiet && o.exitOnEof);
    EXPECT_EQ(o.faults.split, 20ms);
    EXPECT_EQ(o.faults.chatter, 100ms);
    EXPECT_EQ(o.faults.hangupAfter, 3);
    EXPECT_EQ(o.settings.seed, 9u);
    EXPECT_EQ(o.idleTimeout, 5s);
    EXPECT_EQ(o.device, "/dev/ttyUSB0");
    EXPECT_FALSE(o.listen);

    for (auto [given, host, port] : {std::tuple{"4001", "127.0.0.1", 4001}, {"0.0.0.0:0", "0.0.0.0", 0},
                                     {"[::1]:80", "::1", 80}}) {
        auto l = parseArgs({"--listen", given});
        ASSERT_TRUE(l.options && l.options->listen) << given << ": " << l.error;
        EXPECT_EQ(l.options->listen->host, host);
        EXPECT_EQ(l.options->listen->port, port);
    }
}

TEST(Options, RefusesBadValues) {
    for (auto args : std::vector<std::vector<std::string>>{
             {"--baud"}, {"--baud", "0"}, {"--baud", "96OO"}, {"--reply-delay", "-1"}, {"--split", "1.5"},
             {"--time-scale", "0"}, {"--time-scale", "nan"}, {"--hours", "-2"}, {"--state", "81"},
             {"--mode", "4"}, {"--mode", "11"}, {"--reversal", "12"}, {"--silent=on"}, {"--nope"},
             {"dev1", "dev2"}, {"--seed", "1e3"}, {"--listen", "4001", "/dev/ttyUSB0"}, {"--listen", "70000"},
             {"--listen", "::1:4001"}, {"--listen", ":4001"}, {"--listen", "host:"}, {"--listen"}, {"--seed", "+1"},
             {"--hours", "1", "--hours", "-1"}, {"--idle-timeout", "-1"}, {"--idle-timeout", "1.5"}}) {
        auto r = parseArgs(args);
        EXPECT_FALSE(r.options) << args[0];
        EXPECT_FALSE(r.error.empty());
    }
}

TEST(Commands, SwitchTheProjectorAtRunTime) {
    Projector p;
    struct Case {
        const char* line;
        bool ok;
    };
    for (auto [line, ok] : {Case{"silent", true}, Case{"silent off", true}, Case{"garbage on", true},
                            Case{"split 20", true}, Case{"chatter 100", true}, Case{"state 88", true},
                            Case{"mode 2", true}, Case{"reversal 10", true}, Case{"hours 1e300", true},
                            Case{"hours 42", true},
                            Case{"delay 5", true}, Case{"hangup-after 7", true}, Case{"  # note", true},
                            Case{"", true}, Case{"silent maybe", false}, Case{"split -3", false},
                            Case{"state 8", false}, Case{"mode x", false}, Case{"hangup now", false},
                            Case{"frobnicate", false}, Case{"state 88 99", false},
                            Case{"chatter 9000000000000000000", false}})
        EXPECT_EQ(applyCommand(p, 1s, line).ok, ok) << line;
    EXPECT_FALSE(p.faults().silent);
    EXPECT_TRUE(p.faults().garbage);
    EXPECT_EQ(p.faults().split, 20ms);
    EXPECT_EQ(p.faults().chatter, 100ms);
    EXPECT_EQ(p.state(), "88");
    EXPECT_EQ(p.mode(), '2');
    EXPECT_EQ(p.reversal(), "10");
    EXPECT_EQ(p.answerTo("CR3", 1s), "0042\r");
    EXPECT_FALSE(p.hungUp());
    EXPECT_TRUE(applyCommand(p, 2s, "hangup").ok);
    EXPECT_TRUE(p.hungUp());
    EXPECT_TRUE(applyCommand(p, 2s, "quit").quit);
}

// However standard input comes in, lines come out whole, and an endless one
// is neither kept nor searched again.
TEST(Commands, StandardInputIsCutIntoBoundedLines) {
    using qelo::sim::CommandLines;
    const std::string huge(3 * CommandLines::kMaxLine, 'x');
    struct Case {
        std::vector<std::string> pieces;
        std::vector<std::string> lines;  // "!" marks one dropped as overlong
    };
    for (const auto& [pieces, lines] : std::vector<Case>{
             {{"status\nmode 2\n"}, {"status", "mode 2"}},
             {{"sta", "tus", "\n\nquit"}, {"status", ""}},
             {{huge, "x\nstatus\n"}, {"!", "status"}},
             {{huge.substr(0, CommandLines::kMaxLine), "\n"}, {huge.substr(0, CommandLines::kMaxLine)}},
             {{"a", huge, huge, "\nquit\n"}, {"!", "quit"}},
         }) {
        CommandLines in;
        std::vector<std::string> got;
        for (const auto& piece : pieces)
            for (const auto& line : in.feed(piece)) {
                EXPECT_LE(line.text.size(), CommandLines::kMaxLine);
                got.push_back(line.overlong() ? "!" : line.text);
            }
        EXPECT_EQ(got, lines) << pieces[0].substr(0, 8);
    }
}
