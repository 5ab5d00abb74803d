#pragma once
// The panel as the programs put it together, with a fake line behind it,
// shown offscreen, and what a screen reader is told of it.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QTest>
#include <QWidget>

#include "support/fakes.h"
#include "support/panel.h"

namespace qelo::test {

struct FakeLine {
    fakes::FakeClock clock;
    fakes::FakeSerialPort line{clock};
};

struct DesktopPanel : FakeLine, Panel {
    DesktopPanel() : Panel(FakeLine::line) {}

    bool show() {
        const bool exposed = QTest::qWaitForWindowExposed(&window);
        QApplication::processEvents();
        return exposed;
    }

    template <typename T = QWidget>
    T* widget(const char* name) {
        return window.findChild<T*>(QString::fromLatin1(name));
    }

    // What a screen reader is told about a control.
    static QString said(QWidget* w, QAccessible::Text what = QAccessible::Name) {
        QAccessibleInterface* iface = w ? QAccessible::queryAccessibleInterface(w) : nullptr;
        return iface ? iface->text(what) : QString();
    }
    QString said(const char* name, QAccessible::Text what = QAccessible::Name) { return said(widget(name), what); }
};

}  // namespace qelo::test
