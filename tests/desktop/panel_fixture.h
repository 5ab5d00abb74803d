#pragma once
// The panel as the programs put it together, with a fake line behind it,
// shown offscreen.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QTest>
#include <QWidget>

#include <string>

#include "app/panel_program.h"
#include "support/fakes.h"

namespace qelo::test {

struct Panel {
    Panel() { program.start(); }

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

    fakes::FakeClock clock;
    fakes::FakeSerialPort port{clock};
    app::PanelProgram program{platform::qt::defaultPortMap(),
                              {.view = {}, .messageBox = [](const std::string&, const std::string&) {}, .line = &port}};
    platform::qt::QtWindow& window = program.window;
    panel::Form1& form = program.form;
};

}  // namespace qelo::test
