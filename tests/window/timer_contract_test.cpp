// The timer contract of platform.h, held against the fake timer that the
// logic's tests run on and against the Qt timer that the program runs on:
// a difference between them would make the unit tier test another program.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "qt/controls.h"
#include "support/fakes.h"
#include "support/pty.h"

namespace qelo::test {
namespace {

// Timers and the time they run on, fake or real.
class Time {
public:
    virtual ~Time() = default;
    virtual std::unique_ptr<platform::Timer> timer(int interval) = 0;
    virtual double now() = 0;  // ms
    virtual void runFor(int ms) = 0;
    virtual bool runUntil(const std::function<bool()>& cond, int ms) = 0;
};

class FakeTime final : public Time {
public:
    std::unique_ptr<platform::Timer> timer(int interval) override {
        return std::make_unique<fakes::FakeTimer>(clock_, interval);
    }
    double now() override { return static_cast<double>(clock_.now()); }
    void runFor(int ms) override { clock_.advance(ms); }
    bool runUntil(const std::function<bool()>& cond, int ms) override {
        for (int i = 0; i < ms && !cond(); ++i) clock_.advance(1);
        return cond();
    }

private:
    fakes::FakeClock clock_;
};

class QtTime final : public Time {
public:
    QtTime() { clock_.start(); }
    std::unique_ptr<platform::Timer> timer(int interval) override {
        return std::make_unique<platform::qt::QtTimer>("contract", interval, false, delivery_);
    }
    double now() override { return clock_.nsecsElapsed() / 1e6; }
    void runFor(int ms) override { spinFor(ms); }
    bool runUntil(const std::function<bool()>& cond, int ms) override { return spinUntil(cond, ms); }

private:
    platform::qt::Delivery delivery_;
    QElapsedTimer clock_;
};

struct Kind {
    const char* name;
    std::function<std::unique_ptr<Time>()> make;
};

class TimerContract : public ::testing::TestWithParam<Kind> {
protected:
    void SetUp() override { time = GetParam().make(); }

    // A timer of the kind under test whose ticks are stamped, then `also` run.
    platform::Timer& timer(int interval, bool enabled, std::function<void()> also = {}) {
        owned.push_back(time->timer(interval));
        platform::Timer& t = *owned.back();
        t.onTick([this, also] {
            EXPECT_EQ(QThread::currentThread(), qApp->thread()) << "a tick off the event thread";
            ticks.push_back(time->now());
            if (also) also();
        });
        t.setEnabled(enabled);
        return t;
    }
    // Waits, generously since a loaded machine is late, for n ticks in all.
    bool ticked(std::size_t n = 1) { return time->runUntil([&] { return ticks.size() >= n; }, 10000); }

    std::unique_ptr<Time> time;
    std::vector<std::unique_ptr<platform::Timer>> owned;
    std::vector<double> ticks;
};

TEST_P(TimerContract, TicksWhileEnabledAndNeverEarly) {
    timer(20, false);
    time->runFor(100);
    EXPECT_TRUE(ticks.empty()) << "a timer never enabled ticked";
    const double start = time->now();
    timer(50, true);
    ASSERT_TRUE(ticked(3));
    EXPECT_GE(ticks[0] - start, 49.0) << "early";
}

TEST_P(TimerContract, AnIntervalOfZeroNeverTicks) {
    platform::Timer& t = timer(0, true);
    time->runFor(100);
    EXPECT_TRUE(ticks.empty());
    EXPECT_TRUE(t.enabled());
    t.setInterval(30);  // and a real interval starts it
    EXPECT_EQ(t.interval(), 30);
    EXPECT_TRUE(ticked());
}

TEST_P(TimerContract, ChangingTheIntervalRestartsTheCount) {
    platform::Timer& t = timer(100, true);
    time->runFor(60);
    ASSERT_TRUE(ticks.empty());
    const double changed = time->now();
    t.setInterval(100);
    ASSERT_TRUE(ticked());
    EXPECT_GE(ticks[0] - changed, 99.0) << "the count went on from before the change";
}

TEST_P(TimerContract, EnablingARunningTimerKeepsItsCount) {
    // Enabled again four times per period: a timer that restarted on each
    // would never tick.
    platform::Timer& t = timer(100, true);
    auto again = time->timer(25);
    again->onTick([&] { t.setEnabled(true); });
    again->setEnabled(true);
    EXPECT_TRUE(ticked(2));
}

TEST_P(TimerContract, NoTickAfterItIsDisabledFromItsOwnTick) {
    platform::Timer* t = nullptr;
    t = &timer(20, true, [&] { t->setEnabled(false); });
    ASSERT_TRUE(ticked());
    time->runFor(100);
    EXPECT_EQ(ticks.size(), 1u);
    EXPECT_FALSE(t->enabled());
}

INSTANTIATE_TEST_SUITE_P(Timers, TimerContract,
                         ::testing::Values(Kind{"Fake", [] { return std::make_unique<FakeTime>(); }},
                                           Kind{"Qt", [] { return std::make_unique<QtTime>(); }}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qelo::test
