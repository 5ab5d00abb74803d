// The harness's own pieces: if the statistics or the far end's framing were
// wrong, every figure in the results would be wrong with them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "harness/far_end.h"
#include "harness/stats.h"

#ifdef QELO_SIM_PATH
#include <QCoreApplication>

#include "support/simulator.h"
#endif

namespace qelo::bench {
namespace {

TEST(Stats, PercentilesAndMedians) {
    std::vector<double> hundred;
    for (int i = 100; i >= 1; --i) hundred.push_back(i);  // unsorted on purpose
    const struct {
        std::vector<double> v;
        double p;
        double expected;
    } cases[] = {
        {hundred, 99, 99}, {hundred, 100, 100}, {hundred, 50, 50}, {hundred, 0, 1},
        {{7}, 99, 7},      {{3, 1, 2}, 99, 3},  {{1, 2}, 50, 1},
    };
    for (const auto& c : cases) EXPECT_EQ(percentile(c.v, c.p), c.expected) << "p" << c.p << " of " << c.v.size();
    EXPECT_EQ(median({4, 1, 3, 2}), 2.5);
    EXPECT_EQ(median({5, 1, 3}), 3);
    EXPECT_TRUE(std::isnan(median({})));
    EXPECT_TRUE(std::isnan(percentile({}, 99)));
}

// The panel's side of the line, as the panel would hold it.
class PanelSide {
public:
    explicit PanelSide(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY)) {}
    ~PanelSide() { ::close(fd_); }
    void write(const std::string& s) const { ASSERT_EQ(::write(fd_, s.data(), s.size()), static_cast<ssize_t>(s.size())); }
    // Whatever arrives within ms.
    std::string read(int ms) const {
        std::string got;
        pollfd p{fd_, POLLIN, 0};
        while (::poll(&p, 1, ms) == 1) {
            char buf[4096];
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n <= 0) break;
            got.append(buf, static_cast<std::size_t>(n));
        }
        return got;
    }
    int fd() const { return fd_; }

private:
    int fd_;
};

bool waitFor(const std::function<bool()>& cond) {
    for (int i = 0; i < 2000; ++i) {
        if (cond()) return true;
        usleep(1000);
    }
    return cond();
}

TEST(FarEnd, SplitsFramesAtEachCrWhateverTheWrites) {
    const struct {
        std::vector<std::string> writes;
        std::vector<std::string> frames;
    } cases[] = {
        {{"C00\r"}, {"C00"}},
        {{"C0", "0\r"}, {"C00"}},
        {{"C09\rC09\rC0A\r"}, {"C09", "C09", "C0A"}},
        {{"\r"}, {""}},
        {{"CR0"}, {}},  // no CR yet: no frame
    };
    for (const auto& c : cases) {
        FarEnd line;
        PanelSide panel(line.path());
        for (const auto& w : c.writes) {
            panel.write(w);
            usleep(2000);
        }
        std::size_t bytes = 0;
        for (const auto& w : c.writes) bytes += w.size();
        ASSERT_TRUE(waitFor([&] { return line.bytesFromPanel() == bytes; }));
        std::vector<std::string> got;
        for (const auto& f : line.framesFrom(0)) got.push_back(f.text);
        EXPECT_EQ(got, c.frames) << c.writes.front();
    }
}

TEST(FarEnd, StampsAFrameWhenItsCrArrivesNotItsFirstByte) {
    FarEnd line;
    PanelSide panel(line.path());
    panel.write("C0");
    const std::int64_t beforeCr = nowNs() + 20'000'000;
    usleep(20000);
    panel.write("0\r");
    ASSERT_TRUE(waitFor([&] { return line.frameCount() == 1; }));
    EXPECT_GE(line.framesFrom(0).front().ns, beforeCr);
}

TEST(FarEnd, AnswersInOrderAfterTheirDelayAndStampsEach) {
    FarEnd line;
    line.answerWith([](const WireFrame& f) -> std::optional<Answer> {
        if (f.text == "CR0") return Answer{"00\r", 5000};
        if (f.text == "CR1") return Answer{"1\r", 0};  // due earlier, but queued behind CR0's answer
        return std::nullopt;
    });
    PanelSide panel(line.path());
    panel.write("CR0\rC00\rCR1\r");
    EXPECT_EQ(panel.read(200), "00\r1\r");
    const auto frames = line.framesFrom(0);
    const auto times = line.answerTimes();
    ASSERT_EQ(frames.size(), 3u);
    ASSERT_EQ(times.size(), 2u);
    EXPECT_GE(times[0] - frames[0].ns, 5'000'000);
    EXPECT_GE(times[1], times[0]);
}

TEST(FarEnd, RelaysBothWaysAndStopsWhenToldTo) {
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    termios t{};
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    tcsetattr(slave, TCSANOW, &t);
    {
        FarEnd line;
        PanelSide panel(line.path());
        PanelSide other("/proc/self/fd/" + std::to_string(slave));
        line.relayTo(master);
        panel.write("C00\r");
        EXPECT_EQ(other.read(200), "C00\r");
        other.write("\x06\r");
        EXPECT_EQ(panel.read(200), "\x06\r");
        EXPECT_EQ(line.frameCount(), 1u);

        line.relayTo(-1);
        panel.write("C02\r");
        EXPECT_EQ(other.read(100), "");
        EXPECT_EQ(line.frameCount(), 2u);  // still counted, no longer passed on
    }
    ::close(master);
    ::close(slave);
}

TEST(FarEnd, PoursMoreThanThePtyHoldsAtOnce) {
    FarEnd line;
    PanelSide panel(line.path());
    line.pour(std::string(256 * 1024, 'x'));
    std::size_t got = 0;
    std::thread reader([&] {
        while (got < 256 * 1024) {
            const std::string s = panel.read(500);
            if (s.empty()) break;
            got += s.size();
        }
    });
    reader.join();
    EXPECT_EQ(got, 256u * 1024u);
    EXPECT_TRUE(waitFor([&] { return line.drained(); }));
    EXPECT_EQ(line.bytesToPanel(), 256u * 1024u);
}

TEST(ResidentKb, IsPlausibleForThisProcess) {
    const long kb = residentKb();
    EXPECT_GT(kb, 100);
    EXPECT_LT(kb, 1 << 22);
}

#ifdef QELO_SIM_PATH
// The pacing figures take the simulator's own count from its summary line:
// if that line changed, the count would silently read as missing.
TEST(Simulator, CountsWhatTheRelayPassedAndAnswersThroughIt) {
    int argc = 1;
    char name[] = "selftest";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    FarEnd line;
    PanelSide panel(line.path());
    test::Simulator sim(QELO_SIM_PATH, {"--quiet", "--reply-delay", "0"});
    line.relayTo(sim.fd());
    panel.write("CR0\rC09\rC09\r");
    EXPECT_EQ(panel.read(300), "80\r\x06\r\x06\r");
    line.relayTo(-1);
    const test::SimulatorSummary counts = sim.quit();
    EXPECT_EQ(counts.frames, 3);
    EXPECT_EQ(counts.answers, 3);
    EXPECT_EQ(counts.unasked, 0);
}
#endif

}  // namespace
}  // namespace qelo::bench
