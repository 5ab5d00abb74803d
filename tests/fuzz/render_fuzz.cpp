// Rendering and decoding of arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_invariants.h"

using namespace qelo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string rendered = link::render(bytes);

    // One blank, then a token of 2 to 4 characters a byte, each ending in a blank.
    if (rendered.empty() || rendered.front() != ' ') fuzz::broken("leading blank", rendered);
    if (rendered.size() < 1 + 2 * bytes.size() || rendered.size() > 1 + 4 * bytes.size())
        fuzz::broken("rendered length", rendered);
    std::string again = " ";
    for (char c : bytes) link::appendToken(again, static_cast<unsigned char>(c));
    if (again != rendered) fuzz::broken("render vs appendToken", rendered);

    const auto queries = link::queries();
    const std::string sent = link::frame(queries[data[0] % queries.size()].code);
    link::RenderedText received;
    received.append(bytes, bytes.size());
    if (auto status = link::statusText(sent, received)) fuzz::checkStatusText(*status);
    if (link::statusText(link::frame("C00"), received)) fuzz::broken("decoded a non-query", rendered);
    return 0;
}
