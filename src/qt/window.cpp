#include "qt/window.h"

#include <QApplication>
#include <QButtonGroup>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLinearGradient>
#include <QMessageBox>
#include <QPainter>
#include <QPlatformSurfaceEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QWindow>

#include <algorithm>
#include <stdexcept>
#include <utility>
#include <vector>

#include "panel/layout.h"
#include "qt/setup.h"

namespace qelo::platform::qt {

namespace layout = panel::layout;
using layout::kTwipsPerPixel;

namespace {

constexpr Qt::WindowStates kLargeStates = Qt::WindowMaximized | Qt::WindowFullScreen;

constexpr Qt::WindowFlags kFlags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint;

// Until the platform reports its frame: a title bar of 22 pixels and
// borders of 3, as the layout was designed with.
constexpr QMargins kAssumedFrame{3, 22, 3, 3};
// The heights the panel sets were chosen for the design's frame: 330 twips
// above the client area and 45 below. The client area is what that frame
// leaves, whatever the window manager really draws, so that the same part
// of the panel is in view on every desktop (a 37-pixel title bar taken out
// of 5200 twips would cut END and the port panel off).
constexpr int kDesignFrameHeight = 25;

int px(int twips) { return qRound(twips / double(kTwipsPerPixel)); }

// Edges are rounded, not sizes, so that neighbours stay neighbours.
QRect pixelRect(int left, int top, int width, int height) {
    const int l = px(left), t = px(top);
    return QRect(l, t, px(left + width) - l, px(top + height) - t);
}

QColor colour(layout::Colour c) { return QColor::fromRgb(c & 0xFFFFFFu); }

void fill(QWidget* widget, layout::Colour back, QPalette::ColorRole role) {
    if (layout::isSystemColour(back)) return;
    QPalette palette = widget->palette();
    palette.setColor(role, colour(back));
    widget->setPalette(palette);
    if (role == QPalette::Window) widget->setAutoFillBackground(true);
}

Qt::Alignment alignment(layout::Align align) {
    switch (align) {
    case layout::Align::Centre: return Qt::AlignHCenter | Qt::AlignTop;
    case layout::Align::Right: return Qt::AlignRight | Qt::AlignTop;
    case layout::Align::Left: break;
    }
    return Qt::AlignLeft | Qt::AlignTop;
}

QFont fontOf(const char* key) {
    const layout::Font* font = key ? layout::findFont(key) : nullptr;
    if (!font) throw std::out_of_range(std::string("no font ") + (key ? key : "(none)"));
    return makeFont(*font);
}

// Our logo: the maker's name on a blue plate, exactly the size of the image.
QPixmap logo(int width, int height, qreal ratio) {
    QPixmap pixmap(QSize(width, height) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    QPainter painter(&pixmap);
    const QRect area(0, 0, width, height);
    QLinearGradient plate(0, 0, 0, height);
    plate.setColorAt(0, QColor(0x20, 0x40, 0xA0));
    plate.setColorAt(1, QColor(0x08, 0x18, 0x60));
    painter.fillRect(area, plate);
    painter.setPen(QColor(0xFF, 0xFF, 0xFF));
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(height * 2 / 3);
    font.setBold(true);
    font.setItalic(true);
    painter.setFont(font);
    painter.drawText(area, Qt::AlignCenter, QStringLiteral("QELO"));
    painter.setPen(QColor(0xFF, 0xC0, 0x40));
    painter.drawLine(4, height - 4, width - 5, height - 4);
    return pixmap;
}

template <typename T>
T& byName(const std::map<std::string, std::unique_ptr<T>>& table, const std::string& name, const char* what) {
    const auto it = table.find(name);
    if (it == table.end()) throw std::out_of_range(std::string("no ") + what + " named " + name);
    return *it->second;
}

}  // namespace

QtWindow::QtWindow(QWidget* parent) : QWidget(parent, kFlags) {
    const layout::Form& form = layout::form();
    setObjectName(QString::fromUtf8(form.name));
    setWindowTitle(QString::fromUtf8(form.caption));
    fill(this, form.back, QPalette::Window);
    build();
    applyHeight();
    qApp->installEventFilter(this);
}

QtWindow::~QtWindow() = default;

struct QtWindow::Building {
    std::map<std::string, QWidget*> containers;
    // One group per container. Left to themselves, radio buttons would count
    // those of nested frames in their group: a click on the selected COM1
    // would then clear it, the speed being selected below it.
    std::map<std::string, QButtonGroup*> groups;
    std::vector<std::pair<int, QWidget*>> tabOrder;
    std::vector<QWidget*> beneath;
};

void QtWindow::build() {
    Building b{{{layout::form().name, this}}, {}, {}, {}};
    for (const layout::Control& c : layout::controls()) {
        QWidget* parent = b.containers.at(c.container);
        QWidget* widget = nullptr;
        switch (c.kind) {
        case layout::Kind::Frame: widget = buildFrame(c, parent, b); break;
        case layout::Kind::Label: widget = buildLabel(c, parent, b); break;
        case layout::Kind::Button: widget = buildButton(c, parent, b); break;
        case layout::Kind::Radio: widget = buildRadio(c, parent, b); break;
        }
        widget->setObjectName(QString::fromUtf8(c.name));
        widget->setGeometry(pixelRect(c.left, c.top, c.width, c.height));
        if (!c.visible) widget->hide();
    }
    buildImage(b);

    // Labels and the image lie on the window's surface, beneath every
    // button and frame.
    for (auto it = b.beneath.rbegin(); it != b.beneath.rend(); ++it) (*it)->lower();

    std::stable_sort(b.tabOrder.begin(), b.tabOrder.end(),
                     [](const auto& x, const auto& y) { return x.first < y.first; });
    for (std::size_t i = 1; i < b.tabOrder.size(); ++i)
        QWidget::setTabOrder(b.tabOrder[i - 1].second, b.tabOrder[i].second);

    for (const layout::TimerRow& t : layout::timers())
        timers_.emplace(t.name, std::make_unique<QtTimer>(t.name, t.interval, t.enabled, delivery_));
}

QWidget* QtWindow::buildFrame(const layout::Control& c, QWidget* parent, Building& b) {
    auto* frame = new QFrame(parent);
    frame->setFrameStyle(QFrame::Box | QFrame::Sunken);
    frame->setLineWidth(1);
    frame->setMidLineWidth(0);
    fill(frame, c.back, QPalette::Window);
    frames_.emplace(c.name, std::make_unique<QtFrame>(frame));
    b.containers.emplace(c.name, frame);
    return frame;
}

QWidget* QtWindow::buildLabel(const layout::Control& c, QWidget* parent, Building& b) {
    auto* label = new QLabel(parent);
    fill(label, c.back, QPalette::Window);
    if (!layout::isSystemColour(c.text)) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, colour(c.text));
        label->setPalette(palette);
    }
    label->setFont(fontOf(c.font));
    label->setAlignment(alignment(c.align));
    // Titles wrap onto the lines their height gives them; the bordered
    // display lines show one line, cut where it ends.
    label->setWordWrap(!c.border);
    if (c.border) {
        label->setFrameStyle(QFrame::Box | QFrame::Plain);
        label->setLineWidth(1);
    }
    labels_.emplace(c.name, std::make_unique<QtLabel>(label, c.caption));
    if (parent == this) b.beneath.push_back(label);
    return label;
}

QWidget* QtWindow::buildButton(const layout::Control& c, QWidget* parent, Building& b) {
    auto* button = new QPushButton(parent);
    button->setGeometry(pixelRect(c.left, c.top, c.width, c.height));
    fill(button, c.back, QPalette::Button);
    button->setFont(fontOf(c.font));
    button->setAutoDefault(false);
    button->setFocusPolicy(Qt::StrongFocus);
    const bool hold = c.events == layout::Events::PressRelease;
    buttons_.emplace(c.name, std::make_unique<QtButton>(button, c.caption, hold, delivery_));
    b.tabOrder.emplace_back(c.tabIndex, button);
    return button;
}

QWidget* QtWindow::buildRadio(const layout::Control& c, QWidget* parent, Building& b) {
    auto* radio = new QRadioButton(parent);
    radio->setBackgroundRole(QPalette::Window);  // buttons fill with Button otherwise
    fill(radio, c.back, QPalette::Window);
    radio->setFont(fontOf(c.font));
    radio->setText(QString::fromUtf8(c.caption));
    radio->setChecked(c.selected);
    radio->setFocusPolicy(Qt::StrongFocus);
    QButtonGroup*& group = b.groups[c.container];
    if (!group) group = new QButtonGroup(this);
    group->addButton(radio);
    radios_.emplace(c.name, std::make_unique<QtRadio>(radio, delivery_));
    b.tabOrder.emplace_back(c.tabIndex, radio);
    return radio;
}

void QtWindow::buildImage(Building& b) {
    const layout::Image& image = layout::image();
    auto* picture = new QLabel(this);
    picture->setObjectName(QString::fromUtf8(image.name));
    picture->setGeometry(pixelRect(image.left, image.top, image.width, image.height));
    picture->setPixmap(logo(image.pixelWidth, image.pixelHeight, devicePixelRatioF()));
    picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    b.beneath.push_back(picture);
}

platform::Label& QtWindow::label(const std::string& name) { return byName(labels_, name, "label"); }
platform::Button& QtWindow::button(const std::string& name) { return byName(buttons_, name, "button"); }
platform::Frame& QtWindow::frame(const std::string& name) { return byName(frames_, name, "frame"); }
platform::RadioButton& QtWindow::radio(const std::string& name) { return byName(radios_, name, "radio button"); }
platform::Timer& QtWindow::timer(const std::string& name) { return byName(timers_, name, "timer"); }
QtTimer& QtWindow::qtTimer(const std::string& name) { return byName(timers_, name, "timer"); }

// ---- geometry -----------------------------------------------------------

double QtWindow::screenWidth() const {
    const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    return s ? s->geometry().width() * double(kTwipsPerPixel) : 0;
}

double QtWindow::screenHeight() const {
    const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    return s ? s->geometry().height() * double(kTwipsPerPixel) : 0;
}

QMargins QtWindow::frameMargins() const {
    if (const QWindow* handle = windowHandle(); handle && testAttribute(Qt::WA_WState_Created))
        return handle->frameMargins();
    return kAssumedFrame;
}

double QtWindow::widthTwips() const {
    const QMargins m = frameMargins();
    return (QWidget::width() + m.left() + m.right()) * double(kTwipsPerPixel);
}

double QtWindow::heightTwips() const {
    if (height_) return *height_;
    return (QWidget::height() + kDesignFrameHeight) * double(kTwipsPerPixel);
}

void QtWindow::setLeft(double twips) { move(qRound(twips / kTwipsPerPixel), pos().y()); }

void QtWindow::setTop(double twips) { move(pos().x(), qRound(twips / kTwipsPerPixel)); }

void QtWindow::setHeight(double twips) {
    height_ = twips;
    applyHeight();
}

void QtWindow::applyHeight() {
    const layout::Form& form = layout::form();
    int client = px(form.clientHeight);
    if (height_) client = std::max(1, qRound(*height_ / kTwipsPerPixel) - kDesignFrameHeight);
    setFixedSize(px(form.clientWidth) + dockedWidth_, client);
    if (docked_) docked_->setGeometry(px(form.clientWidth), 0, dockedWidth_, client);
}

void QtWindow::dock(QWidget* side, int width) {
    side->setParent(this);
    docked_ = side;
    dockedWidth_ = width;
    applyHeight();
    side->show();
}

// ---- events -------------------------------------------------------------

int QtWindow::keyCode(int key) {
    if (key >= Qt::Key_A && key <= Qt::Key_Z) return key;  // 65..90
    if (key >= Qt::Key_0 && key <= Qt::Key_9) return key;  // 48..57
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return 112 + (key - Qt::Key_F1);
    switch (key) {
    case Qt::Key_Backspace: return 8;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return 9;
    case Qt::Key_Return:
    case Qt::Key_Enter: return 13;
    case Qt::Key_Shift: return 16;
    case Qt::Key_Control: return 17;
    case Qt::Key_Alt: return 18;
    case Qt::Key_Pause: return 19;
    case Qt::Key_CapsLock: return 20;
    case Qt::Key_Escape: return 27;
    case Qt::Key_Space: return 32;
    case Qt::Key_PageUp: return 33;
    case Qt::Key_PageDown: return 34;
    case Qt::Key_End: return 35;
    case Qt::Key_Home: return 36;
    case Qt::Key_Left: return 37;
    case Qt::Key_Up: return 38;
    case Qt::Key_Right: return 39;
    case Qt::Key_Down: return 40;
    case Qt::Key_Insert: return 45;
    case Qt::Key_Delete: return 46;
    default: return key & 0xFFFF;
    }
}

void QtWindow::onKeyDown(std::function<void(int, int)> handler) { keyDown_ = std::move(handler); }

bool QtWindow::isPropagatedKey(QWidget* receiver, QEvent* event) {
    const bool propagated =
        event == lastKey_ && lastKeyReceiver_ && receiver == lastKeyReceiver_->parentWidget();
    lastKey_ = event;
    lastKeyReceiver_ = receiver;
    return propagated;
}

bool QtWindow::isKeyRepeat(const QKeyEvent& key) {
    const int k = key.key();
    if (k != Qt::Key_Space && k != Qt::Key_Return && k != Qt::Key_Enter) return false;
    if (key.isAutoRepeat()) return true;
    if (key.type() == QEvent::KeyRelease) {
        keysDown_.erase(k);
        releasedKey_ = k;
        releasedAt_ = key.timestamp();
        return false;
    }
    // The server repeats a held key as presses without releases, or as a
    // release and a press of the same moment, and Qt does not always mark
    // either as a repeat.
    const bool repeat = keysDown_.count(k) != 0 ||
                        (k == releasedKey_ && key.timestamp() != 0 && key.timestamp() == releasedAt_);
    keysDown_.insert(k);
    return repeat;
}

bool QtWindow::eventFilter(QObject* watched, QEvent* event) {
    const bool isKey = event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease;
    if (!isKey || !watched->isWidgetType()) return false;
    auto* receiver = static_cast<QWidget*>(watched);
    if (receiver->window() != this || isPropagatedKey(receiver, event)) return false;
    if (docked_ && (receiver == docked_ || docked_->isAncestorOf(receiver))) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    // One press of Space or Enter is one click, however long it is held:
    // repeats reach no control.
    if (isKeyRepeat(*key)) return true;
    // Key preview: every key press meant for this window, once, before the
    // control it is meant for; it goes on to that control untouched.
    if (event->type() == QEvent::KeyPress) {
        if (keyDown_) {
            const int shift = shiftState(key->modifiers());
            const int code = keyCode(key->key());
            delivery_.run([&] { keyDown_(code, shift); });
        }
    }
    return false;
}

void QtWindow::releaseLostPresses() {
    for (auto& [name, button] : buttons_) button->releaseLostPress();
}

bool QtWindow::event(QEvent* event) {
    switch (event->type()) {
    // Our own modal box and hiding swallow the release. Another program's
    // window taking the focus does not: the release still comes here, and
    // only the release ends a hold.
    case QEvent::WindowBlocked:
    case QEvent::Hide:
        releaseLostPresses();
        break;
    case QEvent::WindowDeactivate:
        // Keys let go of elsewhere are released here as far as we know.
        keysDown_.clear();
        break;
    case QEvent::WindowStateChange:
        // Fixed size: no maximised or full-screen state.
        if (windowState() & kLargeStates) setWindowState(windowState() & ~kLargeStates);
        break;
    case QEvent::PlatformSurface:
        if (static_cast<QPlatformSurfaceEvent*>(event)->surfaceEventType() ==
            QPlatformSurfaceEvent::SurfaceCreated)
            yieldSizeWhileMaximised();
        break;
    case QEvent::Resize:
        // Back at its own size after a maximised moment: fixed again.
        if (maximumSize() != minimumSize() && size() == minimumSize()) setMaximumSize(minimumSize());
        break;
    default:
        break;
    }
    return QWidget::event(event);
}

// Qt's own title bar on Wayland draws a maximise button whatever the hints
// say, and a compositor cuts off a client whose surface keeps another size
// than the maximised one it has acknowledged. So the size gives way from the
// moment the window asks to be maximised until it is back at its own.
void QtWindow::yieldSizeWhileMaximised() {
    connect(windowHandle(), &QWindow::windowStateChanged, this, &QtWindow::yieldSize, Qt::UniqueConnection);
}

void QtWindow::yieldSize(Qt::WindowState state) {
    if (state & kLargeStates) setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
}

void QtWindow::paintEvent(QPaintEvent*) {
    // Drawn at a size not its own, the window is still maximised: a
    // compositor may drop a request to be normal that comes before the
    // maximised frame, so it is asked again once that frame is out.
    if (maximumSize() != minimumSize() && size() != minimumSize())
        QMetaObject::invokeMethod(this, [this] {
            if (windowHandle()) windowHandle()->setWindowStates(windowState() & ~kLargeStates);
        }, Qt::QueuedConnection);
    QPainter painter(this);
    QPen pen(colour(layout::kLineColour));
    pen.setWidth(layout::kLineWidthPixels);
    pen.setCapStyle(Qt::SquareCap);
    painter.setPen(pen);
    for (const layout::Line& line : layout::lines()) {
        painter.drawLine(QPointF(line.x1 / double(kTwipsPerPixel), line.y1 / double(kTwipsPerPixel)),
                         QPointF(line.x2 / double(kTwipsPerPixel), line.y2 / double(kTwipsPerPixel)));
    }
}

// ---- the rest of the window's services ----------------------------------

void QtWindow::setFailureReporter(Delivery::Reporter reporter) { delivery_.setReporter(std::move(reporter)); }

void QtWindow::messageBox(const std::string& text, const std::string& title) {
    if (messageBoxHook) {
        messageBoxHook(text, title);
        return;
    }
    QMessageBox box(QMessageBox::Warning, QString::fromUtf8(title.data(), qsizetype(title.size())),
                    QString::fromUtf8(text.data(), qsizetype(text.size())), QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void QtWindow::unload() { close(); }

void QtWindow::end() { QCoreApplication::exit(0); }

}  // namespace qelo::platform::qt
