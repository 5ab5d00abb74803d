// The buttons that send one command per click.
#include "link/protocol.h"
#include "panel/buttons.h"
#include "panel/form1.h"

namespace qelo::panel {

namespace {
constexpr int kMenuPace = 200;
}  // namespace

std::vector<const layout::Control*> oneShotButtons() {
    std::vector<const layout::Control*> out;
    for (const layout::Control& c : layout::controls())
        if (c.code && c.events == layout::Events::Click) out.push_back(&c);
    return out;
}

void Form1::Command_Click(const layout::Control& button) {
    SendData = link::frame(button.code);
    Hyouji(SendData, kSend);
    if (button.pace == layout::Pace::MenuPace) {
        // Sets the pace of the next arrow hold; starts nothing by itself.
        timer1_.setInterval(kMenuPace);
        ArrowMode = kArrowsMenu;
    }
}

}  // namespace qelo::panel
