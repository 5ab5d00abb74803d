// What assistive technology learns of the real window, and that giving it
// names leaves the window exactly as it was.
#include <QAbstractButton>
#include <QAccessible>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include <set>
#include <string>

#include "link/protocol.h"
#include "panel/accessibility.h"
#include "panel/buttons.h"
#include "panel/layout.h"
#include "panel_fixture.h"
#include "qt/accessibility.h"

namespace qelo::test {
namespace {

namespace a11y = panel::accessibility;
namespace layout = panel::layout;

TEST(AccessibleWindow, NoControlIsNameless) {
    DesktopPanel panel;
    ASSERT_TRUE(panel.show());
    std::set<std::string> seen;
    for (QWidget* w : panel.window.findChildren<QWidget*>()) {
        // Every label, button and frame, whether or not the layout named it.
        if (!qobject_cast<QFrame*>(w) && !qobject_cast<QAbstractButton*>(w)) continue;
        const std::string name = w->objectName().toStdString();
        EXPECT_FALSE(DesktopPanel::said(w).trimmed().isEmpty()) << "nameless: " << name << " (" << w->metaObject()->className() << ")";
        seen.insert(name);
    }
    for (const a11y::Entry& e : a11y::entries()) EXPECT_TRUE(seen.count(e.control)) << "never met " << e.control;

    // The window introduces itself as a window, by its title.
    QAccessibleInterface* window = QAccessible::queryAccessibleInterface(&panel.window);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->role(), QAccessible::Window);
    EXPECT_EQ(window->text(QAccessible::Name), panel.window.windowTitle());
    EXPECT_EQ(window->childCount(), panel.window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly).size());
}

TEST(AccessibleWindow, CommandButtonsTellTheirCode) {
    DesktopPanel panel;
    auto check = [&](const char* button, const char* code) {
        QWidget* w = panel.widget(button);
        ASSERT_NE(w, nullptr) << button;
        EXPECT_TRUE(w->toolTip().startsWith(QLatin1String(code))) << button << ": " << w->toolTip().toStdString();
        // Screen readers read the tooltip as the description.
        EXPECT_TRUE(DesktopPanel::said(w, QAccessible::Description).contains(QLatin1String(code))) << button;
    };
    for (const auto* b : panel::oneShotButtons()) check(b->name, b->code);
    for (const auto* b : panel::holdButtons()) check(b->name, b->code);
    EXPECT_EQ(panel.said("Command20"), "AUDIO MUTE OFF");
}

// Everything the operator sees and does is as it was without names.
TEST(AccessibleWindow, NamesChangeNoCaptionPlaceLookOrOrder) {
    // The window as no program builds it: without the names.
    fakes::FakeClock clock;
    fakes::FakeSerialPort line{clock};
    platform::qt::QtWindow plain;
    panel::Form1 form{plain, line};
    form.Form_Load();
    plain.show();
    DesktopPanel named;
    for (QWidget* a : plain.findChildren<QWidget*>()) {
        if (a->objectName().isEmpty()) continue;
        QWidget* b = named.window.findChild<QWidget*>(a->objectName());
        ASSERT_NE(b, nullptr) << a->objectName().toStdString();
        SCOPED_TRACE(a->objectName().toStdString());
        EXPECT_EQ(a->geometry(), b->geometry());
        EXPECT_EQ(a->isHidden(), b->isHidden());
        EXPECT_EQ(a->font(), b->font());
        EXPECT_EQ(a->palette(), b->palette());
        EXPECT_EQ(a->focusPolicy(), b->focusPolicy());
        if (a->nextInFocusChain() && b->nextInFocusChain()) {
            EXPECT_EQ(a->nextInFocusChain()->objectName(), b->nextInFocusChain()->objectName());
        }
        if (auto* la = qobject_cast<QLabel*>(a)) {
            EXPECT_EQ(la->text(), qobject_cast<QLabel*>(b)->text());
        }
        if (auto* ba = qobject_cast<QAbstractButton*>(a)) {
            EXPECT_EQ(ba->text(), qobject_cast<QAbstractButton*>(b)->text());
        }
    }
    EXPECT_EQ(plain.windowTitle(), named.window.windowTitle());
    EXPECT_EQ(plain.size(), named.window.size());
}

TEST(AccessibleWindow, ApplyingTwiceChangesNothing) {
    DesktopPanel panel;
    platform::qt::applyAccessibility(panel.window);
    EXPECT_EQ(panel.said("Command34"), "Show data area");
    EXPECT_EQ(panel.said("Label25"), "STATUS");
    EXPECT_EQ(panel.widget("Command17")->toolTip(), "C00");
}

TEST(AccessibleWindow, DataAreaToggleIsNamedForWhatItDoesNow) {
    DesktopPanel panel;
    ASSERT_TRUE(panel.show());
    QTest::keyClick(&panel.window, Qt::Key_H, Qt::ControlModifier);
    EXPECT_EQ(panel.said("Command34"), "Close data area");

    auto* toggle = panel.widget<QPushButton>("Command34");
    toggle->click();  // back to compact: the toggle is now out of view
    EXPECT_EQ(panel.said("Command34"), "Show data area");
    toggle->click();
    EXPECT_EQ(panel.said("Command34"), "Hide data area");

    // Still a button a screen reader can press.
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(toggle);
    ASSERT_NE(iface, nullptr);
    EXPECT_EQ(iface->role(), QAccessible::Button);
    ASSERT_NE(iface->actionInterface(), nullptr);
    EXPECT_TRUE(iface->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()));
    iface->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    // An accessible press animates like a real one: the click comes later.
    EXPECT_TRUE(QTest::qWaitFor([&] { return panel.said("Command34") == "Show data area"; }, 5000))
        << panel.said("Command34").toStdString();
    EXPECT_DOUBLE_EQ(panel.window.heightTwips(), layout::kCompactHeight);
}

TEST(AccessibleWindow, DisplayLinesReadTheirTitleAndWhatTheyShow) {
    DesktopPanel panel;
    ASSERT_TRUE(panel.show());
    EXPECT_EQ(panel.said("Label11"), "TXD");
    EXPECT_EQ(panel.said("Label12"), "RXD");
    EXPECT_EQ(panel.said("Label25"), "STATUS");

    panel.widget<QPushButton>("Command44")->click();  // STATUS query
    panel.line.receive(std::string("00") + link::kCR);
    EXPECT_EQ(panel.said("Label11"), "TXD: C R 0 CR");
    EXPECT_EQ(panel.said("Label12"), "RXD: 0 0 CR");
    EXPECT_EQ(panel.said("Label25"), "STATUS: Power ON");
    EXPECT_EQ(panel.window.label("Label25").caption(), " Power ON");
    EXPECT_EQ(QAccessible::queryAccessibleInterface(panel.widget("Label25"))->role(), QAccessible::StaticText);
}

}  // namespace
}  // namespace qelo::test
