#pragma once
// Form1: the one window of the panel. The form-level variables live here and
// the member functions are the window's event handlers, named as the window
// names them. Definitions live with their subsystem:
//   panel/traffic.cpp        send path, receive path, reply time-out, clearing
//   panel/port_lifecycle.cpp start-up, port and speed switches, END
//   panel/one_shot.cpp       the one-shot command buttons
//   panel/repeat.cpp         the press-and-hold buttons and their repeat
//   panel/window_modes.cpp   Ctrl+H, the data-area toggle, the port panel
//   panel/form1.cpp          event binding and dispatch (the first failure tier)

#include <cstdint>
#include <functional>
#include <string>

#include "link/protocol.h"
#include "seam/platform.h"

namespace qelo::panel {

namespace layout {
struct Control;
}

// Title of every message box the panel shows.
inline constexpr const char* kAppTitle = "VID7IRID";

class Form1 {
public:
    // Binds every event of the window, its timers and the port to the
    // handlers below. Nothing runs until Form_Load.
    Form1(platform::Window& window, platform::SerialPort& port);
    Form1(const Form1&) = delete;
    Form1& operator=(const Form1&) = delete;

    // ---- form-level state -------------------------------------------------
    // ArrowMode, the pace of the next arrow hold: as Timer2 and Timer4 are,
    // the menu's (after MENU and the like), or the digital zoom's.
    static constexpr std::uint8_t kArrowsAsThey = 0;
    static constexpr std::uint8_t kArrowsMenu = 1;
    static constexpr std::uint8_t kArrowsFast = 3;
    // Read-only outside: only the handlers change the state.
    const std::string& sendData() const { return SendData; }
    const link::RenderedText& recvData() const { return RecvData; }
    std::uint8_t waitReply() const { return WaitReply; }
    std::uint8_t repeatCode() const { return RepeatCode; }
    std::uint8_t arrowMode() const { return ArrowMode; }
    const platform::LineSettings& portSettings() const { return PortSettings; }

    // RecvData keeps at most this many characters until it is next emptied.
    static constexpr std::size_t kRecvLimit = 32767;

    // ---- projector link ---------------------------------------------------
    // Hyouji's one direction now: received text has its own entry point.
    static constexpr std::uint8_t kSend = 1;  // writes data to the port, then shows it on TXD
    // Sends data, shows it on TXD and opens the reply window.
    void Hyouji(const std::string& data, std::uint8_t direction);
    void MSComm1_OnComm();
    void Timer2_Timer();
    void Timer4_Timer();

    void Form_Load();
    void Option1_Click();
    void Option2_Click();
    void Option3_Click();
    void Option4_Click();
    void Command16_Click();

    // ---- buttons ----------------------------------------------------------
    // The one-shot buttons share one click handler, the press-and-hold
    // buttons one press and one release handler; each is bound with the
    // button's layout row (Command17, Command1, ...), which says what it sends.
    void Command_Click(const layout::Control& button);
    void Command_MouseDown(const layout::Control& button, const platform::MouseEvent& event);
    void Command_MouseUp(const layout::Control& button, const platform::MouseEvent& event);
    void Timer1_Timer();

    // ---- window modes -----------------------------------------------------
    void Form_KeyDown(int keyCode, int shift);
    void Command33_Click();
    void Command34_Click();
    void Timer3_Timer();

    // Runs a handler as the event loop would: a serial failure that the
    // handler did not catch is shown to the operator, never thrown on.
    void dispatch(const std::function<void()>& handler);

private:
    std::string SendData;
    link::RenderedText RecvData;
    std::uint8_t WaitReply = 0;
    std::uint8_t RepeatCode = 0;
    std::uint8_t ArrowMode = kArrowsAsThey;
    platform::LineSettings PortSettings;

    void portSwitch(int number, int fallback);
    void speedSwitch(const platform::LineSettings& settings);
    void bindEvents();
    void warn(const std::string& text);
    // Every caption of the RXD line other than the received text goes
    // through here, so that the line is known not to show it any more.
    void setRxdCaption(const std::string& text);
    // The received text's own way to the RXD line and the status.
    void showReceived(const link::RenderedText& kept);
    void showStatus(const link::RenderedText& kept);
    // Ends a hold whose send failed, as its release would.
    void dispatchHold(const std::function<void()>& handler);

    platform::Window& window_;
    platform::SerialPort& port_;
    platform::Label& label11_;
    platform::Label& label12_;
    platform::Label& label25_;
    platform::Timer& timer1_;
    platform::Timer& timer2_;
    platform::Timer& timer3_;
    platform::Timer& timer4_;
    platform::Frame& frame8_;
    platform::Button& command34_;
    // How much of RecvData's rendering the RXD line shows, when it shows
    // nothing else: a receive event then hands it only the new tokens.
    struct RxdShows {
        std::uint64_t generation = 0;
        std::size_t size = 0;
        bool valid = false;
    } rxd_;
};

}  // namespace qelo::panel
