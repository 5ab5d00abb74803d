// The Qt window against the layout tables, and the adapters' contracts.
#include <QFrame>
#include <QLabel>
#include <QMessageBox>
#include <QRadioButton>
#include <QTimer>

#include <cmath>
#include <stdexcept>

#include "panel/layout.h"
#include "qt/accessibility.h"
#include "window_fixture.h"

namespace qelo::test {
namespace {

namespace layout = panel::layout;

QString captionOf(QWidget* w) {
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    return {};
}

// Within a pixel of where the tables put it, at 15 twips a pixel.
void expectNear(int pixels, int twips, const char* what, const char* name) {
    EXPECT_LE(std::abs(pixels * 15 - twips), 15) << name << " " << what;
}

TEST_F(WindowTest, EveryControlStandsAsTheTablesSay) {
    for (const layout::Control& c : layout::controls()) {
        SCOPED_TRACE(c.name);
        const auto all = window->findChildren<QWidget*>(QString::fromUtf8(c.name));
        ASSERT_EQ(all.size(), 1);
        QWidget* w = all.front();
        switch (c.kind) {
        case layout::Kind::Frame: EXPECT_TRUE(qobject_cast<QFrame*>(w) && !qobject_cast<QLabel*>(w)); break;
        case layout::Kind::Label: EXPECT_NE(qobject_cast<QLabel*>(w), nullptr); break;
        case layout::Kind::Button: EXPECT_NE(qobject_cast<QPushButton*>(w), nullptr); break;
        case layout::Kind::Radio: EXPECT_NE(qobject_cast<QRadioButton*>(w), nullptr); break;
        }
        ASSERT_NE(w->parentWidget(), nullptr);
        EXPECT_EQ(w->parentWidget()->objectName().toStdString(), c.container);
        // Captions too wide for their button are wrapped, nothing lost.
        const auto squeezed = [](QString t) { return t.remove(QLatin1Char('\n')).remove(QLatin1Char(' ')); };
        EXPECT_EQ(squeezed(captionOf(w)), squeezed(QString::fromUtf8(c.caption)));
        if (c.kind == layout::Kind::Button) { EXPECT_EQ(window->button(c.name).caption(), c.caption); }
        if (c.kind == layout::Kind::Label) { EXPECT_EQ(window->label(c.name).caption(), c.caption); }
        expectNear(w->x(), c.left, "left", c.name);
        expectNear(w->y(), c.top, "top", c.name);
        expectNear(w->x() + w->width(), c.left + c.width, "right", c.name);
        expectNear(w->y() + w->height(), c.top + c.height, "bottom", c.name);
        EXPECT_EQ(w->isHidden(), !c.visible);
        if (c.font) {
            const layout::Font* font = layout::findFont(c.font);
            ASSERT_NE(font, nullptr);
            EXPECT_DOUBLE_EQ(w->font().pointSizeF(), font->points);
            EXPECT_EQ(w->font().weight(), font->weight);
        }
        if (!layout::isSystemColour(c.back)) {
            const auto role = c.kind == layout::Kind::Button ? QPalette::Button : QPalette::Window;
            EXPECT_EQ(w->palette().color(role).rgb() & 0xFFFFFFu, c.back);
        }
        if (auto* radio = qobject_cast<QRadioButton*>(w)) { EXPECT_EQ(radio->isChecked(), c.selected); }
    }
    EXPECT_EQ(window->windowTitle(), QStringLiteral("QELO   PLV7M & LV7M   CONTROL  Ver.1.30"));
    for (const layout::TimerRow& t : layout::timers()) {
        EXPECT_EQ(window->timer(t.name).interval(), t.interval) << t.name;
        EXPECT_EQ(window->qtTimer(t.name).running(), t.enabled) << t.name;
    }
    auto* logo = widget<QLabel>("Image1");
    ASSERT_NE(logo, nullptr);
    EXPECT_EQ(logo->pixmap().size(), QSize(80, 26));
    EXPECT_EQ(logo->geometry(), QRect(536, 0, 80, 26));
}

TEST_F(WindowTest, UnknownNamesAreProgrammingErrors) {
    // A label is no button, and names outside the tables do not exist.
    EXPECT_THROW(window->button("Label11"), std::out_of_range);
    EXPECT_THROW(window->label("Command17"), std::out_of_range);
    EXPECT_THROW(window->frame("Command4"), std::out_of_range);
    EXPECT_THROW(window->radio("Option5"), std::out_of_range);
    EXPECT_THROW(window->timer("Timer5"), std::out_of_range);
    EXPECT_NO_THROW(window->frame("Frame12"));
}

TEST_F(WindowTest, TabOrderFollowsTabIndexes) {
    std::vector<std::pair<int, std::string>> focusable;
    for (const layout::Control& c : layout::controls())
        if (c.kind == layout::Kind::Button || c.kind == layout::Kind::Radio) focusable.emplace_back(c.tabIndex, c.name);
    std::sort(focusable.begin(), focusable.end());
    for (std::size_t i = 1; i < focusable.size(); ++i) {
        QWidget* next = widget(focusable[i - 1].second)->nextInFocusChain();
        while (next->focusPolicy() == Qt::NoFocus) next = next->nextInFocusChain();
        EXPECT_EQ(next->objectName().toStdString(), focusable[i].second)
            << "after " << focusable[i - 1].second;
    }
}

// ---- window height --------------------------------------------------------

class WindowHeight : public WindowTest, public ::testing::WithParamInterface<int> {};

TEST_P(WindowHeight, OuterHeightIsTheHeightSet) {
    showWindow();
    const int twips = GetParam();
    window->setHeight(twips);
    QApplication::processEvents();
    EXPECT_DOUBLE_EQ(window->heightTwips(), twips);
    // The client area is what the design's 25-pixel frame leaves, whatever
    // frame the platform draws.
    EXPECT_EQ(window->height(), qRound(twips / 15.0) - 25);
    EXPECT_EQ(window->width(), 618);
    EXPECT_DOUBLE_EQ(window->widthTwips(), window->frameGeometry().width() * 15.0);
}

INSTANTIATE_TEST_SUITE_P(Modes, WindowHeight, ::testing::Values(5200, 6645, 7000));

TEST_F(WindowTest, HeightSetBeforeShowingHoldsOnceShown) {
    window->setHeight(5200);
    showWindow();
    EXPECT_EQ(window->height(), qRound(5200 / 15.0) - 25);
    EXPECT_DOUBLE_EQ(window->heightTwips(), 5200);
}

TEST_F(WindowTest, CompactWindowShowsEverythingButTheDataArea) {
    showWindow();
    window->frame("Frame8").setVisible(true);
    window->button("Command34").setVisible(true);
    window->setHeight(layout::kCompactHeight);
    QApplication::processEvents();
    const int clientHeight = window->height();
    for (const layout::Control& c : layout::controls()) {
        if (c.container != std::string("Form1")) continue;
        SCOPED_TRACE(c.name);
        const QRect r = inWindow(widget(c.name));
        if (c.top >= layout::kDataAreaTop) {
            EXPECT_GE(r.top(), clientHeight) << "in view at the compact height";
            // Out of view means out of reach of the mouse as well.
            EXPECT_NE(window->childAt(QPoint(r.center().x(), clientHeight - 1)), widget(c.name));
        } else {
            EXPECT_LE(r.bottom(), clientHeight - 1) << "cut off at the compact height";
        }
    }
}

TEST_F(WindowTest, OperatorCannotResizeOrMaximise) {
    showWindow();
    window->setHeight(layout::kCompactHeight);
    const QSize size = window->size();
    EXPECT_EQ(window->minimumSize(), size);
    EXPECT_EQ(window->maximumSize(), size);
    window->resize(900, 900);
    EXPECT_EQ(window->size(), size);
    window->showMaximized();
    QApplication::processEvents();
    EXPECT_EQ(window->size(), size);
    EXPECT_FALSE(window->windowState() & Qt::WindowMaximized);
    const auto flags = window->windowFlags();
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
}

TEST_F(WindowTest, PositionAndScreenAreInTwips) {
    showWindow();
    const QRect screen = window->screen()->geometry();
    EXPECT_DOUBLE_EQ(window->screenWidth(), screen.width() * 15.0);
    EXPECT_DOUBLE_EQ(window->screenHeight(), screen.height() * 15.0);
    window->setLeft(1500);
    window->setTop(3000);
    QApplication::processEvents();
    EXPECT_EQ(window->frameGeometry().topLeft(), QPoint(100, 200));
}

// ---- labels, captions -----------------------------------------------------

TEST_F(WindowTest, LabelCaptionsAreBytesAndComeBackWhole) {
    auto& label = window->label("Label12");
    auto* shown = widget<QLabel>("Label12");
    std::string bytes;
    for (int c = 1; c < 256; ++c) bytes += static_cast<char>(c);
    label.setCaption(bytes);
    EXPECT_EQ(label.caption(), bytes);
    EXPECT_EQ(shown->text(), QString::fromLatin1(bytes.data(), qsizetype(bytes.size())));

    // A traffic line can hold a long reply: all of it comes back, the widget
    // gets only what it can show.
    const std::string longLine(130'000, 'A');
    label.setCaption(longLine);
    EXPECT_EQ(label.caption(), longLine);
    EXPECT_LE(shown->text().size(), shown->width() + 1);
    EXPECT_GE(shown->text().size(), shown->width() / 4);

    label.setCaption("");
    EXPECT_EQ(label.caption(), "");
    EXPECT_TRUE(shown->text().isEmpty());
}

TEST_F(WindowTest, LabelsShowMarkupAsText) {
    window->label("Label25").setCaption("<b>x</b>");
    EXPECT_EQ(widget<QLabel>("Label25")->textFormat(), Qt::PlainText);
}

TEST_F(WindowTest, ButtonCaptionsAreUtf8) {
    auto& toggle = window->button("Command34");
    for (const std::string caption : {"CLOSE", "データを表示しない", "データを表示する"}) {
        toggle.setCaption(caption);
        EXPECT_EQ(toggle.caption(), caption);
        EXPECT_EQ(widget<QPushButton>("Command34")->text().remove(QLatin1Char('\n')), QString::fromStdString(caption));
    }
}

TEST_F(WindowTest, WideButtonCaptionsWrapToTheButton) {
    const QFontMetrics metrics(widget("Command3")->font());
    const int em = metrics.horizontalAdvance(QStringLiteral("M"));
    struct Case {
        QString text;
        int width;
        int lines;
    };
    const Case cases[] = {
        {QStringLiteral("DISPLAY CLEAR"), 9 * em, 2},
        {QStringLiteral("DISPLAY CLEAR"), 20 * em, 1},
        {QStringLiteral(u"データを表示しない"), 10 * em, 2},
        {QStringLiteral("A B C"), 1, 3},
        {QString(), 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        const QString out = platform::qt::QtButton::wrapped(c.text, metrics, c.width);
        const QStringList lines = out.split(QLatin1Char('\n'));
        EXPECT_EQ(lines.size(), c.lines);
        for (const QString& line : lines)
            if (line.size() > 1) { EXPECT_LE(metrics.horizontalAdvance(line), c.width); }
        EXPECT_EQ(QString(out).remove(QLatin1Char('\n')).remove(QLatin1Char(' ')),
                  QString(c.text).remove(QLatin1Char(' ')));
    }
    EXPECT_TRUE(widget<QPushButton>("Command3")->text().contains(QLatin1Char('\n')));
}

TEST_F(WindowTest, FrameHidesWhatItHolds) {
    showWindow();
    auto& panel = window->frame("Frame8");
    EXPECT_FALSE(panel.visible());
    EXPECT_FALSE(widget("Option3")->isVisible());
    panel.setVisible(true);
    EXPECT_TRUE(panel.visible());
    EXPECT_TRUE(widget("Option3")->isVisible());
    // The panel covers the COM button and takes the clicks there.
    const QRect com = inWindow(widget("Command33"));
    EXPECT_EQ(window->childAt(com.center())->window(), window);
    EXPECT_NE(window->childAt(com.center()), widget("Command33"));
    panel.setVisible(false);
    EXPECT_EQ(window->childAt(com.center()), widget("Command33"));
}

// ---- radio buttons --------------------------------------------------------

TEST_F(WindowTest, TheTwoRadioGroupsAreIndependent) {
    showWindow();
    window->frame("Frame8").setVisible(true);
    QApplication::processEvents();
    std::vector<std::string> clicks;
    for (const char* name : {"Option1", "Option2", "Option3", "Option4"})
        window->radio(name).onClick([&clicks, name] { clicks.push_back(name); });

    struct Step {
        const char* click;
        bool option1, option2, option3, option4;
    };
    const Step steps[] = {
        {"Option2", false, true, true, false},
        {"Option4", false, true, false, true},
        {"Option1", true, false, false, true},
        {"Option3", true, false, true, false},
        // The selected port chosen again: chosen again, and still selected.
        {"Option1", true, false, true, false},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.click);
        QTest::mouseClick(widget(s.click), Qt::LeftButton, {}, QPoint(8, 8));
        EXPECT_EQ(window->radio("Option1").value(), s.option1);
        EXPECT_EQ(window->radio("Option2").value(), s.option2);
        EXPECT_EQ(window->radio("Option3").value(), s.option3);
        EXPECT_EQ(window->radio("Option4").value(), s.option4);
    }
    EXPECT_EQ(clicks, (std::vector<std::string>{"Option2", "Option4", "Option1", "Option3", "Option1"}));
}

TEST_F(WindowTest, PortChoicesNameTheirDeviceAsItIsWhenThePanelIsShown) {
    std::map<int, std::string> devices{{1, "/dev/null"}, {2, "/dev/qelo-no-such-port"}};
    platform::qt::describePortDevices(*window, [&](int n) { return devices[n]; });
    showWindow();
    auto shown = [&](const char* name) {
        QWidget* radio = widget(name);
        EXPECT_EQ(radio->toolTip(), radio->accessibleDescription());
        return radio->toolTip().toStdString();
    };
    window->frame("Frame8").setVisible(true);
    EXPECT_EQ(shown("Option1"), "COM1: /dev/null");
    EXPECT_EQ(shown("Option2"), "COM2: /dev/qelo-no-such-port (not present)");
    // An adapter plugged in meanwhile shows the next time the panel opens.
    devices = {{1, "/dev/qelo-no-such-port"}, {2, "/dev/null"}};
    window->frame("Frame8").setVisible(false);
    window->frame("Frame8").setVisible(true);
    EXPECT_EQ(shown("Option1"), "COM1: /dev/qelo-no-such-port (not present)");
    EXPECT_EQ(shown("Option2"), "COM2: /dev/null");
}

TEST_F(WindowTest, SelectingFromTheProgramRaisesClickOnlyOnAChange) {
    int clicks = 0;
    int seenValue = -1;
    auto& com1 = window->radio("Option1");
    com1.onClick([&] {
        ++clicks;
        seenValue = com1.value();
    });
    com1.setValue(true);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(seenValue, 1);  // already selected when its handler runs
    com1.setValue(true);
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(window->radio("Option2").value());
    EXPECT_TRUE(window->radio("Option3").value());
    com1.setValue(false);
    EXPECT_FALSE(com1.value());
}

// Timers: the contract in timer_contract_test.cpp holds the Qt timer to what
// the fake promises.

// ---- failures -------------------------------------------------------------

TEST_F(WindowTest, FailuresOfHandlersGoToTheReporter) {
    showWindow();
    std::vector<std::string> reported;
    window->setFailureReporter([&](std::exception_ptr failure) {
        try {
            std::rethrow_exception(failure);
        } catch (const std::exception& e) {
            reported.emplace_back(e.what());
        }
    });
    window->button("Command17").onClick([] { throw std::runtime_error("click failed"); });
    window->button("Command1").onMouseDown([](const platform::MouseEvent&) { throw std::runtime_error("press failed"); });
    window->onKeyDown([](int, int) { throw std::logic_error("key failed"); });
    QTest::mouseClick(widget("Command17"), Qt::LeftButton);
    QTest::mouseClick(widget("Command1"), Qt::LeftButton);
    EXPECT_EQ(reported, (std::vector<std::string>{"click failed", "press failed"}));
    QTest::keyClick(widget("Command17"), Qt::Key_A);
    ASSERT_EQ(reported.size(), 3u);
    EXPECT_EQ(reported.back(), "key failed");
    window->radio("Option2").onClick([] { throw std::runtime_error("selection failed"); });
    window->radio("Option2").setValue(true);
    EXPECT_EQ(reported.back(), "selection failed");
}

TEST_F(WindowTest, MessageBoxIsAModalWarningWithOneOk) {
    showWindow();
    window->messageBoxHook = nullptr;
    bool checked = false;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->icon(), QMessageBox::Warning);
        EXPECT_EQ(box->windowTitle(), QStringLiteral("VID7IRID"));
        EXPECT_EQ(box->text(), QStringLiteral("No such file or directory"));
        EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
        EXPECT_TRUE(box->isModal());
        checked = true;
        box->accept();
    });
    window->messageBox("No such file or directory", "VID7IRID");
    EXPECT_TRUE(checked);
}

}  // namespace
}  // namespace qelo::test
