// qelo-projector-sim: the projector state machine on a pseudo-terminal or a
// serial device. Everything the projector decides is in the library; this is
// the poll loop around it.

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
#include "sim/projector.h"

namespace {

using namespace qelo::sim;
using SteadyClock = std::chrono::steady_clock;

volatile sig_atomic_t g_stop = 0;
void onSignal(int) { g_stop = 1; }

constexpr const char* kProgram = "qelo-projector-sim";
constexpr std::size_t kMaxBacklog = 64 * 1024;

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
        if (::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, 8) != 0) {
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

timespec timeoutFor(std::optional<Time> due, Time now) {
    // Nothing due: wake now and then anyway; it costs nothing.
    Time wait = due ? std::max(Time{0}, *due - now) : Time{std::chrono::seconds(1)};
    wait = std::min<Time>(wait, std::chrono::seconds(1));
    return timespec{static_cast<time_t>(wait.count() / 1'000'000),
                    static_cast<long>(wait.count() % 1'000'000) * 1000};
}

}  // namespace

int main(int argc, char** argv) {
    ParseResult parsed = parseArgs(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.options) {
        std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", kProgram, parsed.error.c_str(), kProgram);
        return 1;
    }
    const Options& o = *parsed.options;
    if (o.help) {
        std::fputs(usage(kProgram).c_str(), stdout);
        return 0;
    }
    if (o.version) {
        std::fputs(versionText(kProgram).c_str(), stdout);
        return 0;
    }
    speed_t speed = B19200;
    if (!speedOf(o.settings.baud, speed)) {
        if (!o.device.empty()) {
            std::fprintf(stderr, "%s: --baud %d is no standard rate\n", kProgram, o.settings.baud);
            return 1;
        }
        // A pty ignores the rate; the pacing still honours the number given.
        speed = B19200;
    }

    signal(SIGPIPE, SIG_IGN);
    // Started in the background of a shell, a read of the terminal must
    // fail (and end our reading of it), not stop the projector.
    signal(SIGTTIN, SIG_IGN);
    signal(SIGTTOU, SIG_IGN);
    struct sigaction sa{};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    // Signals are let in only while waiting, so none slips between a check
    // of the flag and the wait.
    sigset_t blocked, waiting;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGHUP);
    sigprocmask(SIG_BLOCK, &blocked, &waiting);
    sigdelset(&waiting, SIGINT);
    sigdelset(&waiting, SIGTERM);
    sigdelset(&waiting, SIGHUP);

    Line line;
    std::string error;
    if (!openLine(o, speed, line, error)) {
        std::fprintf(stderr, "%s: %s\n", kProgram, error.c_str());
        return 1;
    }
    std::printf("%s\n", line.label.c_str());
    std::fflush(stdout);

    Logger logger(o.quiet);
    Projector projector(o.settings, o.faults, Time{0});
    logger.line(Time{0}, "ready on " + line.label.substr(line.label.find(' ') + 1) + ", " +
                             describe(projector, Time{0}));

    bool stdinOpen = true;
    std::string stdinLine;
    std::string backlog;  // bytes the line would not take yet
    int status = 0;
    bool quit = false;
    char buf[4096];

    while (!quit && !g_stop) {
        logger.flush(projector);
        if (projector.hungUp()) break;

        Time now = logger.now();
        timespec timeout = timeoutFor(projector.nextDue(), now);
        // poll() passes over the entries whose descriptor is negative.
        pollfd fds[3] = {{line.fd, POLLIN, 0}, {stdinOpen ? STDIN_FILENO : -1, POLLIN, 0}, {line.listener, POLLIN, 0}};
        if (!backlog.empty()) fds[0].events |= POLLOUT;
        int ready = ppoll(fds, 3, &timeout, &waiting);
        if (ready < 0 && errno != EINTR) {
            std::fprintf(stderr, "%s: poll: %s\n", kProgram, std::strerror(errno));
            status = 1;
            break;
        }
        if (g_stop) break;
        now = logger.now();

        if (line.fd >= 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
            ssize_t n;
            bool got = false;
            while ((n = ::read(line.fd, buf, sizeof buf)) > 0) {
                projector.receive(now, std::string_view(buf, static_cast<std::size_t>(n)));
                got = true;
            }
            bool hangup = !got && (fds[0].revents & (POLLHUP | POLLERR));
            if (hangup || n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                const std::string why = n < 0 && !hangup ? std::strerror(errno) : "hung up";
                if (line.listener >= 0) {
                    // A client leaving is the normal end of a connection; the next one may come.
                    logger.line(now, "connection closed: " + (n == 0 ? std::string("by the client") : why));
                    ::close(line.fd);
                    line.fd = -1;
                    backlog.clear();
                } else {
                    // With our own hold on a pty's other side this is a real
                    // failure (a pulled adapter), not the panel closing.
                    logger.line(now, "line failed: " + why);
                    status = 1;
                    break;
                }
            }
        }

        // After the read: a client that left and came straight back is seen
        // leaving first, not turned away by its own old connection.
        if (fds[2].revents & POLLIN) {
            sockaddr_storage peer{};
            socklen_t size = sizeof peer;
            const int client = accept4(line.listener, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (client >= 0 && line.fd >= 0) {
                // One serial line, one client: a second would read the first one's answers.
                logger.line(now, "turned away " + peerOf(peer) + ": a client is connected");
                ::close(client);
            } else if (client >= 0) {
                const int on = 1;
                setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                line.fd = client;
                logger.line(now, "connection from " + peerOf(peer));
            }
        }

        if (stdinOpen && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            // One read per wake-up: standard input may be shared with a
            // shell, so it stays blocking.
            ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
            if (n > 0) stdinLine.append(buf, static_cast<std::size_t>(n));
            std::size_t nl;
            while (!quit && (nl = stdinLine.find('\n')) != std::string::npos) {
                std::string text = stdinLine.substr(0, nl);
                stdinLine.erase(0, nl + 1);
                CommandResult r = applyCommand(projector, now, text);
                logger.flush(projector);
                if (!r.message.empty()) logger.line(now, r.message, true);
                quit = r.quit;
            }
            if (n == 0 || (n < 0 && errno != EINTR)) {
                stdinOpen = false;
                if (o.exitOnEof) quit = true;
            }
        }

        backlog += projector.transmit(logger.now());
        // Without a client the answers go nowhere, as on an unplugged cable.
        if (line.fd < 0) backlog.clear();
        if (!backlog.empty()) {
            ssize_t n = ::write(line.fd, backlog.data(), backlog.size());
            if (n > 0) backlog.erase(0, static_cast<std::size_t>(n));
            if (backlog.size() > kMaxBacklog) {
                // Nobody reads the other side; old answers are worthless.
                logger.line(now, "line full, dropped " + std::to_string(backlog.size()) + " bytes");
                backlog.clear();
            }
        }
    }

    logger.flush(projector);
    if (g_stop) logger.line(logger.now(), "stopped by a signal");
    line.close();
    const Counters& c = projector.counters();
    std::printf("frames received %ld, malformed frames %ld, answers sent %ld, unasked sent %ld\n", c.frames,
                c.malformed, c.answers, c.unasked);
    std::fflush(stdout);
    return status;
}
