#pragma once
// Adapters from the panel's control interfaces to Qt widgets and timers.
//
// Text rule: label captions set at run time are bytes, one byte one
// character (Latin-1), because the traffic lines show what travels on the
// line; button captions are UTF-8, because the data-area toggle's captions
// are Japanese. Captions from the layout tables are UTF-8.

#include <QObject>
#include <QTimer>

#include <exception>
#include <functional>
#include <string>

#include "seam/platform.h"
#include "qt/delivery.h"

class QFontMetrics;
class QFrame;
class QLabel;
class QPushButton;
class QRadioButton;

namespace qelo::platform::qt {

// Qt's modifiers as the seam's ShiftMask bits, for mice and keys alike.
int shiftState(Qt::KeyboardModifiers modifiers);

class QtLabel final : public Label {
public:
    QtLabel(QLabel* widget, std::string caption);
    void setCaption(const std::string& text) override;
    void appendCaption(std::string_view text) override;
    std::string caption() const override { return caption_; }
    // Characters handed to the widget at most: what a label of this width
    // can show, never the whole of a caption tens of thousands long.
    static int shownLimit(int widthPixels);

private:
    std::size_t limit() const;
    void show();

    QLabel* widget_;
    std::string caption_;
    // Characters of caption_ the widget has; npos while it shows a layout caption.
    std::size_t shown_ = std::string::npos;
};

class QtButton final : public QObject, public Button {
    Q_OBJECT
public:
    // A press-and-hold button raises press and release, never click; any
    // other button raises click only.
    QtButton(QPushButton* widget, std::string caption, bool pressAndHold, const Delivery& delivery);

    void setCaption(const std::string& text) override;
    std::string caption() const override { return caption_; }
    void setVisible(bool visible) override;
    bool visible() const override;
    void onClick(std::function<void()> handler) override { click_ = std::move(handler); }
    void onMouseDown(std::function<void(const MouseEvent&)> handler) override { down_ = std::move(handler); }
    void onMouseUp(std::function<void(const MouseEvent&)> handler) override { up_ = std::move(handler); }

    // A caption too wide for one line breaks between words, and inside a
    // word only where the word alone is too wide (Japanese has no blanks).
    static QString wrapped(const QString& text, const QFontMetrics& metrics, int width);
    // Qt lost the release of a press (a modal dialog, hiding):
    // deliver it, so that no repeat runs on with nobody holding the button.
    void releaseLostPress();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void press(int button, const MouseEvent& event);
    void release(int button, const MouseEvent& event);
    void show(const std::string& caption);

    QPushButton* widget_;
    std::string caption_;
    bool pressAndHold_;
    const Delivery& delivery_;
    std::function<void()> click_;
    std::function<void(const MouseEvent&)> down_;
    std::function<void(const MouseEvent&)> up_;
    int held_ = 0;  // MouseButton bits of the presses not yet released
    MouseEvent last_;
};

class QtFrame final : public Frame {
public:
    explicit QtFrame(QFrame* widget) : widget_(widget) {}
    void setVisible(bool visible) override;
    bool visible() const override;

private:
    QFrame* widget_;
};

class QtRadio final : public QObject, public RadioButton {
    Q_OBJECT
public:
    QtRadio(QRadioButton* widget, const Delivery& delivery);
    void setValue(bool selected) override;
    bool value() const override;
    void onClick(std::function<void()> handler) override { click_ = std::move(handler); }

private:
    QRadioButton* widget_;
    const Delivery& delivery_;
    std::function<void()> click_;
    bool ranForClick_ = false;  // the click under way has run the handler
};

class QtTimer final : public QObject, public Timer {
    Q_OBJECT
public:
    QtTimer(const std::string& name, int interval, bool enabled, const Delivery& delivery);
    void setInterval(int ms) override;
    int interval() const override { return interval_; }
    void setEnabled(bool enabled) override;
    bool enabled() const override { return enabled_; }
    void onTick(std::function<void()> handler) override { tick_ = std::move(handler); }

    // True while ticks are actually due (enabled with a positive interval).
    bool running() const { return timer_.isActive(); }

private:
    void apply(bool restart);

    QTimer timer_;
    int interval_;
    bool enabled_;
    const Delivery& delivery_;
    std::function<void()> tick_;
};

}  // namespace qelo::platform::qt
