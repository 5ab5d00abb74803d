// The panel on a desktop with a real window manager: a private X server
// (Xvfb, on the first free display) with metacity, started here and ended
// with the tests. Run with --popup, this program is instead "another
// program": a plain window that shows itself and takes the focus.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/qt/setup.h"

namespace {

// Exit status that ctest counts as skipped.
constexpr int kSkipped = 77;

int popup(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("qelo-popup"));
    window.setGeometry(40, 40, 320, 200);
    window.show();
    window.activateWindow();
    QTimer::singleShot(10000, &app, &QApplication::quit);
    return app.exec();
}

extern "C" char** environ;

// A program of ours in the background, ended with the tests.
pid_t spawn(std::vector<const char*> argv, int out = -1) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (out >= 0) posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, const_cast<char**>(argv.data()), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

bool installed(const char* tool) {
    const std::string probe = std::string("command -v ") + tool + " >/dev/null 2>&1";
    return std::system(probe.c_str()) == 0;
}

class Desktop {
public:
    ~Desktop() {
        for (pid_t pid : {wm_, server_}) {
            if (pid <= 0) continue;
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
    }

    // Empty when it is up; otherwise why not.
    std::string start() {
        for (const char* tool : {"Xvfb", "metacity", "xdotool", "xprop"})
            if (!installed(tool)) return std::string(tool) + " is not installed";
        // The server writes the display it chose to the descriptor given.
        int pipe[2];
        if (::pipe(pipe) != 0) return "no pipe";
        server_ = spawn({"Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"}, pipe[1]);
        ::close(pipe[1]);
        if (server_ <= 0) return "Xvfb did not start";
        std::string display = ":";
        pollfd p{pipe[0], POLLIN, 0};
        char c;
        while (::poll(&p, 1, 15000) == 1 && ::read(pipe[0], &c, 1) == 1 && c != '\n') display += c;
        ::close(pipe[0]);
        if (display.size() < 2) return "Xvfb named no display";
        ::setenv("DISPLAY", display.c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        // The number comes a little before the server takes clients.
        if (!waitFor("xprop -root >/dev/null 2>&1")) return "Xvfb took no clients";
        for (int attempt = 0; attempt < 3 && !managed(); ++attempt) {
            if (wm_ > 0) {
                ::kill(wm_, SIGTERM);
                ::waitpid(wm_, nullptr, 0);
            }
            wm_ = spawn({"metacity", "--replace", "--sm-disable"});
            // It manages the screen once it has announced itself on the root.
            // A loaded machine can take its time.
            if (!waitFor("xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window", 10000))
                std::printf("desktop: metacity not managing the screen yet (attempt %d)\n", attempt + 1);
        }
        if (!managed()) return "metacity did not take over the screen";
        std::printf("desktop: Xvfb on %s with metacity\n", display.c_str());
        return {};
    }

private:
    static bool waitFor(const char* probe, int ms = 15000) {
        for (int waited = 0; std::system(probe) != 0; waited += 50) {
            if (waited > ms) return false;
            ::usleep(50 * 1000);
        }
        return true;
    }
    bool managed() const {
        return wm_ > 0 && ::waitpid(wm_, nullptr, WNOHANG) == 0 &&
               std::system("xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window") == 0;
    }

    pid_t server_ = -1;
    pid_t wm_ = -1;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--popup") == 0) return popup(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    Desktop desktop;
    if (const std::string why = desktop.start(); !why.empty()) {
        std::printf("desktop: skipped: %s\n", why.c_str());
        return kSkipped;
    }
    QApplication app(argc, argv);
    qelo::platform::qt::setupStyle(app);
    qelo::platform::qt::installFonts();
    return RUN_ALL_TESTS();
}
