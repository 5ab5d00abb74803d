// Mouse and keyboard on the real buttons: what reaches the handlers.
#include <QMessageBox>
#include <QTimer>

#include "panel/layout.h"
#include "window_fixture.h"

namespace qelo::test {
namespace {

// What one button raised, in order: "click", "down 1", "up 1", ...
class InputTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        showWindow();
    }

    std::vector<std::string>& record(const std::string& name) {
        auto& log = logs[name];
        auto& b = window->button(name);
        b.onClick([&log] { log.push_back("click"); });
        b.onMouseDown([&log](const platform::MouseEvent& e) { log.push_back("down " + std::to_string(e.button)); });
        b.onMouseUp([&log](const platform::MouseEvent& e) { log.push_back("up " + std::to_string(e.button)); });
        return log;
    }

    using Log = std::vector<std::string>;
    std::map<std::string, Log> logs;
};

struct MouseCase {
    Qt::MouseButton qt;
    int button;
};

class HoldButtonMouse : public InputTest, public ::testing::WithParamInterface<MouseCase> {};

TEST_P(HoldButtonMouse, PressAndReleaseWithAnyButtonAndNoClick) {
    const auto [qtButton, button] = GetParam();
    const std::string n = std::to_string(button);
    auto& log = record("Command1");
    QWidget* plus = widget("Command1");

    QTest::mousePress(plus, qtButton, Qt::ShiftModifier, QPoint(5, 6));
    ASSERT_EQ(log, (Log{"down " + n}));
    // The release goes to the button that got the press, wherever it happens.
    QTest::mouseRelease(plus, qtButton, {}, QPoint(200, 100));
    EXPECT_EQ(log, (Log{"down " + n, "up " + n}));

    log.clear();
    QTest::mouseDClick(plus, qtButton);
    EXPECT_EQ(log, (Log{"down " + n, "up " + n, "down " + n, "up " + n}));
}

INSTANTIATE_TEST_SUITE_P(Buttons, HoldButtonMouse,
                         ::testing::Values(MouseCase{Qt::LeftButton, platform::LeftButton},
                                           MouseCase{Qt::RightButton, platform::RightButton},
                                           MouseCase{Qt::MiddleButton, platform::MiddleButton},
                                           MouseCase{Qt::BackButton, 8}, MouseCase{Qt::ForwardButton, 16}));

TEST_F(InputTest, PressReportsShiftStateAndPositionInTwips) {
    platform::MouseEvent seen;
    window->button("Command5").onMouseDown([&](const platform::MouseEvent& e) { seen = e; });
    QTest::mousePress(widget("Command5"), Qt::LeftButton, Qt::ShiftModifier | Qt::ControlModifier, QPoint(10, 4));
    EXPECT_EQ(seen.button, platform::LeftButton);
    EXPECT_EQ(seen.shift, platform::ShiftBit | platform::CtrlBit);
    EXPECT_FLOAT_EQ(seen.x, 150);
    EXPECT_FLOAT_EQ(seen.y, 60);
    QTest::mouseRelease(widget("Command5"), Qt::LeftButton);
}

TEST_F(InputTest, KeyboardActivatesClickButtonsOnly) {
    auto& click = record("Command17");
    auto& hold = record("Command1");
    for (Qt::Key key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter}) {
        SCOPED_TRACE(key);
        widget("Command17")->setFocus();
        QTest::keyClick(widget("Command17"), key);
        widget("Command1")->setFocus();
        QTest::keyClick(widget("Command1"), key);
    }
    EXPECT_EQ(click, (Log{"click", "click", "click"}));
    EXPECT_TRUE(hold.empty());
}

// A key held down reaches the window as the server repeats it: presses
// without releases, or a release and a press of the same moment, marked as
// repeats by Qt or not. Each is one press.
TEST_F(InputTest, AHeldActivationKeyClicksOnce) {
    struct Sent {
        QEvent::Type type;
        ulong at;
        bool autoRepeat = false;
    };
    using P = std::vector<Sent>;
    const auto press = QEvent::KeyPress;
    const auto release = QEvent::KeyRelease;
    const std::pair<const char*, P> ways[] = {
        {"presses only", {{press, 10}, {press, 50}, {press, 90}, {release, 130}}},
        {"release and press together", {{press, 10}, {release, 50}, {press, 50}, {release, 90}, {press, 90}, {release, 130}}},
        {"marked by Qt", {{press, 10}, {release, 50, true}, {press, 50, true}, {release, 130}}},
    };
    for (Qt::Key key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter}) {
        for (const auto& [way, events] : ways) {
            SCOPED_TRACE(std::string(way) + " " + std::to_string(key));
            auto& log = record("Command17");
            log.clear();
            QWidget* on = widget("Command17");
            on->setFocus();
            ulong base = 1000;
            for (int time = 0; time < 2; ++time) {  // held twice, one after the other
                for (const Sent& e : events) {
                    QKeyEvent event(e.type, key, Qt::NoModifier, key == Qt::Key_Space ? " " : "\r", e.autoRepeat);
                    event.setTimestamp(base + e.at);
                    QApplication::sendEvent(on, &event);
                }
                base += 1000;
            }
            EXPECT_EQ(log, (Log{"click", "click"}));
        }
    }
}

TEST_F(InputTest, EveryButtonRaisesOnlyTheEventsOfItsKind) {
    for (const auto& c : panel::layout::controls()) {
        if (c.kind != panel::layout::Kind::Button || !c.visible || c.top >= panel::layout::kDataAreaTop) continue;
        SCOPED_TRACE(c.name);
        auto& log = record(c.name);
        QTest::mouseClick(widget(c.name), Qt::LeftButton);
        if (c.events == panel::layout::Events::PressRelease) {
            EXPECT_EQ(log, (Log{"down 1", "up 1"}));
        } else {
            EXPECT_EQ(log, (Log{"click"}));
        }
    }
}

TEST_F(InputTest, ModalDialogEndsAPressThatLosesItsRelease) {
    auto& log = record("Command15");
    QTest::mousePress(widget("Command15"), Qt::LeftButton);
    ASSERT_EQ(log, (Log{"down 1"}));

    window->messageBoxHook = nullptr;
    QTimer::singleShot(0, [] {
        if (auto* box = QApplication::activeModalWidget()) box->close();
    });
    window->messageBox("Device or resource busy", "VID7IRID");
    EXPECT_EQ(log, (Log{"down 1", "up 1"}));
    EXPECT_FALSE(qobject_cast<QPushButton*>(widget("Command15"))->isDown());

    // The real release, should it still come, ends nothing twice.
    QTest::mouseRelease(widget("Command15"), Qt::LeftButton);
    EXPECT_EQ(log, (Log{"down 1", "up 1"}));
}

TEST_F(InputTest, HandlerThatOpensADialogGetsItsReleaseAndTheButtonComesUp) {
    auto& log = logs["Command36"];
    auto& plus = window->button("Command36");
    window->messageBoxHook = nullptr;
    plus.onMouseDown([&](const platform::MouseEvent&) {
        log.push_back("down");
        QTimer::singleShot(0, [] {
            if (auto* box = QApplication::activeModalWidget()) box->close();
        });
        window->messageBox("write failed", "VID7IRID");
    });
    plus.onMouseUp([&](const platform::MouseEvent&) { log.push_back("up"); });
    QTest::mousePress(widget("Command36"), Qt::LeftButton);
    EXPECT_EQ(log, (Log{"down", "up"}));
    EXPECT_FALSE(qobject_cast<QPushButton*>(widget("Command36"))->isDown());
}

TEST_F(InputTest, HidingEndsAHeldPressAndDeactivationDoesNot) {
    struct Case {
        const char* what;
        std::function<void(platform::qt::QtWindow&)> loseIt;
        bool ends;  // the press ends before its release
    };
    const Case cases[] = {
        {"button hidden", [](platform::qt::QtWindow& w) { w.button("Command48").setVisible(false); }, true},
        {"window hidden", [](platform::qt::QtWindow& w) { w.hide(); }, true},
        // Another program's window took the focus; the release still comes.
        {"window deactivated",
         [](platform::qt::QtWindow& w) {
             QEvent deactivate(QEvent::WindowDeactivate);
             QApplication::sendEvent(&w, &deactivate);
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        showWindow();
        window->button("Command48").setVisible(true);
        auto& log = record("Command48");
        log.clear();
        QTest::mousePress(widget("Command48"), Qt::RightButton);
        c.loseIt(*window);
        EXPECT_EQ(log, c.ends ? (Log{"down 2", "up 2"}) : (Log{"down 2"}));
        showWindow();
        QTest::mouseRelease(c.ends ? static_cast<QWidget*>(window) : widget("Command48"), Qt::RightButton);
        EXPECT_EQ(log, (Log{"down 2", "up 2"}));
    }
}

// ---- key preview ------------------------------------------------------------

TEST_F(InputTest, KeyPreviewSeesEveryKeyOnceBeforeTheControl) {
    std::vector<std::pair<int, int>> keys;
    auto& log = record("Command18");
    window->onKeyDown([&](int key, int shift) {
        keys.emplace_back(key, shift);
        // Before the control: the click has not happened yet.
        if (key == 32) { EXPECT_TRUE(log.empty()); }
    });
    QWidget* off = widget("Command18");  // inside Frame1: the key is offered to its parents too
    off->setFocus();
    QTest::keyClick(off, Qt::Key_H, Qt::ControlModifier);
    QTest::keyClick(off, Qt::Key_H, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClick(off, Qt::Key_H, Qt::AltModifier);
    QTest::keyClick(off, Qt::Key_H);
    QTest::keyClick(window, Qt::Key_H, Qt::ControlModifier);
    QTest::keyClick(off, Qt::Key_Space);
    // The modifier keys are keys too: Ctrl alone comes as 17 with Ctrl down.
    std::erase_if(keys, [](const auto& k) { return k.first >= 16 && k.first <= 18; });
    EXPECT_EQ(keys, (std::vector<std::pair<int, int>>{{72, 2}, {72, 3}, {72, 4}, {72, 0}, {72, 2}, {32, 0}}));
    // Not consumed: the focused control still got its key.
    EXPECT_EQ(log, (Log{"click"}));
}

TEST_F(InputTest, KeysOfOtherWindowsAreNotPreviewed) {
    int keys = 0;
    window->onKeyDown([&](int, int) { ++keys; });
    QWidget other;
    other.show();
    QTest::keyClick(&other, Qt::Key_H, Qt::ControlModifier);
    EXPECT_EQ(keys, 0);
}

}  // namespace
}  // namespace qelo::test
