#pragma once
// A serial port that records what the panel writes and lets a test play the
// projector's part; no device behind it.
#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace qelo::test {

class FakePort final : public platform::SerialPort {
public:
    void setCommPort(int number) override { number_ = number; }
    int commPort() const override { return number_; }
    void setSettings(const std::string& settings) override { settings_ = settings; }
    std::string settings() const override { return settings_; }
    void setPortOpen(bool open) override { open_ = open; }
    bool portOpen() const override { return open_; }
    void output(const std::string& text) override {
        if (!open_) throw platform::SerialError("Port is not open");
        written.push_back(text);
    }
    std::string input() override { return std::exchange(waiting_, {}); }
    int commEvent() const override { return ReceiveEvent; }
    void onComm(std::function<void()> handler) override { handler_ = std::move(handler); }

    // The projector answers.
    void receive(const std::string& text) {
        waiting_ += text;
        if (handler_) handler_();
    }

    std::vector<std::string> written;

private:
    int number_ = 0;
    std::string settings_;
    bool open_ = false;
    std::string waiting_;
    std::function<void()> handler_;
};

}  // namespace qelo::test
