#pragma once
// Bytes and text written out for others to read: as JSON strings (qelo-ctl's
// --json lines, the bridge's payloads) and as quoted bytes in messages. The
// result is ASCII whatever came in.

#include <string>
#include <string_view>

namespace qelo::ctl {

// Bytes off the line as a JSON string: each byte is the character of the
// same number, so a reader gets back exactly what travelled.
std::string jsonBytes(std::string_view bytes);

// Text a person wrote (a device path, an action name, a room) as a JSON
// string. It is UTF-8; a byte that is not becomes U+FFFD rather than bad JSON.
std::string jsonText(std::string_view text);

// Bytes as a C string literal would spell them, for messages.
std::string quoteBytes(std::string_view bytes);

}  // namespace qelo::ctl
