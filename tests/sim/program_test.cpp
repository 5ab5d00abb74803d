// The real simulator program on a real pseudo-terminal.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class SimProcess {
public:
    explicit SimProcess(std::vector<std::string> args) {
        int in[2], out[2];
        if (pipe(in) != 0 || pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, in[1]);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        args.insert(args.begin(), QELO_SIM_BINARY);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, QELO_SIM_BINARY, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        stdin_ = in[1];
        stdout_ = out[0];
    }
    ~SimProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(stdin_);
        close(stdout_);
    }

    std::string readLine() { return readUntil(stdout_, '\n'); }
    void command(const std::string& line) { ASSERT_EQ(write(stdin_, line.data(), line.size()), (ssize_t)line.size()); }
    // Stopped as by `kill`, the simulator ends normally and prints its counts.
    std::string countsAtTerm() {
        EXPECT_EQ(stop(SIGTERM), 0);
        return readLine();
    }
    int stop(int signal) {
        if (signal) kill(pid_, signal);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // Bytes up to and including `end`, or what came before a 3 s silence.
    static std::string readUntil(int fd, char end) {
        std::string got;
        char c;
        pollfd p{fd, POLLIN, 0};
        while (poll(&p, 1, 3000) > 0 && read(fd, &c, 1) == 1) {
            got += c;
            if (c == end) break;
        }
        return got;
    }

private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    int stdout_ = -1;
};

int openRaw(const std::string& path) {
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    return fd;
}

std::string exchange(int fd, const std::string& frame) {
    if (write(fd, frame.data(), frame.size()) != (ssize_t)frame.size()) return "write failed";
    return SimProcess::readUntil(fd, '\r');
}

TEST(Program, AnswersOnItsPtyAcrossReopenAndCountsOnExit) {
    SimProcess sim({});
    std::string first = sim.readLine();
    ASSERT_EQ(first.rfind("PTY /dev/pts/", 0), 0u) << first;
    std::string path = first.substr(4, first.size() - 5);

    int fd = openRaw(path);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(exchange(fd, "CR0\r"), "80\r");
    EXPECT_EQ(exchange(fd, "C00\r"), "\x06\r");
    EXPECT_EQ(exchange(fd, "C0\rCR1\r"), "1\r");  // the malformed frame gets nothing
    // The panel closes and reopens its port at start-up.
    close(fd);
    fd = openRaw(path);
    EXPECT_EQ(exchange(fd, "CR0\r"), "40\r");
    close(fd);

    EXPECT_EQ(sim.countsAtTerm(), "frames received 4, malformed frames 1, answers sent 4, unasked sent 0\n");
}

int connectTo(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// A serial device server has one line: one client at a time, and the
// projector behind it keeps its state from one connection to the next.
TEST(Program, ServesOneTcpClientAtATimeAndKeepsItsStateBetweenThem) {
    SimProcess sim({"--listen", "127.0.0.1:0"});
    const std::string first = sim.readLine();
    ASSERT_EQ(first.rfind("TCP 127.0.0.1:", 0), 0u) << first;
    const int port = std::stoi(first.substr(first.rfind(':') + 1));

    int fd = connectTo(port);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(exchange(fd, "C00\r"), "\x06\r");
    const int second = connectTo(port);
    ASSERT_GE(second, 0);
    EXPECT_EQ(SimProcess::readUntil(second, '\r'), "");  // closed at once, without a word
    close(second);
    close(fd);

    fd = connectTo(port);
    EXPECT_EQ(exchange(fd, "CR0\r"), "40\r");
    close(fd);
    EXPECT_EQ(sim.countsAtTerm(), "frames received 2, malformed frames 0, answers sent 2, unasked sent 0\n");
}

TEST(Program, HangupEndsTheLineForThePanel) {
    SimProcess sim({"--quiet"});
    std::string first = sim.readLine();
    int fd = openRaw(first.substr(4, first.size() - 5));
    EXPECT_EQ(exchange(fd, "CR4\r"), "11\r");
    sim.command("garbage on\nhangup\n");
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 3000), 1);
    EXPECT_TRUE(p.revents & POLLHUP);
    char c;
    EXPECT_LE(read(fd, &c, 1), 0);
    close(fd);
    EXPECT_EQ(sim.stop(0), 0);
}

TEST(Program, RejectsABadCommandLine) {
    for (auto args : {std::vector<std::string>{"--baud", "fast"}, {"--state", "99"}, {"--bogus"}, {"a", "b"}}) {
        SimProcess sim(args);
        EXPECT_EQ(sim.readLine(), "");
        EXPECT_EQ(sim.stop(0), 1) << args[0];
    }
}

}  // namespace
