#pragma once
// What travels on the line between the panel and the projector: the frame,
// the code catalogue and the traffic rendering (answers: answer.h). Pure data
// and functions.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "link/catalogue.h"

namespace qelo::link {

inline constexpr char kCR = '\r';
// What a projector answers to a control command.
inline constexpr std::string_view kAck = "\x06\r";

// A command frame: the three-character code followed by CR.
std::string frame(std::string_view code);

// The traffic lines' form of a text: one blank, then one token per byte.
std::string render(std::string_view data);
// Appends the token of one byte.
void appendToken(std::string& out, unsigned char c);
// What the RXD line shows when a reply window closed with nothing received.
inline constexpr const char* kTimeoutMark = " X X X X";

// Received text and its rendering, kept in step: appending costs what
// arrived, not what was kept, however long the text has grown.
class RenderedText {
public:
    const std::string& str() const { return text_; }
    // Always render(str()).
    const std::string& rendered() const { return rendered_; }
    std::size_t size() const { return text_.size(); }
    bool empty() const { return text_.empty(); }
    // Changes whenever the text is emptied, so that whoever shows a prefix
    // of the rendering can tell it from a new text that happens to be longer.
    std::uint64_t generation() const { return generation_; }

    void clear();
    // Appends what fits below limit characters and drops the rest.
    void append(std::string_view more, std::size_t limit);

    friend bool operator==(const RenderedText& a, std::string_view b) { return a.text_ == b; }

private:
    std::string text_;
    std::string rendered_ = " ";
    std::uint64_t generation_ = 0;
};

}  // namespace qelo::link
