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

#include "x_server.h"

namespace {

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
    // Empty when it is up; otherwise why not.
    std::string start() {
        if (std::string why = qelo::test::missing({"metacity", "xdotool"}); !why.empty()) return why;
        if (std::string why = server_.start(); !why.empty()) return why;
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        for (int attempt = 0; attempt < 3 && !managed(); ++attempt) {
            wm_.end();
            wm_.setProcessChannelMode(QProcess::ForwardedChannels);
            wm_.start("metacity", {"--replace", "--sm-disable"});
            wm_.waitForStarted();
            // It manages the screen once it has announced itself on the root.
            // A loaded machine can take its time.
            if (!qelo::test::waitFor("xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window", 10000))
                std::printf("desktop: metacity not managing the screen yet (attempt %d)\n", attempt + 1);
        }
        if (!managed()) return "metacity did not take over the screen";
        std::printf("desktop: Xvfb on %s with metacity\n", server_.display().c_str());
        return {};
    }

private:
    // Without an event loop only a wait notices that it has ended.
    bool managed() {
        return wm_.state() == QProcess::Running && !wm_.waitForFinished(0) &&
               std::system("xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window") == 0;
    }

    qelo::test::XServer server_;
    qelo::test::Server wm_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--popup") == 0) return popup(argc, argv);
    Desktop desktop;
    return qelo::test::runOn(desktop, "desktop", argc, argv);
}
