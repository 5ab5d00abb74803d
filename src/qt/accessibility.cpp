#include "qt/accessibility.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QEvent>
#include <QFileInfo>
#include <QHash>
#include <QLabel>
#include <QWidget>

#include <optional>

#include "panel/accessibility.h"

namespace qelo::platform::qt {

namespace {

namespace a11y = panel::accessibility;

QString utf8(const std::string& text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

// Controls whose name depends on what they show. Neither QLabel nor
// QPushButton tells anyone when its text changes, but both announce a name
// change to assistive technology, which then asks again: so these names are
// worked out when asked, never stored.
// Qt asks a factory that is a plain function, with no context of ours: so
// what it must know lives here, one table per process.
QHash<const QObject*, a11y::Entry>& followed() {
    static QHash<const QObject*, a11y::Entry> table;
    return table;
}

QString currentName(const QWidget* widget, const QString& shown) {
    const auto entry = followed().constFind(widget);
    return entry != followed().cend() ? utf8(a11y::nameFor(*entry, shown.toStdString())) : QString();
}

// A display line: a label whose name is its title and what it shows.
class AccessibleDisplayLine final : public QAccessibleWidget {
public:
    explicit AccessibleDisplayLine(QLabel* label) : QAccessibleWidget(label, QAccessible::StaticText) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name) return currentName(widget(), static_cast<const QLabel*>(widget())->text());
        return QAccessibleWidget::text(t);
    }
};

// A push button whose name follows its caption, pressable like any other.
class AccessibleCaptionButton final : public QAccessibleWidget {
public:
    explicit AccessibleCaptionButton(QAbstractButton* button) : QAccessibleWidget(button, QAccessible::Button) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name) return currentName(widget(), button()->text());
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.pressed = button()->isDown();
        return s;
    }

    QStringList actionNames() const override {
        QStringList names = QAccessibleWidget::actionNames();
        if (widget()->isEnabled()) names.prepend(pressAction());
        return names;
    }

    void doAction(const QString& action) override {
        if (!widget()->isEnabled()) return;
        if (action == pressAction()) button()->animateClick();
        else QAccessibleWidget::doAction(action);
    }

private:
    QAbstractButton* button() const { return static_cast<QAbstractButton*>(widget()); }
};

// Top-level windows made of a plain QWidget are announced as mere fillers;
// a screen reader introduces a window by its title only when it is one.
QHash<const QObject*, bool>& windows() {
    static QHash<const QObject*, bool> table;
    return table;
}

QAccessibleInterface* factory(const QString&, QObject* object) {
    if (windows().contains(object)) return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
    if (!followed().contains(object)) return nullptr;
    if (auto* label = qobject_cast<QLabel*>(object)) return new AccessibleDisplayLine(label);
    if (auto* button = qobject_cast<QAbstractButton*>(object)) return new AccessibleCaptionButton(button);
    return nullptr;
}

// An interface Qt made before (it makes one for any change it announces)
// would go on answering as a plain widget: let the factory make it again.
void forgetInterface(QWidget* widget) {
    if (QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(widget))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(iface));
}

void follow(QWidget* widget, const a11y::Entry& entry) {
    if (followed().contains(widget)) return;
    followed().insert(widget, entry);
    QObject::connect(widget, &QObject::destroyed, [widget] { followed().remove(widget); });
    forgetInterface(widget);
}

void makeWindow(QWidget* window) {
    if (!window->isWindow() || windows().contains(window)) return;
    windows().insert(window, true);
    QObject::connect(window, &QObject::destroyed, [window] { windows().remove(window); });
    forgetInterface(window);
}

}  // namespace

void applyAccessibility(QWidget& window) {
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    (void)installed;

    makeWindow(&window);
    for (QWidget* widget : window.findChildren<QWidget*>()) {
        const std::optional<a11y::Entry> entry = a11y::find(widget->objectName().toStdString());
        if (!entry) continue;
        if (entry->naming == a11y::Naming::Fixed) widget->setAccessibleName(utf8(entry->name));
        else follow(widget, *entry);
        if (!entry->description.empty()) widget->setAccessibleDescription(utf8(entry->description));
        if (!entry->tooltip.empty()) widget->setToolTip(utf8(entry->tooltip));
    }
}

namespace {

class PortDevices final : public QObject {
public:
    PortDevices(QWidget& window, std::function<std::string(int)> deviceFor)
        : QObject(&window), window_(window), deviceFor_(std::move(deviceFor)) {}

    void refresh() {
        for (int number : {1, 2}) {
            auto* radio = window_.findChild<QWidget*>(QStringLiteral("Option%1").arg(number));
            if (!radio) continue;
            const QString device = utf8(deviceFor_(number));
            QString text = QStringLiteral("COM%1: %2").arg(number).arg(device);
            if (device.startsWith(QLatin1Char('/')) && !QFileInfo::exists(device)) text += QStringLiteral(" (not present)");
            radio->setToolTip(text);
            radio->setAccessibleDescription(text);
        }
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Show) refresh();
        return false;
    }

private:
    QWidget& window_;
    std::function<std::string(int)> deviceFor_;
};

}  // namespace

void describePortDevices(QWidget& window, std::function<std::string(int)> deviceFor) {
    auto* devices = new PortDevices(window, std::move(deviceFor));
    if (auto* panel = window.findChild<QWidget*>(QStringLiteral("Frame8"))) panel->installEventFilter(devices);
    devices->refresh();
}

}  // namespace qelo::platform::qt
