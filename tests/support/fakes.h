#pragma once
// A platform that runs without a window or a line: controls that remember
// what was set, a serial port that records what was written and when, and a
// clock that fires timers without waiting.
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "panel/form1.h"
#include "seam/platform.h"

namespace qelo::fakes {

class FakeTimer;

class FakeClock {
public:
    long now() const { return now_; }
    // Fires every tick that falls due up to now() + ms, in time order;
    // handlers may re-arm or stop any timer on the way.
    void advance(long ms);
    void add(FakeTimer* t) { timers_.push_back(t); }

private:
    long now_ = 0;
    std::vector<FakeTimer*> timers_;
};

class FakeTimer : public platform::Timer {
public:
    FakeTimer(FakeClock& clock, int interval) : clock_(clock), interval_(interval) { clock.add(this); }
    void setInterval(int ms) override;
    int interval() const override { return interval_; }
    void setEnabled(bool enabled) override;
    bool enabled() const override { return enabled_; }
    void onTick(std::function<void()> h) override { tick_ = std::move(h); }

    // Ticks are due: enabled, with an interval that is not 0.
    bool running() const { return enabled_ && interval_ > 0; }
    long due() const { return due_; }
    void fire();

private:
    FakeClock& clock_;
    int interval_;
    bool enabled_ = false;
    long due_ = 0;
    std::function<void()> tick_;
};

class FakeLabel : public platform::Label {
public:
    void setCaption(const std::string& t) override { caption_ = t; handed += t.size(); }
    void appendCaption(std::string_view t) override { caption_ += t; handed += t.size(); }
    std::string caption() const override { return caption_; }
    // Characters handed over so far: what a change costs the widget.
    std::size_t handed = 0;

private:
    std::string caption_;
};

class FakeButton : public platform::Button {
public:
    explicit FakeButton(bool visible = true) : visible_(visible) {}
    void setCaption(const std::string& t) override { caption_ = t; }
    std::string caption() const override { return caption_; }
    void setVisible(bool v) override { visible_ = v; }
    bool visible() const override { return visible_; }
    void onClick(std::function<void()> h) override { click_ = std::move(h); }
    void onMouseDown(std::function<void(const platform::MouseEvent&)> h) override { down_ = std::move(h); }
    void onMouseUp(std::function<void(const platform::MouseEvent&)> h) override { up_ = std::move(h); }

    // What the operator does. A button with no handler for an event
    // ignores it, as a real one would.
    void click() { if (click_) click_(); }
    void press(int mouseButton = platform::LeftButton) { if (down_) down_({mouseButton, 0, 0, 0}); }
    void release(int mouseButton = platform::LeftButton) { if (up_) up_({mouseButton, 0, 0, 0}); }

private:
    std::string caption_;
    bool visible_;
    std::function<void()> click_;
    std::function<void(const platform::MouseEvent&)> down_, up_;
};

class FakeFrame : public platform::Frame {
public:
    explicit FakeFrame(bool visible) : visible_(visible) {}
    void setVisible(bool v) override { visible_ = v; }
    bool visible() const override { return visible_; }

private:
    bool visible_;
};

class FakeRadio : public platform::RadioButton {
public:
    explicit FakeRadio(bool selected = false) : selected_(selected) {}
    void setValue(bool selected) override;
    bool value() const override { return selected_; }
    void onClick(std::function<void()> h) override { click_ = std::move(h); }
    // The operator picks it.
    void select() { setValue(true); }

    std::vector<FakeRadio*> group;  // the others of its group

private:
    bool selected_;
    std::function<void()> click_;
};

struct MessageBox {
    std::string text;
    std::string title;
};

class FakeWindow : public platform::Window {
public:
    explicit FakeWindow(FakeClock& clock);

    platform::Label& label(const std::string& n) override { return *labels.at(n); }
    platform::Button& button(const std::string& n) override { return *buttons.at(n); }
    platform::Frame& frame(const std::string& n) override { return *frames.at(n); }
    platform::RadioButton& radio(const std::string& n) override { return *radios.at(n); }
    platform::Timer& timer(const std::string& n) override { return *timers.at(n); }

    double screenWidth() const override { return 1920 * 15; }
    double screenHeight() const override { return 1080 * 15; }
    double widthTwips() const override { return width_; }
    double heightTwips() const override { return height_; }
    void setLeft(double t) override { left = t; }
    void setTop(double t) override { top = t; }
    void setHeight(double t) override { height_ = t; }

    void onKeyDown(std::function<void(int, int)> h) override { key_ = std::move(h); }
    void messageBox(const std::string& text, const std::string& title) override {
        boxes.push_back({text, title});
    }
    void unload() override { unloaded = true; }
    void end() override { ended = true; }

    void key(int code, int shift) { if (key_) key_(code, shift); }
    FakeButton& b(const std::string& n) { return *buttons.at(n); }
    FakeTimer& t(const std::string& n) { return *timers.at(n); }
    std::string caption(const std::string& labelName) const { return labels.at(labelName)->caption(); }

    // Outer size of the design window: the client area and a title bar.
    static constexpr double kDesignWidth = 9270 + 90;
    static constexpr double kDesignHeight = 6615 + 375;

    std::map<std::string, std::unique_ptr<FakeLabel>> labels;
    std::map<std::string, std::unique_ptr<FakeButton>> buttons;
    std::map<std::string, std::unique_ptr<FakeFrame>> frames;
    std::map<std::string, std::unique_ptr<FakeRadio>> radios;
    std::map<std::string, std::unique_ptr<FakeTimer>> timers;
    std::vector<MessageBox> boxes;
    double left = 0, top = 0;
    bool unloaded = false, ended = false;

private:
    double width_ = kDesignWidth;
    double height_ = kDesignHeight;
    std::function<void(int, int)> key_;
};

// Serial operations a test can make fail.
enum class Op { SetPort, SetSettings, Open, Close, Output, Input };

class FakeSerialPort : public platform::SerialPort {
public:
    explicit FakeSerialPort(FakeClock& clock) : clock_(clock) {}

    void setCommPort(int n) override;
    int commPort() const override { return port_; }
    void setSettings(const platform::LineSettings& s) override;
    platform::LineSettings settings() const override { return settings_; }
    void setPortOpen(bool open) override;
    bool portOpen() const override { return open_; }
    void output(const std::string& text) override;
    std::string input() override;
    int commEvent() const override { return event_; }
    void onComm(std::function<void()> h) override { comm_ = std::move(h); }

    // The projector's side: characters arrive, the event is raised; on a
    // closed port nothing arrives.
    void receive(const std::string& text);
    // Another kind of event (a line error, a modem line change).
    void raise(int eventType);
    // Makes `op` throw with `description`, on port `port` (0: any port).
    void fail(Op op, const std::string& description, int port = 0) { failures_[{op, port}] = description; }
    void heal() { failures_.clear(); }

    struct Write {
        long time;
        std::string text;
    };
    std::vector<Write> writes;
    std::vector<std::string> log;  // every operation, in order: "port 1", "open", ...
    int inputs = 0;                // reads that succeeded
    std::vector<std::string> sent() const;

private:
    void check(Op op);
    FakeClock& clock_;
    int port_ = 0;
    platform::LineSettings settings_;
    bool open_ = false;
    int event_ = 0;
    std::string pending_;
    std::function<void()> comm_;
    std::map<std::pair<Op, int>, std::string> failures_;
};

// The panel put together on the fake platform, as the program puts it
// together on the real one; nothing has run yet (no Form_Load).
struct FakePanel {
    FakeClock clock;
    FakeWindow window{clock};
    FakeSerialPort port{clock};
    panel::Form1 form{window, port};
};

}  // namespace qelo::fakes
