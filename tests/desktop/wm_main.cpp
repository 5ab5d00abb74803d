// The panel on a desktop with a real window manager: a private X server
// (Xvfb, on the first free display) with metacity, started here and ended
// with the tests. Run with --popup, this program is instead "another
// program": a plain window that shows itself and takes the focus.
#include <gtest/gtest.h>

#include <QApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <QWidget>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "qt/setup.h"

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

// Our programs in the background, ended with the tests.
class Desktop {
public:
    ~Desktop() {
        for (QProcess* p : {&wm_, &server_}) {
            p->terminate();
            p->waitForFinished();
        }
    }

    // Empty when it is up; otherwise why not.
    std::string start() {
        for (const char* tool : {"Xvfb", "metacity", "xdotool", "xprop"})
            if (QStandardPaths::findExecutable(tool).isEmpty()) return std::string(tool) + " is not installed";
        // The server writes the display it chose to its output.
        server_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        server_.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"});
        if (!server_.waitForStarted()) return "Xvfb did not start";
        while (!server_.canReadLine() && server_.waitForReadyRead(15000)) {
        }
        const std::string display = ":" + server_.readLine().trimmed().toStdString();
        if (display.size() < 2) return "Xvfb named no display";
        ::setenv("DISPLAY", display.c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        // The number comes a little before the server takes clients.
        if (!waitFor("xprop -root >/dev/null 2>&1")) return "Xvfb took no clients";
        for (int attempt = 0; attempt < 3 && !managed(); ++attempt) {
            wm_.terminate();
            wm_.waitForFinished();
            wm_.setProcessChannelMode(QProcess::ForwardedChannels);
            wm_.start("metacity", {"--replace", "--sm-disable"});
            wm_.waitForStarted();
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
    // Without an event loop only a wait notices that it has ended.
    bool managed() {
        return wm_.state() == QProcess::Running && !wm_.waitForFinished(0) &&
               std::system("xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window") == 0;
    }

    QProcess server_;
    QProcess wm_;
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
