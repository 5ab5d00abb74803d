#include "qt/controls.h"

#include <QButtonGroup>
#include <QFontMetrics>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QtGlobal>

#include <algorithm>

#include "panel/layout.h"

namespace qelo::platform::qt {

using panel::layout::kTwipsPerPixel;

// ---- labels -------------------------------------------------------------

QtLabel::QtLabel(QLabel* widget, std::string caption) : widget_(widget), caption_(std::move(caption)) {
    widget_->setTextFormat(Qt::PlainText);
    widget_->setText(QString::fromUtf8(caption_.data(), static_cast<qsizetype>(caption_.size())));
}

int QtLabel::shownLimit(int widthPixels) {
    // No glyph is narrower than a pixel, so this many always fill the label.
    return std::max(widthPixels, 0) + 1;
}

std::size_t QtLabel::limit() const { return static_cast<std::size_t>(shownLimit(widget_->width())); }

void QtLabel::setCaption(const std::string& text) {
    // A label re-lays out its text on every setText: skip it when what can
    // be seen stays the same.
    const std::size_t visible = std::min(text.size(), limit());
    const bool same = visible == shown_ && text.compare(0, visible, caption_, 0, visible) == 0;
    caption_ = text;
    if (!same) show();
}

void QtLabel::appendCaption(std::string_view text) {
    caption_.append(text);
    if (shown_ == std::string::npos || shown_ < std::min(caption_.size(), limit())) show();
}

void QtLabel::show() {
    shown_ = std::min(caption_.size(), limit());
    widget_->setText(QString::fromLatin1(caption_.data(), static_cast<qsizetype>(shown_)));
}

// ---- buttons ------------------------------------------------------------

int shiftState(Qt::KeyboardModifiers modifiers) {
    int shift = 0;
    if (modifiers & Qt::ShiftModifier) shift |= ShiftBit;
    if (modifiers & Qt::ControlModifier) shift |= CtrlBit;
    if (modifiers & Qt::AltModifier) shift |= AltBit;
    return shift;
}

namespace {

// Qt numbers its buttons by the same bits (1 left, 2 right, 4 middle), and
// the side buttons and any further ones follow as 8, 16, ...
int platformButton(Qt::MouseButton button) { return static_cast<int>(button); }

bool isActivationKey(int key) {
    return key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter;
}

}  // namespace

QtButton::QtButton(QPushButton* widget, std::string caption, bool pressAndHold, const Delivery& delivery)
    : widget_(widget), caption_(std::move(caption)), pressAndHold_(pressAndHold), delivery_(delivery) {
    show(caption_);
    widget_->installEventFilter(this);
    if (!pressAndHold_) {
        connect(widget_, &QPushButton::clicked, this, [this] { delivery_.run(click_); });
    }
}

void QtButton::setCaption(const std::string& text) {
    caption_ = text;
    show(text);
}

void QtButton::show(const std::string& caption) {
    // The text may run over the bevel, as on the classic buttons the layout
    // was drawn for: "データを表示しない" then takes two lines, not three.
    const QString text = QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size()));
    widget_->setText(wrapped(text, widget_->fontMetrics(), widget_->width() - 2));
}

QString QtButton::wrapped(const QString& text, const QFontMetrics& metrics, int width) {
    if (metrics.horizontalAdvance(text) <= width) return text;
    QStringList lines;
    QString line;
    for (const QString& word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QString joined = line.isEmpty() ? word : line + QLatin1Char(' ') + word;
        if (metrics.horizontalAdvance(joined) <= width) {
            line = joined;
            continue;
        }
        if (!line.isEmpty()) lines << line;
        line.clear();
        for (const QChar c : word) {
            if (!line.isEmpty() && metrics.horizontalAdvance(line + c) > width) {
                lines << line;
                line.clear();
            }
            line += c;
        }
    }
    if (!line.isEmpty()) lines << line;
    return lines.join(QLatin1Char('\n'));
}

void QtButton::setVisible(bool visible) { widget_->setVisible(visible); }

bool QtButton::visible() const { return !widget_->isHidden(); }

void QtButton::press(int button, const MouseEvent& event) {
    held_ |= button;
    last_ = event;
    delivery_.run([&] {
        if (down_) down_(event);
    });
}

void QtButton::release(int button, const MouseEvent& event) {
    held_ &= ~button;
    last_ = event;
    delivery_.run([&] {
        if (up_) up_(event);
    });
}

void QtButton::releaseLostPress() {
    if (held_ == 0) return;
    widget_->setDown(false);
    for (int button = 1; held_ != 0 && button > 0; button <<= 1) {
        if (held_ & button) {
            MouseEvent event = last_;
            event.button = button;
            release(button, event);
        }
    }
}

bool QtButton::eventFilter(QObject* watched, QEvent* event) {
    if (watched != widget_) return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseButtonRelease: {
        if (!pressAndHold_) return false;
        auto* mouse = static_cast<QMouseEvent*>(event);
        const int button = platformButton(mouse->button());
        if (button == 0) return false;
        MouseEvent args;
        args.button = button;
        args.shift = shiftState(mouse->modifiers());
        args.x = static_cast<float>(mouse->position().x() * kTwipsPerPixel);
        args.y = static_cast<float>(mouse->position().y() * kTwipsPerPixel);
        if (event->type() == QEvent::MouseButtonRelease) {
            // A release whose press was already ended for it stays silent.
            if (held_ & button) release(button, args);
            return button != LeftButton;
        }
        press(button, args);
        // The handler may have lost the press already (it opened a dialog):
        // then the button must not be left looking pressed.
        if (!(held_ & button)) return true;
        return button != LeftButton;
    }
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
        auto* key = static_cast<QKeyEvent*>(event);
        if (!isActivationKey(key->key())) return false;
        // Keyboard activation means nothing to a press-and-hold button.
        if (pressAndHold_) return true;
        // Enter clicks a focused button as Space does, dialog or not.
        if (key->key() != Qt::Key_Space) {
            if (event->type() == QEvent::KeyPress && !key->isAutoRepeat()) widget_->click();
            return true;
        }
        return false;
    }
    case QEvent::Hide:
        releaseLostPress();
        return false;
    default:
        return false;
    }
}

// ---- frames -------------------------------------------------------------

void QtFrame::setVisible(bool visible) { widget_->setVisible(visible); }

bool QtFrame::visible() const { return !widget_->isHidden(); }

// ---- radio buttons ------------------------------------------------------

QtRadio::QtRadio(QRadioButton* widget, const Delivery& delivery) : widget_(widget), delivery_(delivery) {
    // A click on the button already selected runs its handler again, so
    // that choosing the port in use retries it; a click that selects it
    // runs the handler once, on the change.
    connect(widget_, &QRadioButton::pressed, this, [this] { ranForClick_ = false; });
    connect(widget_, &QRadioButton::toggled, this, [this](bool checked) {
        if (!checked) return;
        ranForClick_ = true;
        delivery_.run(click_);
    });
    connect(widget_, &QRadioButton::clicked, this, [this] {
        const bool again = !ranForClick_ && widget_->isChecked();
        ranForClick_ = false;
        if (again) delivery_.run(click_);
    });
}

void QtRadio::setValue(bool selected) {
    if (selected == widget_->isChecked()) return;
    if (selected) {
        {
            QSignalBlocker quiet(widget_);
            widget_->setChecked(true);
        }
        // Selected from code, the handler still runs as Qt's events do: one
        // place catches and reports what it lets through.
        delivery_.run(click_);
    } else {
        // A group's selected button cannot be cleared while it is exclusive.
        QButtonGroup* group = widget_->group();
        if (group) group->setExclusive(false);
        widget_->setChecked(false);
        if (group) group->setExclusive(true);
    }
}

bool QtRadio::value() const { return widget_->isChecked(); }

// ---- timers -------------------------------------------------------------

QtTimer::QtTimer(const std::string& name, int interval, bool enabled, const Delivery& delivery)
    : interval_(interval), enabled_(enabled), delivery_(delivery) {
    timer_.setObjectName(QString::fromStdString(name));
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] { delivery_.run(tick_); });
    apply(true);
}

void QtTimer::setInterval(int ms) {
    interval_ = ms;
    apply(true);
}

void QtTimer::setEnabled(bool enabled) {
    // Enabling a running timer keeps its schedule: the repeat re-enables
    // Timer1 on every tick, and restarting it there would add the handler's
    // own time to every period.
    const bool restart = enabled && !enabled_;
    enabled_ = enabled;
    apply(restart);
}

void QtTimer::apply(bool restart) {
    // An interval of 0 means no ticks, not ticks as fast as the loop spins.
    if (enabled_ && interval_ > 0) {
        if (restart || !timer_.isActive()) timer_.start(interval_);
    } else {
        timer_.stop();
    }
}

}  // namespace qelo::platform::qt
