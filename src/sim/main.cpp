// qelo-projector-sim: the projector state machine on a pseudo-terminal, a
// serial device or a TCP port. Everything the projector decides is in the
// library; this is the poll loop around it.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "sim/options.h"
#include "qt/termination.h"
#include "sim/projector.h"

namespace {

using namespace qelo::sim;
using qelo::platform::qt::terminationSignalled;
using SteadyClock = std::chrono::steady_clock;

constexpr const char* kProgram = "qelo-projector-sim";
constexpr std::size_t kMaxBacklog = 64 * 1024;
// Reads from the line per wake-up: a flood cannot starve the rest.
constexpr int kReadsPerWake = 16;

bool speedOf(int baud, speed_t& speed) {
    static const std::pair<int, speed_t> table[] = {
        {1200, B1200},     {2400, B2400},     {4800, B4800},     {9600, B9600},
        {19200, B19200},   {38400, B38400},   {57600, B57600},   {115200, B115200},
        {230400, B230400}, {460800, B460800}, {921600, B921600},
    };
    for (auto [b, s] : table) {
        if (b == baud) {
            speed = s;
            return true;
        }
    }
    return false;
}

// Raw 8N1 at the given speed; no echo, no line editing, no flow control.
bool makeRaw(int fd, speed_t speed) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) return false;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~(CRTSCTS | CSTOPB | PARENB);
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

void setNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

class Logger {
public:
    explicit Logger(bool quiet)
        : quiet_(quiet), steadyStart_(SteadyClock::now()), wallStart_(std::chrono::system_clock::now()) {}

    Time now() const {
        return std::chrono::duration_cast<Time>(SteadyClock::now() - steadyStart_);
    }

    // Replies to the operator's commands are written even when quiet.
    void line(Time at, const std::string& text, bool always = false) const {
        if (quiet_ && !always) return;
        auto wall = wallStart_ + std::chrono::duration_cast<std::chrono::system_clock::duration>(at);
        std::time_t secs = std::chrono::system_clock::to_time_t(wall);
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(wall.time_since_epoch()).count() % 1000;
        std::tm tm{};
        localtime_r(&secs, &tm);
        std::fprintf(stderr, "%02d:%02d:%02d.%03lld %s\n", tm.tm_hour, tm.tm_min, tm.tm_sec,
                     static_cast<long long>(ms), text.c_str());
    }

    void flush(Projector& p) const {
        for (const LogEntry& e : p.takeLog()) line(e.at, e.text);
    }

private:
    bool quiet_;
    SteadyClock::time_point steadyStart_;
    std::chrono::system_clock::time_point wallStart_;
};

struct Line {
    int fd = -1;  // -1 while a TCP port waits for its client
    // Our own hold on the panel's side of a pseudo-terminal, so the master
    // keeps working while the panel closes and reopens it.
    int slave = -1;
    int listener = -1;
    std::string label;

    void close() {
        for (int* f : {&fd, &slave, &listener}) {
            if (*f >= 0) ::close(*f);
            *f = -1;
        }
    }
};

std::string peerOf(const sockaddr_storage& a) {
    char host[NI_MAXHOST] = "?", port[NI_MAXSERV] = "?";
    getnameinfo(reinterpret_cast<const sockaddr*>(&a), sizeof a, host, sizeof host, port, sizeof port,
                NI_NUMERICHOST | NI_NUMERICSERV);
    const bool v6 = a.ss_family == AF_INET6;
    return (v6 ? "[" : "") + std::string(host) + (v6 ? "]:" : ":") + port;
}

bool listenOn(const ListenAddress& at, Line& line, std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(at.port);
    if (int rc = getaddrinfo(at.host.c_str(), port.c_str(), &hints, &found); rc != 0) {
        error = "cannot listen on " + at.host + ": " + gai_strerror(rc);
        return false;
    }
    int fd = -1;
    for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) continue;
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, SOMAXCONN) != 0) {
            error = "cannot listen on " + at.host + ":" + port + ": " + std::strerror(errno);
            ::close(fd);
            fd = -1;
        }
    }
    freeaddrinfo(found);
    if (fd < 0) return false;
    sockaddr_storage bound{};
    socklen_t size = sizeof bound;
    getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &size);
    line = Line{-1, -1, fd, "TCP " + peerOf(bound)};
    return true;
}

bool openLine(const Options& o, speed_t speed, Line& line, std::string& error) {
    if (o.listen) return listenOn(*o.listen, line, error);
    if (o.device.empty()) {
        int master = -1, slave = -1;
        if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
            error = std::string("cannot make a pseudo-terminal: ") + std::strerror(errno);
            return false;
        }
        // A fresh pty echoes and edits lines: the panel would read its own
        // commands back.
        if (!makeRaw(slave, speed)) {
            error = std::string("cannot set the pseudo-terminal raw: ") + std::strerror(errno);
            ::close(master);
            ::close(slave);
            return false;
        }
        fcntl(master, F_SETFD, FD_CLOEXEC);
        fcntl(slave, F_SETFD, FD_CLOEXEC);
        setNonBlocking(master);
        const char* name = ttyname(slave);
        line = Line{master, slave, -1, std::string("PTY ") + (name ? name : "?")};
        return true;
    }
    int fd = ::open(o.device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = o.device + ": " + std::strerror(errno);
        return false;
    }
    if (!isatty(fd) || !makeRaw(fd, speed)) {
        error = o.device + ": not a serial line: " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    tcflush(fd, TCIOFLUSH);
    line = Line{fd, -1, -1, "DEVICE " + o.device};
    return true;
}


// One loop, one method per source of events. The projector decides; this
// moves bytes and keeps time.
class Loop {
public:
    Loop(const Options& o, Line line, int wakeFd)
        : o_(o), line_(std::move(line)), wakeFd_(wakeFd), logger_(o.quiet), projector_(o.settings, o.faults, Time{0}) {
        logger_.line(Time{0}, "ready on " + line_.label.substr(line_.label.find(' ') + 1) + ", " +
                                  describe(projector_, Time{0}));
        if (tcp()) projector_.disconnect(Time{0});
    }
    ~Loop() { line_.close(); }

    int run();
    const Counters& counters() const { return projector_.counters(); }

private:
    enum Source { kWake, kLine, kStdin, kListener, kSources };

    bool tcp() const { return line_.listener >= 0; }
    bool ended() const { return quit_ || terminationSignalled() || status_ != 0 || projector_.hungUp(); }
    timespec timeout(Time now) const;
    void onSignals();
    void onLine(short revents);
    void onListener();
    void onStdin();
    void onTimers();
    void letGo(const std::string& why);

    const Options& o_;
    Line line_;
    int wakeFd_;
    Logger logger_;
    Projector projector_;
    CommandLines commands_;
    bool stdinOpen_ = true;
    std::string backlog_;  // bytes the line would not take yet
    Time heardAt_{0};      // the client's last byte, or its connect
    bool quit_ = false;
    int status_ = 0;
};

int Loop::run() {
    while (!ended()) {
        logger_.flush(projector_);
        timespec wait = timeout(logger_.now());
        // poll() passes over the entries whose descriptor is negative.
        pollfd fds[kSources] = {{wakeFd_, POLLIN, 0},
                                {line_.fd, static_cast<short>(POLLIN | (backlog_.empty() ? 0 : POLLOUT)), 0},
                                {stdinOpen_ ? STDIN_FILENO : -1, POLLIN, 0},
                                {line_.listener, POLLIN, 0}};
        if (ppoll(fds, kSources, &wait, nullptr) < 0 && errno != EINTR) {
            std::fprintf(stderr, "%s: poll: %s\n", kProgram, std::strerror(errno));
            return 1;
        }
        if (fds[kWake].revents) onSignals();
        if (terminationSignalled()) break;
        if (fds[kLine].revents & (POLLIN | POLLHUP | POLLERR)) onLine(fds[kLine].revents);
        if (fds[kListener].revents & POLLIN) onListener();
        if (fds[kStdin].revents & (POLLIN | POLLHUP | POLLERR)) onStdin();
        onTimers();
    }
    logger_.flush(projector_);
    if (terminationSignalled()) logger_.line(logger_.now(), "stopped by a signal");
    return status_;
}

timespec Loop::timeout(Time now) const {
    std::optional<Time> due = projector_.nextDue();
    if (tcp() && line_.fd >= 0 && o_.idleTimeout.count() > 0) {
        const Time idleAt = heardAt_ + o_.idleTimeout;
        if (!due || idleAt < *due) due = idleAt;
    }
    // Nothing due: wake now and then anyway; it costs nothing.
    Time wait = due ? std::max(Time{0}, *due - now) : Time{std::chrono::seconds(1)};
    wait = std::min<Time>(wait, std::chrono::seconds(1));
    return timespec{static_cast<time_t>(wait.count() / 1'000'000), static_cast<long>(wait.count() % 1'000'000) * 1000};
}

void Loop::onSignals() { qelo::platform::qt::drainTermination(); }

void Loop::onLine(short revents) {
    const Time now = logger_.now();
    char buf[4096];
    ssize_t n = -1;
    bool got = false;
    for (int i = 0; i < kReadsPerWake && (n = ::read(line_.fd, buf, sizeof buf)) > 0; ++i) {
        projector_.receive(now, std::string_view(buf, static_cast<std::size_t>(n)));
        got = true;
    }
    if (got) heardAt_ = now;
    const bool hangup = !got && (revents & (POLLHUP | POLLERR));
    const bool failed = n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
    if (!hangup && n != 0 && !failed) return;
    const std::string why = failed && !hangup ? std::strerror(errno) : "hung up";
    if (tcp()) {
        // A client leaving is the normal end of a connection; the next one may come.
        letGo(n == 0 ? "by the client" : why);
    } else {
        // With our own hold on a pty's other side this is a real failure (a
        // pulled adapter), not the panel closing.
        logger_.line(now, "line failed: " + why);
        status_ = 1;
    }
}

void Loop::letGo(const std::string& why) {
    const Time now = logger_.now();
    logger_.flush(projector_);
    const std::size_t unsent = projector_.disconnect(now);
    std::string text = "connection closed: " + why;
    if (unsent > 0) text += ", " + std::to_string(unsent) + (unsent == 1 ? " answer" : " answers") + " not sent";
    logger_.line(now, text);
    ::close(line_.fd);
    line_.fd = -1;
    backlog_.clear();
}

void Loop::onListener() {
    // Everything waiting, not one a wake-up: a burst of connects must not
    // overflow the queue and wait for the peers' retries.
    for (;;) {
        sockaddr_storage peer{};
        socklen_t size = sizeof peer;
        const int client =
            accept4(line_.listener, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (client < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            return;  // EAGAIN, or out of descriptors: the rest wait for the next wake-up
        }
        // A client that left and came straight back is seen leaving first,
        // not turned away by its own old connection.
        if (pollfd p{line_.fd, POLLIN, 0}; line_.fd >= 0 && ::poll(&p, 1, 0) > 0) onLine(p.revents);
        const Time now = logger_.now();
        if (line_.fd >= 0) {
            // One serial line, one client: a second would read the first one's answers.
            logger_.line(now, "turned away " + peerOf(peer) + ": a client is connected");
            ::close(client);
            continue;
        }
        const int on = 1;
        setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        line_.fd = client;
        heardAt_ = now;
        projector_.connect(now);
        logger_.line(now, "connection from " + peerOf(peer));
    }
}

void Loop::onStdin() {
    // One read per wake-up: standard input may be shared with a shell, so it
    // stays blocking.
    char buf[4096];
    const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
    const Time now = logger_.now();
    if (n > 0) {
        for (const CommandLines::Line& typed : commands_.feed(std::string_view(buf, static_cast<std::size_t>(n)))) {
            if (quit_ || terminationSignalled()) break;
            if (typed.overlong()) {
                logger_.line(now, "bad command " + quoted(typed.text) + "...: longer than " +
                                      std::to_string(CommandLines::kMaxLine) + " bytes", true);
                continue;
            }
            CommandResult r = applyCommand(projector_, now, typed.text);
            logger_.flush(projector_);
            if (!r.message.empty()) logger_.line(now, r.message, true);
            quit_ = r.quit;
        }
    }
    if (n == 0 || (n < 0 && errno != EINTR)) {
        stdinOpen_ = false;
        if (o_.exitOnEof) quit_ = true;
    }
}

void Loop::onTimers() {
    const Time now = logger_.now();
    if (tcp() && line_.fd >= 0 && o_.idleTimeout.count() > 0 && now - heardAt_ >= o_.idleTimeout) {
        letGo("idle for " + std::to_string(o_.idleTimeout.count()) + " s");
    }
    backlog_ += projector_.transmit(now);
    // Without a client the answers go nowhere, as on an unplugged cable.
    if (line_.fd < 0) backlog_.clear();
    if (backlog_.empty()) return;
    const ssize_t n = ::write(line_.fd, backlog_.data(), backlog_.size());
    if (n > 0) backlog_.erase(0, static_cast<std::size_t>(n));
    if (n < 0 && tcp() && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        letGo(std::strerror(errno));
    } else if (backlog_.size() > kMaxBacklog) {
        // Nobody reads the other side; old answers are worthless.
        logger_.line(now, "line full, dropped " + std::to_string(backlog_.size()) + " bytes");
        backlog_.clear();
    }
}

// The stop signals end the loop at its next turn, and a byte on a pipe makes
// sure there is one. The handler runs at once, whatever the loop is doing: a
// blocked signal would stay pending for as long as poll() found other work
// ready.
int installSignals() {
    signal(SIGPIPE, SIG_IGN);
    // Started in the background of a shell, a read of the terminal must
    // fail (and end our reading of it), not stop the projector.
    signal(SIGTTIN, SIG_IGN);
    signal(SIGTTOU, SIG_IGN);
    // Not restarted: a write to a stuck standard error gives up instead of
    // keeping the signal waiting.
    return qelo::platform::qt::watchTermination(false);
}

}  // namespace

int main(int argc, char** argv) {
    ParseResult parsed = parseArgs(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.options) {
        std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", kProgram, parsed.error.c_str(), kProgram);
        return 1;
    }
    const Options& o = *parsed.options;
    if (o.help || o.version) {
        std::fputs((o.help ? usage(kProgram) : qelo::cmdline::versionText(kProgram)).c_str(), stdout);
        return 0;
    }
    // A pty ignores the rate; the pacing still honours the number given.
    speed_t speed = B19200;
    if (!speedOf(o.settings.baud, speed) && !o.device.empty()) {
        std::fprintf(stderr, "%s: --baud %d is no standard rate\n", kProgram, o.settings.baud);
        return 1;
    }
    const int wakeFd = installSignals();
    Line line;
    std::string error;
    if (wakeFd < 0) error = std::string("cannot make a pipe: ") + std::strerror(errno);
    if (wakeFd < 0 || !openLine(o, speed, line, error)) {
        std::fprintf(stderr, "%s: %s\n", kProgram, error.c_str());
        return 1;
    }
    std::printf("%s\n", line.label.c_str());
    std::fflush(stdout);

    Loop loop(o, std::move(line), wakeFd);
    const int status = loop.run();
    const Counters& c = loop.counters();
    std::printf("frames received %ld, malformed frames %ld, answers sent %ld, unasked sent %ld\n", c.frames,
                c.malformed, c.answers, c.unasked);
    std::fflush(stdout);
    return status;
}
