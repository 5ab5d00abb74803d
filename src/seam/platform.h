#pragma once
// The seam between the panel's logic and whatever draws the window and
// drives the serial line. Text is std::string, one byte per character,
// exactly as it travels on the line. Geometry is in twips.

#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace qelo::platform {

// A failure of the line to the projector, serial or network; what() is the
// line's own description, which the operator gets to read verbatim.
//
// Failures travel in two tiers. A handler of the panel's own runs inside
// Form1::dispatch, which shows a LineError it did not catch in a message box
// and goes on (the port switch catches its own, to fall back). Whatever still
// escapes a handler that Qt's event delivery called, and anything else thrown,
// goes to the adapters' Delivery and from there to the program's reporter,
// never through Qt's frames; so does a handler that runs because the logic
// selected a radio button.
class LineError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Label {
public:
    virtual ~Label() = default;
    virtual void setCaption(const std::string& text) = 0;
    // Adds to the end of the caption: a line that only grows need not be
    // handed over whole each time it grows.
    virtual void appendCaption(std::string_view text) { setCaption(caption().append(text)); }
    // Always the caption last set, whatever the widget chose to draw.
    virtual std::string caption() const = 0;
};

// Mouse buttons as the press/release events report them; further buttons
// (back, forward, ...) come as further bits: 8, 16, ...
enum MouseButton { LeftButton = 1, RightButton = 2, MiddleButton = 4 };
// Shift-state bits of key and mouse events.
enum ShiftMask { ShiftBit = 1, CtrlBit = 2, AltBit = 4 };

struct MouseEvent {
    int button = LeftButton;
    int shift = 0;
    float x = 0;
    float y = 0;
};

class Button {
public:
    virtual ~Button() = default;
    virtual void setCaption(const std::string& text) = 0;
    virtual std::string caption() const = 0;
    virtual void setVisible(bool visible) = 0;
    virtual bool visible() const = 0;
    // Click comes from the mouse and from the keyboard (Space, Enter).
    virtual void onClick(std::function<void()> handler) = 0;
    // The release always goes to the button that got the press.
    virtual void onMouseDown(std::function<void(const MouseEvent&)> handler) = 0;
    virtual void onMouseUp(std::function<void(const MouseEvent&)> handler) = 0;
};

class Frame {
public:
    virtual ~Frame() = default;
    virtual void setVisible(bool visible) = 0;
    virtual bool visible() const = 0;
};

class RadioButton {
public:
    virtual ~RadioButton() = default;
    // Selecting a button that is not selected raises its click event at
    // once, inside this call; selecting a selected one raises nothing. The
    // operator's click raises it even on the button already selected.
    virtual void setValue(bool selected) = 0;
    virtual bool value() const = 0;
    virtual void onClick(std::function<void()> handler) = 0;
};

// A timer raises its tick every interval() ms while it is enabled, never
// early, on the thread that runs the window. The fake clock of the logic's
// tests and the Qt timer of the program both keep this contract, and one
// test holds them to it:
// - enabling a stopped timer starts its count; enabling a running one leaves
//   the count alone, so a repeat that re-enables itself on every tick keeps
//   its pace;
// - changing the interval of a running timer restarts its count;
// - an interval of 0 never ticks, however long the timer stays enabled (it
//   does not mean "as fast as possible");
// - after it is disabled, even from inside its own tick, no tick comes.
class Timer {
public:
    virtual ~Timer() = default;
    virtual void setInterval(int ms) = 0;
    virtual int interval() const = 0;
    virtual void setEnabled(bool enabled) = 0;
    virtual bool enabled() const = 0;
    virtual void onTick(std::function<void()> handler) = 0;
};

// The one top-level window and the controls on it, found by name.
// Looking up a name that the layout does not have is a programming error
// and throws std::out_of_range.
class Window {
public:
    virtual ~Window() = default;

    virtual Label& label(const std::string& name) = 0;
    virtual Button& button(const std::string& name) = 0;
    virtual Frame& frame(const std::string& name) = 0;
    virtual RadioButton& radio(const std::string& name) = 0;
    virtual Timer& timer(const std::string& name) = 0;

    // Outer geometry (title bar and borders included), in twips.
    virtual double screenWidth() const = 0;
    virtual double screenHeight() const = 0;
    virtual double widthTwips() const = 0;
    virtual double heightTwips() const = 0;
    virtual void setLeft(double twips) = 0;
    virtual void setTop(double twips) = 0;
    virtual void setHeight(double twips) = 0;

    // Key preview: every key press, before the focused control sees it.
    // Key code is the key (65..90 for letters whatever the case); shift is
    // a ShiftMask combination.
    virtual void onKeyDown(std::function<void(int key, int shift)> handler) = 0;

    // Modal warning: exclamation icon, one OK button, the given title.
    virtual void messageBox(const std::string& text, const std::string& title) = 0;
    virtual void unload() = 0;
    virtual void end() = 0;
};

// The line's settings. Only the speed is ever chosen: the framing is always
// eight data bits, no parity and one stop bit.
struct LineSettings {
    int baud = 19200;
    // As the window writes them: "19200,N,8,1".
    std::string text() const { return std::to_string(baud) + ",N,8,1"; }
    friend bool operator==(const LineSettings&, const LineSettings&) = default;
};

// The serial service. Every operation that can fail throws LineError.
class SerialPort {
public:
    static constexpr int ReceiveEvent = 2;

    virtual ~SerialPort() = default;
    virtual void setCommPort(int number) = 0;
    virtual int commPort() const = 0;
    virtual void setSettings(const LineSettings& settings) = 0;
    virtual LineSettings settings() const = 0;
    virtual void setPortOpen(bool open) = 0;
    virtual bool portOpen() const = 0;
    // Writes the whole text in one go.
    virtual void output(const std::string& text) = 0;
    // Every character waiting, emptying the receive buffer.
    virtual std::string input() = 0;
    // Kind of the event being delivered; ReceiveEvent for received text.
    virtual int commEvent() const = 0;
    // Raised whenever at least one character is waiting.
    virtual void onComm(std::function<void()> handler) = 0;
};

}  // namespace qelo::platform
