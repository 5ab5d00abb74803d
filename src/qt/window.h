#pragma once
// The panel's one window, built from the layout tables. Every control's
// objectName is its name in the layout.

#include <QKeyEvent>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "seam/platform.h"
#include "qt/controls.h"

namespace qelo::panel::layout {
struct Control;
}

namespace qelo::platform::qt {

class QtWindow final : public QWidget, public platform::Window {
    Q_OBJECT
public:
    explicit QtWindow(QWidget* parent = nullptr);
    ~QtWindow() override;

    platform::Label& label(const std::string& name) override;
    platform::Button& button(const std::string& name) override;
    platform::Frame& frame(const std::string& name) override;
    platform::RadioButton& radio(const std::string& name) override;
    platform::Timer& timer(const std::string& name) override;

    double screenWidth() const override;
    double screenHeight() const override;
    // Outer width and the outer height last set, in twips; QWidget's own
    // width() and height() stay the client area in pixels.
    double widthTwips() const override;
    double heightTwips() const override;
    void setLeft(double twips) override;
    void setTop(double twips) override;
    // Outer height as the design counts it: the client area gets what is
    // left after the design's 25-pixel frame, whatever frame the window
    // manager draws.
    void setHeight(double twips) override;

    void onKeyDown(std::function<void(int key, int shift)> handler) override;
    void messageBox(const std::string& text, const std::string& title) override;
    void unload() override;
    void end() override;

    // A widget to the right of the panel, inside its window, sized with it:
    // for a companion that must never cover the panel on a desktop that
    // places windows itself. The window takes it over; keys typed into it
    // are its own, not the panel's.
    void dock(QWidget* side, int width);

    // Where failures of handlers called from Qt go (the program's reporter).
    void setFailureReporter(Delivery::Reporter reporter);
    // Runs a handler as the window runs those Qt calls: a failure goes to
    // the reporter, never on into Qt.
    void deliver(const std::function<void()>& handler) const { delivery_.run(handler); }
    // Replaces the modal message box, for tests.
    std::function<void(const std::string& text, const std::string& title)> messageBoxHook;

    // The adapters by name, for tests and tools.
    QtTimer& qtTimer(const std::string& name);

    // The platform key code of a Qt key: letters are 65..90 whatever the
    // case, digits 48..57, and the usual control keys their classic codes.
    static int keyCode(int qtKey);

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void build();
    // One for each kind of control: makes the widget in parent, keeps its
    // adapter, and notes what build() finishes once all are made.
    struct Building;
    QWidget* buildFrame(const panel::layout::Control& c, QWidget* parent, Building& b);
    QWidget* buildLabel(const panel::layout::Control& c, QWidget* parent, Building& b);
    QWidget* buildButton(const panel::layout::Control& c, QWidget* parent, Building& b);
    QWidget* buildRadio(const panel::layout::Control& c, QWidget* parent, Building& b);
    void buildImage(Building& b);
    void applyHeight();
    void yieldSizeWhileMaximised();
    void yieldSize(Qt::WindowState state);
    QMargins frameMargins() const;
    void releaseLostPresses();
    bool isPropagatedKey(QWidget* receiver, QEvent* event);
    bool isKeyRepeat(const QKeyEvent& key);

    Delivery delivery_;
    std::map<std::string, std::unique_ptr<QtLabel>> labels_;
    std::map<std::string, std::unique_ptr<QtButton>> buttons_;
    std::map<std::string, std::unique_ptr<QtFrame>> frames_;
    std::map<std::string, std::unique_ptr<QtRadio>> radios_;
    std::map<std::string, std::unique_ptr<QtTimer>> timers_;
    std::function<void(int, int)> keyDown_;
    std::optional<double> height_;
    QPointer<QWidget> docked_;
    int dockedWidth_ = 0;
    // The key press last previewed and the widget it has reached, so that
    // its propagation to the parents is not previewed again.
    const QEvent* lastKey_ = nullptr;
    QPointer<QWidget> lastKeyReceiver_;
    // Activation keys held down, and the last one let go and when.
    std::set<int> keysDown_;
    int releasedKey_ = 0;
    quint64 releasedAt_ = 0;
};

}  // namespace qelo::platform::qt
