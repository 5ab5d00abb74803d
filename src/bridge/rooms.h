#pragma once
// Every room's line on a thread of its own, running qelo-ctl's Runner there:
// the Runner waits for answers in its thread's event loop, so a room that
// is slow or gone holds up no other, and the results are exactly qelo-ctl's.

#include <QObject>
#include <QThread>
#include <functional>
#include <memory>
#include <vector>

#include "bridge/hub.h"

namespace qelo::bridge {

class QtLines : public Lines {
public:
    // done runs on the thread that made this, with each finished conversation.
    using Done = std::function<void(std::size_t room, const Conversation& c)>;
    QtLines(const std::vector<Room>& rooms, Done done);
    ~QtLines() override;

    void converse(std::size_t room, const std::vector<ctl::Action>& actions) override;

private:
    struct Worker;
    std::vector<std::unique_ptr<Worker>> workers_;
    Done done_;
    QObject home_;  // where the finished conversations are delivered
};

// A conversation's JSON lines read back into answers.
std::vector<Answer> answersOf(const std::vector<std::string>& lines);

}  // namespace qelo::bridge
