#pragma once
// Every room's line on the bridge's own event loop, running qelo-ctl's
// Runner there: a conversation waits for its line without holding the
// thread, so a room that is slow or gone holds up no other, and the
// exchanges are exactly qelo-ctl's.

#include <QElapsedTimer>
#include <QObject>
#include <functional>
#include <memory>
#include <vector>

#include "bridge/hub.h"

namespace qelo::bridge {

class QtLines : public Lines {
public:
    // done runs on the event loop, with each finished conversation.
    using Done = std::function<void(std::size_t room, const Conversation& c)>;
    QtLines(const std::vector<Room>& rooms, Done done);
    ~QtLines() override;

    void converse(std::size_t room, const std::vector<ctl::Action>& actions) override;

private:
    struct Worker;
    void start(Worker& w);
    void end(Worker& w);

    std::vector<std::unique_ptr<Worker>> workers_;
    Done done_;
    QObject home_;  // where the finished conversations are delivered
    QElapsedTimer clock_;  // one for every room, so that their times compare
};

}  // namespace qelo::bridge
