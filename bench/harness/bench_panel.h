#pragma once
// The real panel as the program puts it together (QtWindow, QtSerialPort,
// Form1), with one difference: Form1 sees the window through a thin
// forwarding layer that stamps the moment the status label is given a text
// and the moment each repeat tick starts, which no Qt signal reports.

#include <QApplication>
#include <QEventLoop>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "harness/stats.h"
#include "panel/form1.h"
#include "qt/window.h"
#include "support/panel.h"

namespace qelo::bench {

class StampedLabel final : public platform::Label {
public:
    explicit StampedLabel(platform::Label& inner) : inner_(inner) {}
    void setCaption(const std::string& text) override {
        inner_.setCaption(text);
        if (!text.empty()) sets.push_back({nowNs(), text});
    }
    void appendCaption(std::string_view text) override {
        inner_.appendCaption(text);
        if (!text.empty()) sets.push_back({nowNs(), inner_.caption()});
    }
    std::string caption() const override { return inner_.caption(); }

    struct Set {
        std::int64_t ns;  // when the widget had the text
        std::string text;
    };
    std::vector<Set> sets;

private:
    platform::Label& inner_;
};

// Counts what the panel hands a label: for the RXD line, one call a receive
// event.
class CountingLabel final : public platform::Label {
public:
    explicit CountingLabel(platform::Label& inner) : inner_(inner) {}
    void setCaption(const std::string& text) override {
        ++calls;
        inner_.setCaption(text);
    }
    void appendCaption(std::string_view text) override {
        ++calls;
        inner_.appendCaption(text);
    }
    std::string caption() const override { return inner_.caption(); }
    std::uint64_t calls = 0;

private:
    platform::Label& inner_;
};

// Stamps each tick as its handler starts, to tell a late timer from a slow
// send.
class StampedTimer final : public platform::Timer {
public:
    explicit StampedTimer(platform::Timer& inner) : inner_(inner) {}
    void setInterval(int ms) override { inner_.setInterval(ms); }
    int interval() const override { return inner_.interval(); }
    void setEnabled(bool enabled) override { inner_.setEnabled(enabled); }
    bool enabled() const override { return inner_.enabled(); }
    void onTick(std::function<void()> handler) override {
        inner_.onTick([this, handler = std::move(handler)] {
            ticks.push_back(nowNs());
            if (handler) handler();
        });
    }
    std::vector<std::int64_t> ticks;

private:
    platform::Timer& inner_;
};

class StampingWindow final : public platform::Window {
public:
    StampingWindow(platform::Window& inner, const std::string& stamped, const std::string& timer)
        : inner_(inner), stampedName_(stamped), stamped_(inner.label(stamped)), timerName_(timer),
          timer_(inner.timer(timer)), rxd_(inner.label("Label12")) {}

    platform::Label& label(const std::string& name) override {
        if (name == "Label12") return rxd_;
        return name == stampedName_ ? stamped_ : inner_.label(name);
    }
    platform::Button& button(const std::string& name) override { return inner_.button(name); }
    platform::Frame& frame(const std::string& name) override { return inner_.frame(name); }
    platform::RadioButton& radio(const std::string& name) override { return inner_.radio(name); }
    platform::Timer& timer(const std::string& name) override {
        return name == timerName_ ? timer_ : inner_.timer(name);
    }
    double screenWidth() const override { return inner_.screenWidth(); }
    double screenHeight() const override { return inner_.screenHeight(); }
    double widthTwips() const override { return inner_.widthTwips(); }
    double heightTwips() const override { return inner_.heightTwips(); }
    void setLeft(double twips) override { inner_.setLeft(twips); }
    void setTop(double twips) override { inner_.setTop(twips); }
    void setHeight(double twips) override { inner_.setHeight(twips); }
    void onKeyDown(std::function<void(int, int)> handler) override { inner_.onKeyDown(std::move(handler)); }
    void messageBox(const std::string& text, const std::string& title) override { inner_.messageBox(text, title); }
    void unload() override { inner_.unload(); }
    void end() override { inner_.end(); }

    StampedLabel& stamped() { return stamped_; }
    StampedTimer& stampedTimer() { return timer_; }
    CountingLabel& rxd() { return rxd_; }

private:
    platform::Window& inner_;
    std::string stampedName_;
    StampedLabel stamped_;
    std::string timerName_;
    StampedTimer timer_;
    CountingLabel rxd_;
};

// The panel as the program puts it together, seen by Form1 through the
// stamping layer; message boxes are collected (the harness reports them).
class BenchPanel : public test::Panel {
public:
    explicit BenchPanel(const std::string& com1)
        : test::Panel(com1, [](platform::qt::QtWindow& w) {
              return std::make_unique<StampingWindow>(w, "Label25", "Timer1");
          }) {}

    // The speed radio buttons live on the hidden port panel: select them as
    // the program would.
    void setSpeed(int baud) {
        form.dispatch([&] { window.radio(baud == 9600 ? "Option4" : "Option3").setValue(true); });
    }
    StampedLabel& status() { return stamping().stamped(); }
    // When each repeat tick's handler started.
    const std::vector<std::int64_t>& repeatTicks() { return stamping().stampedTimer().ticks; }
    // Receive events so far.
    std::uint64_t receiveEvents() { return stamping().rxd().calls; }

private:
    StampingWindow& stamping() { return static_cast<StampingWindow&>(program.view()); }
};

// Runs the event loop, blocked in it as the program is, for ms.
using test::spinFor;

// Runs the event loop until cond holds (checked every 2 ms) or ms pass.
inline bool runUntil(const std::function<bool()>& cond, int ms) {
    if (cond()) return true;
    QEventLoop loop;
    QTimer check;
    check.setTimerType(Qt::PreciseTimer);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (cond()) loop.quit();
    });
    check.start(2);
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
    return cond();
}

}  // namespace qelo::bench
