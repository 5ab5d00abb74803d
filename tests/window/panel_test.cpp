// The whole panel on the real window: Form1's handlers reached through real
// mouse and keyboard input, with a fake port behind it.
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>

#include <functional>
#include <string_view>
#include <utility>
#include <vector>

#include "app/panel_program.h"
#include "link/answer.h"
#include "link/protocol.h"
#include "panel/buttons.h"
#include "panel/form1.h"
#include "panel/layout.h"
#include "qt/controls.h"
#include "support/fakes.h"
#include "window_fixture.h"

namespace qelo::test {
namespace {

namespace layout = panel::layout;

class PanelTest : public WindowTest {
protected:
    void SetUp() override {
        // The panel as the programs put it together, on a fake line.
        program = std::make_unique<app::PanelProgram>(
            platform::qt::defaultPortMap(), app::PanelHooks{.view = {}, .messageBox = collectBoxes(), .line = &port});
        window = &program->window;
        form = &program->form;
        program->start();
        showWindow();
    }
    void TearDown() override {
        releaseMouse();  // while the form that handles it still exists
        window = nullptr;
        program.reset();
    }

    void click(const std::string& name) { QTest::mouseClick(widget(name), Qt::LeftButton); }
    bool anyTimerRunning() {
        for (const auto& t : layout::timers())
            if (window->qtTimer(t.name).running()) return true;
        return false;
    }

    // The next warning is a real box, with its own event loop: whileOpen runs
    // in that loop, then the box is closed. Any box opened meanwhile is
    // recorded and closed at once.
    void inTheNextBox(std::function<void()> whileOpen) {
        window->messageBoxHook = nullptr;
        auto* watch = new QTimer(window);
        QObject::connect(watch, &QTimer::timeout, [this, watch, whileOpen = std::move(whileOpen), box = (QMessageBox*)nullptr]() mutable {
            auto* open = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!open) return;
            boxes.push_back({open->text().toStdString(), open->windowTitle().toStdString()});
            if (box) {  // one opened inside the first
                open->close();
                return;
            }
            box = open;
            whileOpen();
            watch->stop();
            box->close();
        });
        watch->start(10);
    }
    bool shows(const char* label, const std::string& text) {
        return QTest::qWaitFor([&] { return window->label(label).caption() == text; }, 10000);
    }

    void save(const char* file) {
        const QString path = QDir(QStringLiteral(QELO_SCREENSHOT_DIR)).filePath(QString::fromLatin1(file));
        EXPECT_TRUE(window->grab().save(path)) << path.toStdString();
    }

    fakes::FakeClock clock;  // the port's write stamps; the window's timers are real
    fakes::FakeSerialPort port{clock};
    std::unique_ptr<app::PanelProgram> program;
    panel::Form1* form = nullptr;
};

TEST_F(PanelTest, OpensCompactWithTheDataAreaOutOfView) {
    EXPECT_DOUBLE_EQ(window->heightTwips(), layout::kCompactHeight);
    EXPECT_TRUE(port.portOpen());
    EXPECT_EQ(port.commPort(), 1);
    EXPECT_EQ(port.settings().text(), "19200,N,8,1");
    EXPECT_TRUE(port.writes.empty());
    EXPECT_FALSE(anyTimerRunning());
    EXPECT_FALSE(widget("Frame8")->isVisible());
    EXPECT_FALSE(widget("Command34")->isVisible());
    EXPECT_TRUE(window->radio("Option1").value());
    EXPECT_TRUE(window->radio("Option3").value());
    for (const char* name : {"Label11", "Label12", "Label25"}) EXPECT_EQ(window->label(name).caption(), "");
    for (const char* name : {"Frame9", "Frame10", "Frame15", "Command44", "Command52"})
        EXPECT_GE(inWindow(widget(name)).top(), window->height()) << name;
    EXPECT_TRUE(boxes.empty());
    save("compact.png");
}

TEST_F(PanelTest, CtrlHExpandsAndTheToggleSwitchesModes) {
    QWidget* focused = widget("Command27");
    focused->setFocus();
    QTest::keyClick(focused, Qt::Key_H, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_DOUBLE_EQ(window->heightTwips(), layout::kCompactHeight);
    QTest::keyClick(focused, Qt::Key_H, Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(window->heightTwips(), layout::kShortcutHeight);
    EXPECT_EQ(window->button("Command34").caption(), "CLOSE");
    // The whole design client area is in view.
    EXPECT_GE(window->height(), 6615 / 15);
    for (const auto& c : layout::controls()) {
        if (c.container == std::string("Form1") && c.visible) {
            EXPECT_LE(inWindow(widget(c.name)).bottom(), window->height() - 1) << c.name;
        }
    }

    // A status query with its answer, for the picture of the expanded panel.
    click("Command44");
    ASSERT_EQ(port.sent(), (std::vector<std::string>{"CR0\r"}));
    port.receive("00\r");
    EXPECT_EQ(window->label("Label25").caption(), " Power ON");
    EXPECT_NE(widget<QLabel>("Label12")->text(), QString());
    save("expanded.png");

    click("Command34");
    EXPECT_DOUBLE_EQ(window->heightTwips(), layout::kCompactHeight);
    EXPECT_EQ(window->button("Command34").caption(), "データを表示する");
    // Out of the mouse's reach now, but still focused: Space brings it back.
    ASSERT_EQ(QApplication::focusWidget(), widget("Command34"));
    QTest::keyClick(widget("Command34"), Qt::Key_Space);
    EXPECT_DOUBLE_EQ(window->heightTwips(), layout::kToggleHeight);
    EXPECT_EQ(window->button("Command34").caption(), "データを表示しない");
    save("expanded-by-toggle.png");
}

TEST_F(PanelTest, OneShotButtonsSendTheirCommand) {
    for (const auto* b : panel::oneShotButtons()) {
        // The data area is out of the mouse's reach at the compact height.
        if (inWindow(widget(b->name)).top() >= window->height()) continue;
        port.writes.clear();
        click(b->name);
        EXPECT_EQ(port.sent(), (std::vector<std::string>{link::frame(b->code)})) << b->name;
    }
}

TEST_F(PanelTest, HoldRepeatsUntilReleasedEvenWhenADialogTakesTheRelease) {
    QWidget* plus = widget("Command1");
    QTest::mousePress(plus, Qt::RightButton);
    ASSERT_EQ(port.writes.size(), 1u);
    EXPECT_TRUE(window->qtTimer("Timer1").running());
    // The repeat's own pace, however late a loaded machine runs it.
    EXPECT_TRUE(QTest::qWaitFor([&] { return port.writes.size() >= 2; }, 10000));

    window->messageBoxHook = nullptr;
    QTimer::singleShot(0, [] {
        if (auto* box = QApplication::activeModalWidget()) box->close();
    });
    window->messageBox("Permission denied", panel::kAppTitle);
    EXPECT_FALSE(window->timer("Timer1").enabled());
    EXPECT_EQ(form->repeatCode(), 0);
    // Two periods of the repeat without a send.
    const auto sent = port.writes.size();
    QTest::qWait(2 * window->timer("Timer1").interval());
    EXPECT_EQ(port.writes.size(), sent);
    QTest::mouseRelease(plus, Qt::RightButton);
}

// While the warning of a failed choice is open, the reply time-out and the
// clearing still run, and the closed port brings nothing in.
TEST_F(PanelTest, AFailedPortChoiceWarnsWhileTimersRunAndNothingArrives) {
    widget<QPushButton>("Command44")->click();  // STATUS, out of the mouse's reach; its answer awaited
    port.fail(fakes::Op::Open, "/dev/ttyS1: No such file or directory", 2);
    click("Command33");
    inTheNextBox([&] {
        port.receive("80\r");
        EXPECT_TRUE(shows("Label12", link::kTimeoutMark));
        EXPECT_TRUE(shows("Label11", ""));
    });
    QTest::mouseClick(widget("Option2"), Qt::LeftButton, {}, QPoint(8, 8));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "/dev/ttyS1: No such file or directory");
    EXPECT_EQ(window->label("Label12").caption(), "");
    EXPECT_EQ(window->label("Label25").caption(), "");
    EXPECT_EQ(form->recvData(), "");
    EXPECT_TRUE(window->radio("Option2").value());
    EXPECT_EQ(port.commPort(), 1);
    EXPECT_FALSE(port.portOpen());
}

// A send that fails during a hold ends the hold before its warning opens:
// while it is open nothing more is sent, what still arrives is shown, and the
// clearing blanks it as after a release.
TEST_F(PanelTest, AFailedSendDuringAHoldWarnsOnceAndSendsNoMore) {
    QTest::mousePress(widget("Command1"), Qt::LeftButton);
    ASSERT_EQ(port.writes.size(), 1u);
    port.fail(fakes::Op::Output, "/dev/ttyS0: the device went away");
    inTheNextBox([&] {
        EXPECT_EQ(form->repeatCode(), 0);
        port.receive("\x06\r");
        EXPECT_EQ(window->label("Label12").caption(), " ACK CR ");
        EXPECT_TRUE(shows("Label12", ""));
        QTest::qWait(2 * 250);  // two periods of the hold
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return !boxes.empty(); }, 10000));
    QTest::mouseRelease(widget("Command1"), Qt::LeftButton);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "/dev/ttyS0: the device went away");
    EXPECT_EQ(port.writes.size(), 1u);
    EXPECT_FALSE(window->timer("Timer1").enabled());
    EXPECT_EQ(window->label("Label11").caption(), "");
}

TEST_F(PanelTest, PortPanelChoicesKeepTheOtherGroup) {
    click("Command33");
    ASSERT_TRUE(widget("Frame8")->isVisible());
    save("port-panel.png");
    // The panel lies over the COM button.
    EXPECT_NE(window->childAt(inWindow(widget("Command33")).center()), widget("Command33"));
    QTest::mouseClick(widget("Option4"), Qt::LeftButton, {}, QPoint(8, 8));
    EXPECT_EQ(port.settings().text(), "9600,N,8,1");
    EXPECT_TRUE(window->radio("Option1").value());
    EXPECT_FALSE(widget("Frame8")->isVisible());
    EXPECT_TRUE(boxes.empty());
}

TEST_F(PanelTest, FailedWriteIsReportedAndThePanelGoesOn) {
    port.setPortOpen(false);
    click("Command17");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, "VID7IRID");
    EXPECT_EQ(boxes[0].text, "COM1: port is not open");
    port.setPortOpen(true);
    click("Command17");
    EXPECT_EQ(port.writes.size(), 1u);
}

// Received text is handed to the RXD line as it arrives. Whatever the pieces,
// and whatever happened to the line between them, the line, its widget, the
// status and RecvData must be what rendering everything at once gives.
TEST_F(PanelTest, ReceivedPiecesShowAsTheWholeWould) {
    enum Step { Bytes, Send, Timeout };
    struct Case {
        const char* query;
        std::vector<std::pair<Step, std::string>> steps;
    };
    std::string allBytes;
    for (int c = 0; c < 256; ++c) allBytes += static_cast<char>(c);
    const std::string flood(20000, '8');
    const Case cases[] = {
        {"CR0", {{Bytes, "0"}, {Bytes, "0"}, {Bytes, "\r"}}},
        {"CR3", {{Bytes, "1"}, {Bytes, "23"}, {Bytes, "4"}, {Bytes, "5\r"}}},
        {"CR4", {{Bytes, "\x06"}, {Bytes, "\n0"}, {Bytes, "1\r"}}},
        {"CR1", {{Bytes, allBytes}, {Bytes, allBytes.substr(0, 1)}}},
        // The line shows a short text when a longer one starts anew.
        {"CR0", {{Bytes, "0"}, {Timeout, ""}, {Bytes, "2400\r"}}},
        {"CR0", {{Bytes, "88"}, {Send, ""}, {Timeout, ""}, {Bytes, "8"}, {Bytes, "0\r"}}},
        // A late answer as long as the time-out mark it replaces.
        {"CR0", {{Send, ""}, {Timeout, ""}, {Bytes, "80\r"}}},
        // Past the cap what arrives is dropped, on the line as in RecvData.
        {"CR0", {{Bytes, "80"}, {Bytes, flood}, {Bytes, flood}, {Bytes, "x"}}},
    };
    const int limit = platform::qt::QtLabel::shownLimit(widget("Label12")->width());
    for (const auto& c : cases) {
        form->Timer2_Timer();
        form->Timer4_Timer();
        form->Hyouji(link::frame(c.query), panel::Form1::kSend);  // the query the status is decoded for
        std::string kept;
        for (const auto& [step, bytes] : c.steps) {
            SCOPED_TRACE(std::string(c.query) + " after " + std::to_string(kept.size()) + " bytes");
            if (step == Send) form->Hyouji(link::frame(c.query), panel::Form1::kSend);
            if (step == Timeout) form->Timer2_Timer();
            if (step != Bytes) {
                kept = form->recvData().str();  // what a send or a time-out keeps is tested elsewhere
                continue;
            }
            const std::string statusBefore = window->label("Label25").caption();
            port.receive(bytes);
            kept = (kept + bytes).substr(0, panel::Form1::kRecvLimit);
            const std::string whole = link::render(kept);
            EXPECT_EQ(form->recvData(), kept);
            EXPECT_EQ(window->label("Label12").caption(), whole);
            EXPECT_EQ(widget<QLabel>("Label12")->text(),
                      QString::fromLatin1(whole.data(), std::min<qsizetype>(whole.size(), limit)));
            EXPECT_EQ(window->label("Label25").caption(), link::statusText(form->sendData(), form->recvData()).value_or(statusBefore));
        }
    }
}

}  // namespace
}  // namespace qelo::test
