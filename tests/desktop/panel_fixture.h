#pragma once
// The real panel window with Form1 behind it and a fake line, shown
// offscreen, optionally with accessibility applied as the programs do.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QTest>
#include <QWidget>

#include <memory>
#include <string>

#include "panel/form1.h"
#include "qt/accessibility.h"
#include "qt/window.h"
#include "support/fakes.h"

namespace qelo::test {

struct Panel {
    explicit Panel(bool accessible = true) {
        window.messageBoxHook = [](const std::string&, const std::string&) {};
        if (accessible) platform::qt::applyAccessibility(window);
        form.dispatch([this] { form.Form_Load(); });
    }

    bool show() {
        window.show();
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

    fakes::FakeClock clock;
    fakes::FakeSerialPort port{clock};
    platform::qt::QtWindow window;
    panel::Form1 form{window, port};
};

}  // namespace qelo::test
