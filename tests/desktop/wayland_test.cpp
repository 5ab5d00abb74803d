// The panel as a native Wayland client: weston, on its X11 back-end inside a
// private Xvfb so that xdotool's pointer and keys reach it as a user's do,
// with the panel on QT_QPA_PLATFORM=wayland and COM1 on a pseudo-terminal.
// The compositor places windows where it likes, so the tests find the panel
// on the screen by its picture. Run with --grab, this program instead writes
// the X screen to its output as a PNG.
#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QLibraryInfo>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "link/protocol.h"
#include "panel/layout.h"
#include "support/panel.h"
#include "support/pty.h"
#include "x_server.h"

namespace qelo::test {
namespace {

namespace layout = panel::layout;

constexpr QSize kCompact(618, 322);
constexpr QSize kEnlarged(618, 442);

int grab(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    QBuffer png;
    png.open(QIODevice::WriteOnly);
    QGuiApplication::primaryScreen()->grabWindow(0).save(&png, "PNG");
    std::fwrite(png.data().constData(), 1, std::size_t(png.size()), stdout);
    return 0;
}

// Weston inside its own X server, in a runtime folder of its own.
class Compositor {
public:
    // Empty when Wayland clients can connect; otherwise why not.
    std::string start() {
        if (std::string why = missing({"weston", "xdotool"}); !why.empty()) return why;
        const QString plugin = QLibraryInfo::path(QLibraryInfo::PluginsPath) + "/platforms/libqwayland-generic.so";
        if (!QFileInfo::exists(plugin)) return "Qt's Wayland platform (qt6-wayland) is not installed";
        if (std::string why = server_.start(); !why.empty()) return why;
        if (!runtime_.isValid()) return "no runtime folder";
        ::setenv("XDG_RUNTIME_DIR", qPrintable(runtime_.path()), 1);
        weston_.start("weston", {"--backend=x11-backend.so", "--socket=qelo-test", "--width=1024", "--height=768",
                                 "--idle-time=0", "--no-config", "--log=" + runtime_.filePath("weston.log")});
        if (!weston_.waitForStarted()) return "weston did not start";
        std::printf("wayland: weston's log is %s\n", qPrintable(runtime_.filePath("weston.log")));
        const std::string probe = "test -S '" + runtime_.path().toStdString() + "/qelo-test'";
        if (!waitFor(probe.c_str())) return "weston opened no socket";
        ::setenv("WAYLAND_DISPLAY", "qelo-test", 1);
        ::setenv("QT_QPA_PLATFORM", "wayland", 1);
        std::printf("wayland: weston on Xvfb %s\n", server_.display().c_str());
        return {};
    }

private:
    XServer server_;
    QTemporaryDir runtime_;  // 0700, as the protocol wants it
    Server weston_;
};


QImage screen() {
    QProcess grabber;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "xcb");
    grabber.setProcessEnvironment(env);
    grabber.start(QCoreApplication::applicationFilePath(), {"--grab"});
    grabber.waitForFinished(10000);
    return QImage::fromData(grabber.readAllStandardOutput(), "PNG").convertToFormat(QImage::Format_RGB32);
}

bool near(QRgb a, QRgb b) {
    return std::abs(qRed(a) - qRed(b)) <= 8 && std::abs(qGreen(a) - qGreen(b)) <= 8 &&
           std::abs(qBlue(a) - qBlue(b)) <= 8;
}

// Where a picture of the panel's client area is on the screen, with a
// little room for what a render and the screen may differ in (a focus frame).
std::optional<QPoint> findOn(const QImage& shot, const QImage& picture) {
    const int w = picture.width(), h = picture.height();
    auto mismatches = [&](int x0, int y0, int step, int give) {
        int bad = 0;
        for (int y = 0; y < h && bad <= give; y += step)
            for (int x = 0; x < w && bad <= give; x += step)
                bad += !near(shot.pixel(x0 + x, y0 + y), picture.pixel(x, y));
        return bad;
    };
    for (int y0 = 0; y0 + h <= shot.height(); ++y0)
        for (int x0 = 0; x0 + w <= shot.width(); ++x0)
            if (mismatches(x0, y0, 40, 4) <= 4 && mismatches(x0, y0, 1, w * h / 100) <= w * h / 100)
                return QPoint(x0, y0);
    return std::nullopt;
}

// Waits until the picture is on the screen, in full.
std::optional<QPoint> awaitOnScreen(const QImage& picture, int ms = 10000) {
    QElapsedTimer waited;
    waited.start();
    do {
        if (const auto at = findOn(screen(), picture)) return at;
        QCoreApplication::processEvents();
    } while (waited.elapsed() < ms);
    return std::nullopt;
}

// Waits until the picture has left the screen: weston fades a closed window
// out, and its ghost must not be taken for the next one.
void awaitGone(const QImage& picture, int ms = 10000) {
    QElapsedTimer waited;
    waited.start();
    while (findOn(screen(), picture) && waited.elapsed() < ms) QCoreApplication::processEvents();
}

// Onto the compositor's own bar at the top, where no window goes: weston
// draws its pointer wherever it last was, and it must not hide or hover
// what the tests look for. Weston's X11 back-end follows the pointer only
// once it has seen it enter its window, and the X server starts it inside:
// it is taken out first.
void pointAway() {
    xdotool({"mousemove", "1279", "1023"});
    xdotool({"mousemove", "1000", "10"});
}

// Part of the screen, for docs/desktop.md (packaging/update-screenshots).
void save(const char* name, const QRect& part) {
    QDir().mkpath(QStringLiteral(QELO_SCREENSHOT_DIR));
    screen().copy(part).save(QStringLiteral(QELO_SCREENSHOT_DIR "/%1.png").arg(QLatin1String(name)));
}

class OnWayland : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel.window));
        ASSERT_EQ(panel.window.size(), kCompact);
        pointAway();
        picture = panel.window.grab().toImage().convertToFormat(QImage::Format_RGB32);
        const auto at = awaitOnScreen(picture);
        ASSERT_TRUE(at) << "the panel is not on the screen in full";
        origin = *at;
    }
    void TearDown() override {
        panel.window.hide();
        awaitGone(picture);
    }

    // Screen coordinates of a point of the panel's client area.
    QStringList at(QPoint p) const {
        return {QString::number(origin.x() + p.x()), QString::number(origin.y() + p.y())};
    }
    QStringList at(const char* control) {
        QWidget* w = panel.widget(control);
        return at(w->mapTo(&panel.window, w->rect().center()));
    }

    Pty pty;
    Panel panel{pty.path()};
    QImage picture;
    QPoint origin;
};

TEST_F(OnWayland, AClickReachesComOneAndCtrlHEnlarges) {
    ASSERT_TRUE(xdotool(QStringList{"mousemove"} << at("Command17") << "click" << "1"));
    EXPECT_EQ(pty.receive(), link::frame("C00"));
    pointAway();
    save("wayland", QRect(origin - QPoint(3, 30), kCompact + QSize(6, 33)));
    // Weston takes keys while the pointer is over its screen.
    ASSERT_TRUE(xdotool(QStringList{"mousemove"} << at("Command17") << "key" << "ctrl+h"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return panel.window.size() == kEnlarged; }, 5000)) << panel.window.height();
    EXPECT_EQ(panel.window.minimumSize(), kEnlarged);
    EXPECT_EQ(panel.window.maximumSize(), kEnlarged);
}

// Qt's title bar on Wayland draws a maximise button, whatever the hints.
// A compositor that maximises must not cost the panel its connection, and
// the window comes back to its own fixed size.
TEST_F(OnWayland, TheMaximiseButtonLeavesItsSize) {
    // The compositor's answer is a moment at its size; none, and the click
    // missed or the connection is gone.
    int widest = 0;
    QObject::connect(panel.window.windowHandle(), &QWindow::widthChanged,
                     [&](int width) { widest = std::max(widest, width); });
    const int right = kCompact.width() + 3, top = -30;  // Qt's decoration: 3-pixel border, 30-pixel bar
    ASSERT_TRUE(xdotool(QStringList{"mousemove"} << at(QPoint(right - 40, top + 15)) << "click" << "1"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return widest > kCompact.width(); }, 5000)) << "no maximised moment";
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return panel.window.size() == kCompact && panel.window.maximumSize() == kCompact; }, 5000))
        << panel.window.width() << "x" << panel.window.height();
    EXPECT_FALSE(panel.window.windowState() & Qt::WindowMaximized);
    EXPECT_EQ(panel.window.minimumSize(), kCompact);
}

TEST_F(OnWayland, AHoldRepeatsAtItsPace) {
    ASSERT_TRUE(xdotool(QStringList{"mousemove"} << at("Command1") << "mousedown" << "1"));
    ASSERT_TRUE(spinUntil([&] { return panel.form.repeatCode() != 0; })) << "the press did not arrive";
    QElapsedTimer held;
    held.start();
    spinFor(1200);
    ASSERT_TRUE(xdotool({"mouseup", "1"}));
    ASSERT_TRUE(spinUntil([&] { return panel.form.repeatCode() == 0; })) << "the release did not arrive";
    const qint64 ms = held.elapsed();
    const auto sent = frames(pty.receive(2000, 400));
    const auto count = static_cast<std::size_t>(std::count(sent.begin(), sent.end(), "C09"));
    // One at the press and one every 250 ms; a busy machine may lose a tick.
    EXPECT_GE(count, std::size_t(1 + ms / 250 - 2)) << "after " << ms << " ms";
    EXPECT_LE(count, std::size_t(1 + ms / 250 + 1)) << "after " << ms << " ms";
}

// The demo's log never covers the panel: the whole panel is in view.
TEST_F(OnWayland, TheDemosLogLeavesThePanelInView) {
    panel.window.hide();
    awaitGone(picture);
    QProcess demo;
    demo.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    demo.start(QStringLiteral(QELO_BUILD_DIR "/src/app/qelo-demo"), {});
    ASSERT_TRUE(demo.waitForStarted());
    pointAway();
    const auto at = awaitOnScreen(picture, 20000);
    EXPECT_TRUE(at) << "the demo's panel is not in view in full";
    // Qt's title bar, the panel and the log, 400 pixels wide, to its right.
    if (at) save("wayland-demo", QRect(*at - QPoint(3, 30), kCompact + QSize(400 + 6, 33)));
    demo.terminate();
    EXPECT_TRUE(demo.waitForFinished(5000));
}

}  // namespace
}  // namespace qelo::test

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--grab") == 0) return qelo::test::grab(argc, argv);
    qelo::test::Compositor compositor;
    return qelo::test::runOn(compositor, "wayland", argc, argv);
}
