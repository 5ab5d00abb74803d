// The panel framed by a real window manager, driven by a real pointer
// (xdotool): what is in view at each height, and a hold that another
// program's window interrupts. Screenshots land in screenshots/ here.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

#include "link/protocol.h"
#include "panel/layout.h"
#include "panel_fixture.h"
#include "x_server.h"

namespace qelo::test {
namespace {

namespace layout = panel::layout;

// The frame the heights were designed for: 375 twips, 25 pixels.
constexpr int kDesignFrameTwips = 375;


class OnADesktop : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(panel.show());
        panel.window.activateWindow();
        // Framed: the window manager has put its title bar on it.
        ASSERT_TRUE(QTest::qWaitFor([&] { return frame().height() > client().height() + 10; }, 5000))
            << "no window manager frame";
        ASSERT_TRUE(QTest::qWaitForWindowActive(&panel.window));
    }

    QRect client() const { return panel.window.geometry(); }
    QRect frame() const { return panel.window.frameGeometry(); }

    // The height is set and the window manager has sized the window to it.
    void setHeight(double twips) {
        panel.window.setHeight(twips);
        const int pixels = qRound(twips / layout::kTwipsPerPixel) - kDesignFrameTwips / layout::kTwipsPerPixel;
        ASSERT_TRUE(QTest::qWaitFor([&] { return client().height() == pixels; }, 3000)) << client().height();
        QTest::qWait(100);  // for the X server to draw: nothing tells when it has
    }

    // The window as it is on the screen, title bar included.
    void save(const char* name) {
        QDir().mkpath(QStringLiteral(QELO_SCREENSHOT_DIR));
        const QRect f = frame();
        const QPixmap shot = panel.window.screen()->grabWindow(0, f.x(), f.y(), f.width(), f.height());
        EXPECT_TRUE(shot.save(QDir(QStringLiteral(QELO_SCREENSHOT_DIR)).filePath(QString::fromLatin1(name) + ".png")));
    }

    DesktopPanel panel;
};

class InView : public OnADesktop, public ::testing::WithParamInterface<int> {};

// Whatever the title bar the window manager draws, the part of the panel in
// view is the one the design's frame leaves: at 5200 everything down to the
// port panel and none of the data area, at 7000 all, at 6645 all but the
// lowest row, which is cut.
TEST_P(InView, WhatTheDesignsFrameLeaves) {
    const int twips = GetParam();
    panel.window.frame("Frame8").setVisible(true);
    panel.window.button("Command34").setVisible(true);
    setHeight(twips);
    EXPECT_DOUBLE_EQ(panel.window.heightTwips(), twips);
    std::printf("title bar and borders: %d px; client area %d px\n", frame().height() - client().height(),
                client().height());
    const int shown = twips - kDesignFrameTwips;
    for (const layout::Control& c : layout::controls()) {
        if (c.container != std::string("Form1")) continue;
        SCOPED_TRACE(c.name);
        QWidget* w = panel.widget(c.name);
        if (!w->isVisible()) continue;
        const QRect onScreen(w->mapToGlobal(QPoint(0, 0)), w->size());
        if (c.top + c.height <= shown) {
            EXPECT_TRUE(client().contains(onScreen)) << "cut off";
        } else if (c.top >= shown) {
            EXPECT_FALSE(client().intersects(onScreen)) << "in view";
        } else {
            EXPECT_TRUE(client().intersects(onScreen) && !client().contains(onScreen)) << "not cut";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Heights, InView,
                         ::testing::Values(layout::kCompactHeight, layout::kToggleHeight, layout::kShortcutHeight));

// Another program's window pops up 400 ms into a hold of VOL +: the focus
// goes, the button stays down, and the repeat goes on until the release.
TEST_F(OnADesktop, AHoldOutlastsAnotherProgramTakingTheFocus) {
    QWidget* plus = panel.widget("Command1");
    const QPoint at = plus->mapTo(&panel.window, plus->rect().center());
    const QString window = QString::number(panel.window.winId());
    // Where the window manager has put the window is its business: point
    // into the window itself.
    ASSERT_TRUE(xdotool({"mousemove", "--window", window, QString::number(at.x()), QString::number(at.y())}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return plus->underMouse(); }, 3000)) << "the pointer did not arrive";
    ASSERT_TRUE(xdotool({"mousedown", "1"}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return panel.form.repeatCode() != 0; }, 3000)) << "the press did not arrive";
    QElapsedTimer held;
    held.start();
    QTest::qWait(400);

    QProcess other;
    other.start(QCoreApplication::applicationFilePath(), {"--popup"});
    ASSERT_TRUE(other.waitForStarted(5000));
    // The window manager may hold a newcomer back from the focus; then it is
    // given the focus as a task bar would give it.
    if (!QTest::qWaitFor([&] { return !panel.window.isActiveWindow(); }, 2000))
        xdotool({"search", "--sync", "--name", "qelo-popup", "windowactivate"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !panel.window.isActiveWindow(); }, 3000)) << "the focus never left";

    QTest::qWait(std::max<qint64>(0, 1600 - held.elapsed()));
    EXPECT_NE(panel.form.repeatCode(), 0) << "the hold ended without its release";
    ASSERT_TRUE(xdotool({"mouseup", "1"}));
    const qint64 ms = held.elapsed();
    EXPECT_TRUE(QTest::qWaitFor([&] { return panel.form.repeatCode() == 0; }, 3000)) << "the release did not end it";
    const auto sent = panel.line.sent();
    const auto count = std::count(sent.begin(), sent.end(), link::frame("C09"));
    // One at the press and one every 250 ms; a busy machine may lose a tick
    // or two. A hold that ended with the focus would have sent two or three.
    EXPECT_GE(count, 1 + ms / 250 - 2) << "after " << ms << " ms";
    EXPECT_LE(count, 1 + ms / 250 + 1) << "after " << ms << " ms";
    QTest::qWait(600);  // two periods and more with nothing sent
    EXPECT_EQ(panel.line.sent().size(), sent.size()) << "the repeat went on after the release";
    other.kill();
    other.waitForFinished(2000);
}

// The pictures in the README: compact, expanded with a status answered, and
// the port panel shown.
TEST_F(OnADesktop, Screenshots) {
    save("compact");
    QTest::keyClick(&panel.window, Qt::Key_H, Qt::ControlModifier);
    setHeight(layout::kShortcutHeight);
    panel.widget<QPushButton>("Command44")->click();
    panel.line.receive(std::string("00") + link::kCR);
    QTest::qWait(100);
    save("expanded");
    panel.widget<QPushButton>("Command34")->click();
    setHeight(layout::kCompactHeight);
    panel.widget<QPushButton>("Command33")->click();
    QTest::qWait(100);
    save("port-panel");
}

}  // namespace
}  // namespace qelo::test
