#include "bridge/rooms.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QJsonObject>
#include <sstream>

#include "ctl/qt_line.h"
#include "ctl/runner.h"

// Every conversation's start and length, for the benchmark and for anyone
// asking why a room is slow: QT_LOGGING_RULES="qelo.bridge.debug=true".
Q_LOGGING_CATEGORY(lcBridge, "qelo.bridge", QtWarningMsg)

namespace qelo::bridge {

namespace {

// One clock for every room's thread, so that their times compare.
const QElapsedTimer& sharedClock() {
    static const QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock;
}

// The room's line lent to one run; the room keeps it open between runs.
// Only the first run on a fresh connection waits for the server's greeting
// to end.
class Borrowed : public ctl::Line {
public:
    Borrowed(ctl::Line& line, bool fresh) : line_(line), fresh_(fresh) {}
    void send(const std::string& bytes) override { line_.send(bytes); }
    std::string receive(long long until) override { return line_.receive(until); }
    long long now() override { return line_.now(); }
    std::string stamp() override { return line_.stamp(); }
    std::string device() const override { return line_.device(); }
    long long quietMs() const override { return fresh_ ? line_.quietMs() : 0; }

private:
    ctl::Line& line_;
    bool fresh_;
};

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(line);
    return lines;
}

std::optional<std::string> bytesOf(const QJsonValue& v) {
    if (!v.isString()) return std::nullopt;
    // Each byte travelled as the character of the same number.
    return v.toString().toLatin1().toStdString();
}

}  // namespace

std::vector<Answer> answersOf(const std::vector<std::string>& lines) {
    std::vector<Answer> answers;
    for (const auto& line : lines) {
        const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
        answers.push_back({o.value("code").toString().toStdString(), o.value("ok").toBool(false),
                           bytesOf(o.value("reply")), bytesOf(o.value("words"))});
    }
    return answers;
}

struct QtLines::Worker {
    std::string device;
    QThread thread;
    QObject context;  // lives in thread: what runs there is posted to it
    std::unique_ptr<ctl::Line> line;

    Conversation converse(const std::vector<ctl::Action>& actions) {
        ctl::Options o;
        o.json = true;
        o.actions = actions;
        std::ostringstream out, err;
        Conversation c;
        c.status = ctl::runOn(
            [&] {
                const bool fresh = !line;
                if (fresh) line = ctl::openLine(device, 1, o.baud);
                return std::make_unique<Borrowed>(*line, fresh);
            },
            device, o, out, err);
        // A line that failed is opened afresh next time: a server back, a cable plugged in again.
        if (c.status == ctl::kPortFailed) line.reset();
        c.lines = linesOf(out.str());
        c.answers = answersOf(c.lines);
        const auto said = linesOf(err.str());
        if (!said.empty()) {
            c.error = said.back();
            if (c.error.starts_with("qelo-ctl: ")) c.error.erase(0, 10);
        }
        c.time = ctl::utcNow();
        return c;
    }
};

QtLines::QtLines(const std::vector<Room>& rooms, Done done) : done_(std::move(done)) {
    sharedClock();
    for (const auto& room : rooms) {
        auto w = std::make_unique<Worker>();
        w->device = room.device;
        w->context.moveToThread(&w->thread);
        // The line is the thread's: it goes with the thread, in the thread.
        QObject::connect(&w->thread, &QThread::finished, &w->context, [raw = w.get()] { raw->line.reset(); },
                         Qt::DirectConnection);
        w->thread.start();
        workers_.push_back(std::move(w));
    }
}

QtLines::~QtLines() {
    for (auto& w : workers_) w->thread.quit();
    for (auto& w : workers_) w->thread.wait();
}

void QtLines::converse(std::size_t room, const std::vector<ctl::Action>& actions) {
    Worker* w = workers_[room].get();
    QMetaObject::invokeMethod(
        &w->context,
        [this, w, room, actions] {
            const qint64 start = sharedClock().elapsed();
            Conversation c;
            try {
                c = w->converse(actions);
            } catch (const std::exception& e) {
                // Whatever goes wrong on one room's line is that room's failure, not the bridge's.
                w->line.reset();
                c.status = ctl::kPortFailed;
                c.error = w->device + ": " + e.what();
            }
            qCDebug(lcBridge, "%s: %s started at %lld ms, took %lld ms, status %d", w->device.c_str(),
                    actions.size() == 1 ? actions[0].code.c_str() : "poll", static_cast<long long>(start),
                    static_cast<long long>(sharedClock().elapsed() - start), c.status);
            QMetaObject::invokeMethod(
                &home_, [this, room, c = std::move(c)] { done_(room, c); }, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

}  // namespace qelo::bridge
