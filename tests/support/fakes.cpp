#include "support/fakes.h"

#include <algorithm>

#include "panel/buttons.h"

namespace qelo::fakes {

void FakeClock::advance(long ms) {
    const long target = now_ + ms;
    for (;;) {
        FakeTimer* next = nullptr;
        for (FakeTimer* t : timers_)
            if (t->running() && t->due() <= target && (!next || t->due() < next->due())) next = t;
        if (!next) break;
        now_ = std::max(now_, next->due());
        next->fire();
    }
    now_ = target;
}

void FakeTimer::setInterval(int ms) {
    interval_ = ms;
    if (enabled_) due_ = clock_.now() + std::max(ms, 1);
}

void FakeTimer::setEnabled(bool enabled) {
    if (enabled && !enabled_) due_ = clock_.now() + std::max(interval_, 1);
    enabled_ = enabled;
}

void FakeTimer::fire() {
    due_ = clock_.now() + std::max(interval_, 1);
    if (tick_) tick_();
}

void FakeRadio::setValue(bool selected) {
    if (!selected) {
        selected_ = false;
        return;
    }
    if (selected_) return;
    for (FakeRadio* other : group) other->selected_ = false;
    selected_ = true;
    if (click_) click_();
}

FakeWindow::FakeWindow(FakeClock& clock) {
    for (const auto& b : panel::oneShotButtons()) buttons[b.name] = std::make_unique<FakeButton>();
    for (const auto& b : panel::holdButtons()) buttons[b.name] = std::make_unique<FakeButton>();
    buttons["Command16"] = std::make_unique<FakeButton>();
    buttons["Command33"] = std::make_unique<FakeButton>();
    buttons["Command34"] = std::make_unique<FakeButton>(false);
    buttons["Command34"]->setCaption("データを表示する");
    for (const char* n : {"Label11", "Label12", "Label25"}) labels[n] = std::make_unique<FakeLabel>();
    frames["Frame8"] = std::make_unique<FakeFrame>(false);
    radios["Option1"] = std::make_unique<FakeRadio>();
    radios["Option2"] = std::make_unique<FakeRadio>();
    radios["Option3"] = std::make_unique<FakeRadio>(true);
    radios["Option4"] = std::make_unique<FakeRadio>();
    radios["Option1"]->group = {radios["Option2"].get()};
    radios["Option2"]->group = {radios["Option1"].get()};
    radios["Option3"]->group = {radios["Option4"].get()};
    radios["Option4"]->group = {radios["Option3"].get()};
    const std::pair<const char*, int> timerIntervals[] = {
        {"Timer1", 200}, {"Timer2", 500}, {"Timer3", 5000}, {"Timer4", 1000}};
    for (auto [name, interval] : timerIntervals) timers[name] = std::make_unique<FakeTimer>(clock, interval);
}

void FakeSerialPort::check(Op op) {
    for (int p : {port_, 0}) {
        auto it = failures_.find({op, p});
        if (it != failures_.end()) throw platform::SerialError(it->second);
    }
}

void FakeSerialPort::setCommPort(int n) {
    log.push_back("port " + std::to_string(n));
    check(Op::SetPort);
    port_ = n;
}

void FakeSerialPort::setSettings(const std::string& s) {
    log.push_back("settings " + s);
    check(Op::SetSettings);
    settings_ = s;
}

void FakeSerialPort::setPortOpen(bool open) {
    log.push_back(open ? "open" : "close");
    check(open ? Op::Open : Op::Close);
    open_ = open;
}

void FakeSerialPort::output(const std::string& text) {
    check(Op::Output);
    if (!open_) throw platform::SerialError("COM" + std::to_string(port_) + ": port is not open");
    writes.push_back({clock_.now(), text});
}

std::string FakeSerialPort::input() {
    check(Op::Input);
    ++inputs;
    return std::exchange(pending_, {});
}

void FakeSerialPort::receive(const std::string& text) {
    pending_ += text;
    raise(ReceiveEvent);
}

void FakeSerialPort::raise(int eventType) {
    event_ = eventType;
    if (comm_) comm_();
}

std::vector<std::string> FakeSerialPort::sent() const {
    std::vector<std::string> out;
    for (const auto& w : writes) out.push_back(w.text);
    return out;
}

}  // namespace qelo::fakes
