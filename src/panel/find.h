#pragma once
// The panel's tables are looked up by one field of their rows: the name of a
// control, the key of a font.
#include <span>

namespace qelo::panel {

// The first row whose field equals key; nullptr when none does.
template <class Row, class Key, class Field>
const Row* findRow(std::span<const Row> rows, const Key& key, Field Row::*field) {
    for (const Row& row : rows)
        if (key == row.*field) return &row;
    return nullptr;
}

}  // namespace qelo::panel
