// Invariants of the layout tables that a slip in a number would break.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <utility>

#include "panel/layout.h"

namespace qelo::panel::layout {
namespace {

struct Box {
    int left, top, width, height;
};

// The control's rectangle in the window's client area.
Box absolute(const Control& c) {
    Box box{c.left, c.top, c.width, c.height};
    for (const Control* in = findControl(c.container); in; in = findControl(in->container)) {
        box.left += in->left;
        box.top += in->top;
    }
    return box;
}

std::set<std::string> commands(std::initializer_list<std::pair<int, int>> ranges) {
    std::set<std::string> names;
    for (auto [from, to] : ranges)
        for (int n = from; n <= to; ++n)
            if (findControl("Command" + std::to_string(n))) names.insert("Command" + std::to_string(n));
    return names;
}

TEST(Layout, NamesAndTabIndexesAreUnique) {
    std::set<std::string> names{form().name};
    std::set<int> tabs;
    for (const Control& c : controls()) {
        EXPECT_TRUE(names.insert(c.name).second) << "name twice: " << c.name;
        EXPECT_TRUE(tabs.insert(c.tabIndex).second) << "tab index twice: " << c.tabIndex << " " << c.name;
    }
    for (const TimerRow& t : timers()) EXPECT_TRUE(names.insert(t.name).second) << t.name;
    for (const Line& l : lines()) EXPECT_TRUE(names.insert(l.name).second) << l.name;
    EXPECT_TRUE(names.insert(image().name).second);
    EXPECT_EQ(controls().size(), 86u);
}

TEST(Layout, EveryControlLiesInsideItsContainerDeclaredBeforeIt) {
    std::map<std::string, Box> containers{{form().name, {0, 0, form().clientWidth, form().clientHeight}}};
    for (const Control& c : controls()) {
        SCOPED_TRACE(c.name);
        const auto in = containers.find(c.container);
        ASSERT_NE(in, containers.end()) << "container " << c.container << " not yet built";
        const Box& box = in->second;
        EXPECT_GE(c.left, 0);
        EXPECT_GE(c.top, 0);
        EXPECT_GT(c.width, 0);
        EXPECT_GT(c.height, 0);
        EXPECT_LE(c.left + c.width, box.width);
        EXPECT_LE(c.top + c.height, box.height);
        if (c.kind == Kind::Frame) containers[c.name] = {c.left, c.top, c.width, c.height};
    }
    const Image& logo = image();
    EXPECT_LE(logo.left + logo.width, form().clientWidth);
    EXPECT_EQ(logo.width, logo.pixelWidth * kTwipsPerPixel);
    EXPECT_EQ(logo.height, logo.pixelHeight * kTwipsPerPixel);
}

TEST(Layout, DataAreaStartsBelowEverythingTheCompactWindowShows) {
    int dataArea = 0;
    for (const Control& c : controls()) {
        const Box box = absolute(c);
        if (box.top >= kDataAreaTop) {
            ++dataArea;
        } else {
            EXPECT_LT(box.top + box.height, kCompactBottom) << c.name << " reaches into the data area";
        }
    }
    // Frame9, Frame10, Frame15 and what they hold, and five buttons.
    EXPECT_EQ(dataArea, 18);
    for (const char* name : {"Frame9", "Frame10", "Frame15", "Command34", "Command44", "Command52"}) {
        ASSERT_NE(findControl(name), nullptr) << name;
        EXPECT_GE(absolute(*findControl(name)).top, kDataAreaTop) << name;
    }
    EXPECT_LE(kDataAreaTop, form().clientHeight);
}

TEST(Layout, EventsAreThoseOfTheEventsTable) {
    const auto clicks = commands({{3, 3}, {13, 14}, {16, 27}, {29, 29}, {31, 34}, {41, 41}, {43, 47}, {52, 55}});
    const auto holds = commands({{1, 2}, {5, 9}, {15, 15}, {30, 30}, {35, 37}, {40, 40}, {42, 42}, {48, 51}});
    EXPECT_EQ(clicks.size(), 30u);
    EXPECT_EQ(holds.size(), 18u);
    for (const Control& c : controls()) {
        SCOPED_TRACE(c.name);
        switch (c.kind) {
        case Kind::Frame:
        case Kind::Label: EXPECT_EQ(c.events, Events::None); break;
        case Kind::Radio: EXPECT_EQ(c.events, Events::Click); break;
        case Kind::Button:
            EXPECT_EQ(c.events, holds.count(c.name) ? Events::PressRelease : Events::Click);
            EXPECT_TRUE(holds.count(c.name) || clicks.count(c.name)) << "button without an event";
            break;
        }
    }
}

TEST(Layout, FontsColoursAndStartUpState) {
    for (const Control& c : controls()) {
        SCOPED_TRACE(c.name);
        if (c.kind == Kind::Frame) {
            EXPECT_EQ(c.font, nullptr);
        } else {
            ASSERT_NE(c.font, nullptr);
            EXPECT_NE(findFont(c.font), nullptr) << c.font;
        }
        EXPECT_TRUE(isSystemColour(c.back) || c.back <= 0xFFFFFFu);
        const bool hiddenAtStart = c.name == std::string("Frame8") || c.name == std::string("Command34");
        EXPECT_EQ(c.visible, !hiddenAtStart);
        EXPECT_EQ(c.selected, c.name == std::string("Option3"));
    }
    for (const char* display : {"Label11", "Label12", "Label25"}) {
        EXPECT_STREQ(findControl(display)->caption, "") << display;
        EXPECT_TRUE(findControl(display)->border) << display;
    }
    EXPECT_EQ(findFont("G8")->points, 8.25);
    for (const TimerRow& t : timers()) EXPECT_FALSE(t.enabled) << t.name;
}

TEST(Layout, PortPanelLiesAboveAndCoversTheComButton) {
    int comAt = -1, panelAt = -1, index = 0;
    for (const Control& c : controls()) {
        if (c.name == std::string("Command33")) comAt = index;
        if (c.name == std::string("Frame8")) panelAt = index;
        ++index;
    }
    ASSERT_GE(comAt, 0);
    EXPECT_GT(panelAt, comAt);
    const Box com = absolute(*findControl("Command33")), panel = absolute(*findControl("Frame8"));
    EXPECT_LE(panel.left, com.left);
    EXPECT_LE(panel.top, com.top);
    EXPECT_GE(panel.left + panel.width, com.left + com.width);
    EXPECT_GE(panel.top + panel.height, com.top + com.height);
}

TEST(Layout, LinesCloseTheOutlineOfAPlus) {
    std::map<std::pair<int, int>, int> ends;
    for (const Line& l : lines()) {
        EXPECT_TRUE(l.x1 == l.x2 || l.y1 == l.y2) << l.name << " is slanted";
        ++ends[{l.x1, l.y1}];
        ++ends[{l.x2, l.y2}];
    }
    EXPECT_EQ(lines().size(), 12u);
    for (const auto& [point, count] : ends) EXPECT_EQ(count, 2) << point.first << "," << point.second;
}

}  // namespace
}  // namespace qelo::panel::layout
