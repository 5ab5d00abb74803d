#pragma once
// A shown panel window and small helpers shared by the window tests.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "qt/window.h"

namespace qelo::test {

struct Box {
    std::string text;
    std::string title;
};

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        owned_ = std::make_unique<platform::qt::QtWindow>();
        window = owned_.get();
        window->messageBoxHook = collectBoxes();
    }
    void TearDown() override {
        releaseMouse();
        window = nullptr;
        owned_.reset();
    }

    // Message boxes are collected in boxes instead of shown.
    std::function<void(const std::string&, const std::string&)> collectBoxes() {
        return [this](const std::string& text, const std::string& title) { boxes.push_back({text, title}); };
    }

    // A press that a test left held would leak into the next test.
    void releaseMouse() {
        if (!window || !window->isVisible()) return;
        for (Qt::MouseButton b : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton})
            if (QGuiApplication::mouseButtons() & b) QTest::mouseRelease(window, b);
    }

    void showWindow() {
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        // Without a window manager nothing activates the window for us.
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        QApplication::processEvents();
    }

    template <typename T = QWidget>
    T* widget(const std::string& name) {
        auto* found = window->findChild<T*>(QString::fromStdString(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    // Top-left of a control in the window's client coordinates.
    QRect inWindow(QWidget* w) { return QRect(w->mapTo(window, QPoint(0, 0)), w->size()); }

    platform::qt::QtWindow* window = nullptr;  // the window under test, whoever built it
    std::vector<Box> boxes;

private:
    std::unique_ptr<platform::qt::QtWindow> owned_;
};

}  // namespace qelo::test
