#include "sim/projector.h"

#include <gtest/gtest.h>

#include <random>

#include "link/answer.h"
#include "link/protocol.h"

using namespace std::chrono_literals;
using qelo::sim::Faults;
using qelo::sim::Projector;
using qelo::sim::Settings;
using qelo::sim::Time;

namespace {

struct Byte {
    Time at;
    char c;
};

// Drives the machine as the program's loop would, waking exactly when it
// asks to, and records every byte with the time it left.
std::vector<Byte> runUntil(Projector& p, Time end) {
    std::vector<Byte> out;
    while (auto due = p.nextDue()) {
        if (*due > end) break;
        for (char c : p.transmit(*due)) out.push_back({*due, c});
    }
    p.advance(end);
    return out;
}

std::string text(const std::vector<Byte>& bytes) {
    std::string s;
    for (const Byte& b : bytes) s += b.c;
    return s;
}

// Sends a frame at `at` and returns everything sent in the next second.
std::string ask(Projector& p, Time at, std::string_view code) {
    p.receive(at, std::string(code) + "\r");
    return text(runUntil(p, at + 1s));
}

Settings quick() {
    Settings s;
    s.countdown = 3000ms;
    s.cooldown = 5000ms;
    s.replyDelay = 10ms;
    return s;
}

}  // namespace

// Every state the projector can report answers every query in the shape the
// panel's tables decode.
class EachState : public ::testing::TestWithParam<const char*> {};

TEST_P(EachState, AnswersAllQueriesAsThePanelDecodesThem) {
    Projector p(quick());
    ASSERT_TRUE(p.forceState(0s, GetParam()));
    Time t = 0s;
    std::string cr0 = ask(p, t, "CR0");
    EXPECT_EQ(cr0, std::string(GetParam()) + "\r");
    EXPECT_TRUE(qelo::link::readAnswer("CR0", cr0).word) << cr0;
    EXPECT_EQ(ask(p, t += 10ms, "CR1"), "1\r");
    EXPECT_EQ(ask(p, t += 10ms, "CR4"), "11\r");
    std::string cr3 = ask(p, t += 10ms, "CR3");
    ASSERT_EQ(cr3.size(), 5u);
    EXPECT_EQ(cr3.substr(0, 2), "00");
    EXPECT_EQ(cr3.back(), '\r');
}

INSTANTIATE_TEST_SUITE_P(Cr0, EachState,
                         ::testing::Values("80", "40", "00", "20", "10", "88", "08", "24", "04", "28", "02"));

TEST(Projector, PowerCycleTakesTheCountdownAndTheCooling) {
    Projector p(quick());
    EXPECT_EQ(ask(p, 0s, "C00"), qelo::sim::kAck);
    EXPECT_EQ(ask(p, 2999ms, "CR0"), "40\r");
    EXPECT_EQ(ask(p, 3000ms, "CR0"), "00\r");
    EXPECT_EQ(ask(p, 4000ms, "C02"), qelo::sim::kAck);
    EXPECT_EQ(ask(p, 8999ms, "CR0"), "20\r");
    EXPECT_EQ(ask(p, 9000ms, "CR0"), "80\r");
    // Already in the state asked for: carried out, nothing to do.
    EXPECT_EQ(ask(p, 10s, "C02"), qelo::sim::kAck);
    EXPECT_EQ(p.state(), "80");
}

TEST(Projector, PowerManagementCoolsThenWaitsThenWakes) {
    struct Step {
        const char* code;
        const char* after;
    };
    // From 00: C2A → 24, cooled → 04; from 04 each wake-up or off.
    for (auto [code, after] : {Step{"C2B", "40"}, Step{"C00", "40"}, Step{"C02", "80"}}) {
        Projector p(quick());
        p.forceState(0s, "00");
        EXPECT_EQ(ask(p, 0s, "C2A"), qelo::sim::kAck);
        EXPECT_EQ(p.state(), "24");
        runUntil(p, 5000ms);
        EXPECT_EQ(p.state(), "04");
        EXPECT_EQ(ask(p, 6s, code), qelo::sim::kAck) << code;
        EXPECT_EQ(p.state(), after) << code;
    }
}

TEST(Projector, BusyOrFailedProjectorIgnoresControlsButAnswersQueries) {
    for (const char* state : {"40", "20", "24", "10", "88", "08", "28", "02"}) {
        for (const char* code : {"C00", "C02", "C06", "C2A", "C2B", "C09"}) {
            Projector p(quick());
            p.forceState(0s, state);
            EXPECT_EQ(ask(p, 1ms, code), "") << state << " " << code;
            EXPECT_EQ(p.state(), state) << state << " " << code;
            EXPECT_EQ(p.mode(), '1');
            EXPECT_EQ(ask(p, 2ms, "CR0"), std::string(state) + "\r");
        }
    }
}

TEST(Projector, InputSelectChangesTheMode) {
    Projector p(quick());
    ask(p, 0s, "C06");
    EXPECT_EQ(ask(p, 1s, "CR1"), "3\r");
    ask(p, 2s, "C05");
    EXPECT_EQ(ask(p, 3s, "CR1"), "1\r");
}

TEST(Projector, LampHoursGrowOnlyWhileTheLampIsOn) {
    Settings s = quick();
    s.lampHours = 12;
    s.timeScale = 3600;  // a second an hour
    Projector p(s);
    EXPECT_EQ(ask(p, 100s, "CR3"), "0012\r");  // standby: lamp off
    ask(p, 100s, "C00");                        // 3 s count-down, lamp on
    EXPECT_EQ(ask(p, 110s, "CR3"), "0022\r");
    ask(p, 110s, "C02");  // cooling: lamp off
    EXPECT_EQ(ask(p, 200s, "CR3"), "0022\r");
    p.setLampHours(200s, 9998);
    p.forceState(200s, "00");
    EXPECT_EQ(ask(p, 300s, "CR3"), "9999\r");  // four digits at most
}

TEST(Projector, AnswersComeAfterTheDelayAtTheBaudRate) {
    Settings s = quick();
    s.baud = 9600;  // 1042 us a byte, rounded up
    Projector p(s);
    p.receive(0s, "CR0\rCR1\r");
    std::vector<Byte> out = runUntil(p, 1s);
    ASSERT_EQ(text(out), "80\r1\r");
    EXPECT_EQ(out[0].at, 10ms);
    for (std::size_t i = 1; i < out.size(); ++i) EXPECT_GE(out[i].at - out[i - 1].at, 1042us);
    EXPECT_EQ(p.counters().answers, 2);
}

TEST(Projector, FrameMayArriveInPieces) {
    Projector p(quick());
    p.receive(0ms, "C");
    p.receive(5ms, "R0");
    EXPECT_EQ(text(runUntil(p, 100ms)), "");
    p.receive(200ms, "\r");
    EXPECT_EQ(text(runUntil(p, 1s)), "80\r");
}

struct BadInput {
    const char* name;
    std::string bytes;
};
std::ostream& operator<<(std::ostream& out, const BadInput& b) { return out << b.name; }

class Malformed : public ::testing::TestWithParam<BadInput> {};

TEST_P(Malformed, IsCountedUnansweredAndTheNextFrameStillWorks) {
    Projector p(quick());
    p.receive(0s, GetParam().bytes);
    EXPECT_EQ(text(runUntil(p, 1s)), "");
    EXPECT_EQ(p.counters().malformed, 1);
    EXPECT_EQ(p.counters().frames, 0);
    EXPECT_EQ(ask(p, 2s, "CR0"), "80\r");
}

INSTANTIATE_TEST_SUITE_P(
    Frames, Malformed,
    ::testing::Values(BadInput{"empty", "\r"}, BadInput{"short", "C0\r"}, BadInput{"long", "CR00\r"},
                      BadInput{"high", "C\xff" "0\r"}, BadInput{"high_last", "CR\x80\r"},
                      BadInput{"control", "\x06R0\r"}, BadInput{"nul", std::string("C\0" "0\r", 4)},
                      BadInput{"overlong", std::string(100000, 'A') + "\r"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Projector, UnknownCodesGetNoAnswer) {
    Projector p(quick());
    for (const char* code : {"cr0", "CR2", "C7F", "XYZ", "   "}) EXPECT_EQ(ask(p, 0s, code), "") << code;
    EXPECT_EQ(p.counters().frames, 5);
}

TEST(Projector, FloodNeverCrashesAndStaysBounded) {
    std::mt19937 rng(7);
    std::string flood;
    std::size_t crs = 0;
    for (int i = 0; i < 1'000'000; ++i) {
        char c = static_cast<char>(rng() & 0xff);
        if (i % 4000 == 0) flood += "CR0\r", ++crs;
        crs += c == '\r';
        flood += c;
    }
    Projector p(quick());
    for (std::size_t at = 0; at < flood.size(); at += 4096)
        p.receive(Time{at}, std::string_view(flood).substr(at, 4096));
    EXPECT_EQ(static_cast<std::size_t>(p.counters().frames + p.counters().malformed), crs);
    EXPECT_LE(p.waitingAnswers(), Projector::kMaxWaiting);

    // Queries faster than the answers can leave: the excess is dropped.
    Projector q(quick());
    std::string many;
    for (int i = 0; i < 1000; ++i) many += "CR0\r";
    q.receive(0s, many);
    EXPECT_EQ(q.waitingAnswers(), Projector::kMaxWaiting);
    runUntil(q, 10s);
    EXPECT_EQ(q.counters().answers, static_cast<long>(Projector::kMaxWaiting));
    EXPECT_EQ(q.counters().dropped, 1000 - static_cast<long>(Projector::kMaxWaiting));
}

// A TCP client that leaves takes its half frame and its unsent answers with
// it; chatter meanwhile goes nowhere and is not counted.
TEST(Projector, DisconnectSendsNothingMoreUntilTheNextClient) {
    Faults f;
    f.chatter = 100ms;
    Projector p(quick(), f);
    p.receive(0ms, "CR0\rCR1\rC");
    EXPECT_EQ(p.disconnect(5ms), 2u);
    EXPECT_EQ(text(runUntil(p, 1s)), "");
    EXPECT_EQ(p.counters().unasked, 0);
    p.setChatter(1s, 0ms);
    p.connect(1s);
    EXPECT_EQ(ask(p, 1s, "R4"), "");  // not glued to the last client's "C"
    EXPECT_EQ(ask(p, 2s, "CR4"), "11\r");
    EXPECT_EQ(p.counters().answers, 1);
}

TEST(Projector, SilentProjectorStillObeys) {
    Faults f;
    f.silent = true;
    Projector p(quick(), f);
    EXPECT_EQ(ask(p, 0s, "C00"), "");
    EXPECT_EQ(p.state(), "40");
    p.setSilent(1s, false);
    EXPECT_EQ(ask(p, 1s, "CR0"), "40\r");
    // Answers already waiting do not leak out once silenced.
    p.receive(2s, "CR0\r");
    p.setSilent(2s, true);
    EXPECT_EQ(text(runUntil(p, 3s)), "");
}

TEST(Projector, GarbageHasControlAndHighBytes) {
    Faults f;
    f.garbage = true;
    Projector p(quick(), f);
    for (int i = 0; i < 50; ++i) {
        std::string g = ask(p, Time{i * 1s}, i % 2 ? "CR0" : "C0B");
        ASSERT_FALSE(g.empty());
        EXPECT_TRUE(std::any_of(g.begin(), g.end(), [](char c) { return static_cast<unsigned char>(c) < 32; }));
        EXPECT_TRUE(std::any_of(g.begin(), g.end(), [](char c) { return static_cast<unsigned char>(c) > 127; }));
    }
    EXPECT_EQ(p.counters().answers, 50);
}

TEST(Projector, SplitSpacesTheBytesOfAnAnswer) {
    Faults f;
    f.split = 20ms;
    Projector p(quick(), f);
    p.receive(0s, "CR3\r");
    std::vector<Byte> out = runUntil(p, 1s);
    ASSERT_EQ(text(out), "0000\r");
    for (std::size_t i = 1; i < out.size(); ++i) EXPECT_EQ(out[i].at - out[i - 1].at, 20ms);
}

TEST(Projector, ChatterTalksUnaskedAtItsPeriod) {
    Faults f;
    f.chatter = 100ms;
    Projector p(quick(), f);
    std::vector<Byte> out = runUntil(p, 350ms);
    EXPECT_EQ(text(out), "80\r80\r80\r");
    EXPECT_EQ(out[0].at, 100ms);
    EXPECT_EQ(p.counters().unasked, 3);
    EXPECT_EQ(p.counters().answers, 0);
    p.setChatter(350ms, 0ms);
    EXPECT_EQ(text(runUntil(p, 2s)), "");
}

TEST(Projector, HangsUpOnTheNthFrame) {
    Faults f;
    f.hangupAfter = 2;
    Projector p(quick(), f);
    EXPECT_EQ(ask(p, 0s, "CR0"), "80\r");
    p.receive(1s, "CR0\rCR0\r");
    EXPECT_TRUE(p.hungUp());
    EXPECT_EQ(text(runUntil(p, 2s)), "");
    EXPECT_EQ(p.counters().frames, 2);
    EXPECT_FALSE(p.nextDue());
}

TEST(Projector, LogQuotesBytesSafely) {
    EXPECT_EQ(qelo::sim::quoted("CR0\r"), R"("CR0\r")");
    EXPECT_EQ(qelo::sim::quoted(std::string("\x06\xff\"\\\n", 5)), R"("\x06\xff\"\\\n")");
    EXPECT_EQ(qelo::sim::quoted(std::string(100, 'A')), "\"" + std::string(64, 'A') + "\"...");
}
