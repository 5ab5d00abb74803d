#include <gtest/gtest.h>

#include <set>

#include "link/answer.h"
#include "link/protocol.h"

using namespace qelo::link;

TEST(Frame, IsCodeAndCarriageReturn) {
    EXPECT_EQ(frame("C00"), std::string("\x43\x30\x30\x0D", 4));
}

TEST(Catalogue, CodesAreUniqueThreeCharacterCodes) {
    std::set<std::string> seen;
    for (const auto& e : catalogue()) {
        const std::string code = e.code;
        EXPECT_EQ(code.size(), 3u) << code;
        EXPECT_TRUE(seen.insert(code).second) << "twice: " << code;
    }
    EXPECT_EQ(seen.size(), 45u);
}

struct RenderCase {
    std::string data;
    std::string rendered;
};

class Render : public ::testing::TestWithParam<RenderCase> {};

TEST_P(Render, GivesTheTrafficLineForm) { EXPECT_EQ(render(GetParam().data), GetParam().rendered); }

INSTANTIATE_TEST_SUITE_P(
    Tokens, Render,
    ::testing::Values(RenderCase{"", " "}, RenderCase{"C00\r", " C 0 0 CR "},
                      RenderCase{"\x06\r", " ACK CR "}, RenderCase{"a{z~\n", " a ? z ? LF  "},
                      RenderCase{std::string("\0\x1f ", 3), " ? ?   "},
                      RenderCase{"\x7f\x80\xff", " ? ? ? "},
                      // Every byte is one character: no UTF-8 sequence is merged.
                      RenderCase{"\xe2\x86\x91", " ? ? ? "}));

struct DecodeCase {
    const char* query;
    std::string reply;
    std::optional<std::string> status;
};

class Decode : public ::testing::TestWithParam<DecodeCase> {};

std::optional<std::string> decode(std::string_view sendData, std::string_view reply) {
    RenderedText received;
    received.append(reply, 1000);
    return statusText(sendData, received);
}

TEST_P(Decode, ChoosesTheTableByTheQuerySent) {
    const auto& c = GetParam();
    EXPECT_EQ(decode(frame(c.query), c.reply), c.status) << c.query << " / " << c.reply;
}

INSTANTIATE_TEST_SUITE_P(
    Tables, Decode,
    ::testing::Values(
        DecodeCase{"CR0", "00\r", " Power ON"}, DecodeCase{"CR0", "80\r", " Stand by"},
        DecodeCase{"CR0", "40\r", " Count down"}, DecodeCase{"CR0", "20\r", " Cooling down"},
        DecodeCase{"CR0", "10\r", " Power abnormality"},
        DecodeCase{"CR0", "88\r", " Temperature abnormality"},
        DecodeCase{"CR0", "08\r", " Temperature abnormality"},
        DecodeCase{"CR0", "28\r", " Temperature abnormality"},
        DecodeCase{"CR0", "24\r", " Power Management Cooling"},
        DecodeCase{"CR0", "04\r", " Power Management"},
        DecodeCase{"CR0", "02\r", " Key input prohibition"},
        DecodeCase{"CR0", "01\r", std::nullopt}, DecodeCase{"CR0", "0", std::nullopt},
        DecodeCase{"CR1", "12\r", " Computer"}, DecodeCase{"CR1", "2\r", " MCI"},
        DecodeCase{"CR1", "3", " Video"}, DecodeCase{"CR1", "4\r", std::nullopt},
        DecodeCase{"CR4", "11\r", " Normally"}, DecodeCase{"CR4", "10\r", " Top/Bottom reversal"},
        DecodeCase{"CR4", "01\r", " Left/Right reversal"},
        DecodeCase{"CR4", "00\r", " Top/Bottom , Left/Right reversal"},
        DecodeCase{"CR3", "12345\r", " 1 2 3 4 Hour"}, DecodeCase{"CR3", "12\r", " 1 2 CR  Hour"},
        DecodeCase{"CR3", "1", " 1  Hour"}, DecodeCase{"CR3", "", "  Hour"},
        // Blanks, lower case and control characters match no key.
        DecodeCase{"CR0", " 00\r", std::nullopt}, DecodeCase{"CR1", "a", std::nullopt},
        DecodeCase{"CR4", "\x06" "11\r", std::nullopt},
        // Not a query: never decoded.
        DecodeCase{"C02", "00\r", std::nullopt}, DecodeCase{"CR2", "00\r", std::nullopt}));

TEST(Decode, NeedsTheWholeFrameOfTheQuery) {
    EXPECT_EQ(decode("CR0", "00\r"), std::nullopt);
    EXPECT_EQ(decode("CR0\r\r", "00\r"), std::nullopt);
}

TEST(ReadAnswer, OnlyTheFormTheFrameAsksForAndWhatItMeans) {
    const struct {
        const char* code;
        std::string answer;
        bool fits;
        const char* words = nullptr;
        std::optional<long long> hours = {};
    } cases[] = {
        {"CR0", "80\r", true, "Stand by"},
        {"CR0", "28\r", true, "Temperature abnormality"},
        {"CR0", "01\r", false},
        {"CR0", "800\r", false},
        {"CR0", "8\r", false},
        {"CR0", "80", false},
        {"CR1", "2\r", true, "MCI"},
        {"CR1", "12\r", false},
        {"CR4", "00\r", true, "Top/Bottom , Left/Right reversal"},
        {"CR4", "80\r", false},
        {"CR3", "0123\r", true, nullptr, 123},
        {"CR3", "12345\r", true, nullptr, 12345},
        {"CR3", "0\r", true, nullptr, 0},
        {"CR3", "999999999999999999\r", true, nullptr, 999999999999999999},
        {"CR3", "1000000000000000000\r", false},
        {"CR3", "\r", false},
        {"CR3", "12 3\r", false},
        {"CR3", "-1\r", false},
        {"CR3", "12\r3\r", false},
        {"C00", "\x06\r", true},
        {"C00", "\x06", false},
        {"C7F", "00\r", false},
        {"CR2", "anything\r", true},
    };
    for (const auto& c : cases) {
        const Answer a = readAnswer(c.code, c.answer);
        EXPECT_EQ(a.fits, c.fits) << c.code << " " << c.answer;
        EXPECT_STREQ(a.word ? a.word->words : nullptr, c.words) << c.code << " " << c.answer;
        EXPECT_EQ(a.hours, c.hours) << c.code << " " << c.answer;
        EXPECT_EQ(a.acknowledged, isControl(c.code) && c.fits) << c.code << " " << c.answer;
    }
    EXPECT_EQ(expectedAnswer("CR1"), "one of 1 2 3, then CR");
    EXPECT_EQ(expectedAnswer("CR0"), "one of 00 80 40 20 10 88 08 24 04 28 02, then CR");
}
