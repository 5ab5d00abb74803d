#include "bridge/rooms.h"

#include <QLoggingCategory>
#include <deque>

#include "ctl/qt_line.h"
#include "ctl/runner.h"
#include "seam/platform.h"

// Every conversation's start and length, for the benchmark and for anyone
// asking why a room is slow: QT_LOGGING_RULES="qelo.bridge.debug=true".
Q_LOGGING_CATEGORY(lcBridge, "qelo.bridge", QtWarningMsg)

namespace qelo::bridge {

struct QtLines::Worker {
    std::size_t room = 0;
    std::string device;
    std::unique_ptr<ctl::Line> line;  // kept open between conversations
    std::deque<std::vector<ctl::Action>> waiting;
    std::vector<ctl::Action> actions;  // the conversation running, if talk is valid
    ctl::Task<Conversation> talk;
    qint64 started = 0;

    ctl::Task<Conversation> converse() {
        ctl::Options o;
        o.actions = actions;
        ctl::Keeper keeper;
        const bool fresh = !line;
        std::string failure;
        try {
            if (fresh) line = co_await ctl::openLine(device, 1, o.baud);
        } catch (const std::exception& e) {
            failure = e.what();
        }
        if (line) {
            ctl::Runner runner(*line, keeper);
            keeper.conversation.status = co_await runner.run(o, fresh);
        } else {
            // Each action is told why, as qelo-ctl --json tells it.
            ctl::Exchange x;
            x.status = ctl::kPortFailed;
            x.error = failure;
            for (const auto& a : o.actions) keeper.exchanged(a, x);
        }
        co_return std::move(keeper.conversation);
    }
};

QtLines::QtLines(const std::vector<Room>& rooms, Done done) : done_(std::move(done)) {
    clock_.start();
    for (std::size_t i = 0; i < rooms.size(); ++i) {
        auto w = std::make_unique<Worker>();
        w->room = i;
        w->device = rooms[i].device;
        workers_.push_back(std::move(w));
    }
}

// Conversations still waiting are given up before their lines go.
QtLines::~QtLines() {
    for (auto& w : workers_) w->talk = {};
}

void QtLines::converse(std::size_t room, const std::vector<ctl::Action>& actions) {
    Worker& w = *workers_[room];
    w.waiting.push_back(actions);
    if (!w.talk.valid()) start(w);
}

void QtLines::start(Worker& w) {
    w.actions = std::move(w.waiting.front());
    w.waiting.pop_front();
    w.started = clock_.elapsed();
    w.talk = w.converse();
    // The end may come inside a line's own signal: it is handled after it.
    w.talk.start([this, &w] { QMetaObject::invokeMethod(&home_, [this, &w] { end(w); }, Qt::QueuedConnection); });
}

void QtLines::end(Worker& w) {
    Conversation c;
    try {
        c = w.talk.result();
    } catch (const std::exception& e) {
        // Whatever goes wrong on one room's line is that room's failure, not the bridge's.
        c.status = ctl::kPortFailed;
        c.error = w.device + ": " + e.what();
    }
    w.talk = {};
    // A line that failed is opened afresh next time: a server back, a cable plugged in again.
    if (c.status == ctl::kPortFailed) w.line.reset();
    c.time = ctl::utcNow();
    qCDebug(lcBridge, "%s: %s started at %lld ms, took %lld ms, status %d", w.device.c_str(),
            w.actions.size() == 1 ? w.actions[0].code.c_str() : "poll", static_cast<long long>(w.started),
            static_cast<long long>(clock_.elapsed() - w.started), c.status);
    if (!w.waiting.empty()) start(w);
    done_(w.room, c);
}

}  // namespace qelo::bridge
