#include "support/fakes.h"

#include <algorithm>

#include "panel/layout.h"

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

// Built from the same tables as the real window, as they are at start-up.
FakeWindow::FakeWindow(FakeClock& clock) {
    namespace layout = panel::layout;
    std::map<std::string, std::vector<FakeRadio*>> groups;  // by container
    for (const layout::Control& c : layout::controls()) {
        switch (c.kind) {
        case layout::Kind::Button:
            buttons[c.name] = std::make_unique<FakeButton>(c.visible);
            buttons[c.name]->setCaption(c.caption);
            break;
        case layout::Kind::Label:
            labels[c.name] = std::make_unique<FakeLabel>();
            labels[c.name]->setCaption(c.caption);
            break;
        case layout::Kind::Frame:
            frames[c.name] = std::make_unique<FakeFrame>(c.visible);
            break;
        case layout::Kind::Radio:
            radios[c.name] = std::make_unique<FakeRadio>(c.selected);
            groups[c.container].push_back(radios[c.name].get());
            break;
        }
    }
    for (auto& [container, members] : groups)
        for (FakeRadio* r : members)
            for (FakeRadio* other : members)
                if (other != r) r->group.push_back(other);
    for (const layout::TimerRow& t : layout::timers()) {
        timers[t.name] = std::make_unique<FakeTimer>(clock, t.interval);
        if (t.enabled) timers[t.name]->setEnabled(true);
    }
}

void FakeSerialPort::check(Op op) {
    for (int p : {port_, 0}) {
        auto it = failures_.find({op, p});
        if (it != failures_.end()) throw platform::LineError(it->second);
    }
}

void FakeSerialPort::setCommPort(int n) {
    log.push_back("port " + std::to_string(n));
    check(Op::SetPort);
    port_ = n;
}

void FakeSerialPort::setSettings(const platform::LineSettings& s) {
    log.push_back("settings " + s.text());
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
    if (!open_) throw platform::LineError("COM" + std::to_string(port_) + ": port is not open");
    writes.push_back({clock_.now(), text});
}

std::string FakeSerialPort::input() {
    check(Op::Input);
    ++inputs;
    return std::exchange(pending_, {});
}

void FakeSerialPort::receive(const std::string& text) {
    if (!open_) return;
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
