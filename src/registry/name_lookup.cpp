#include "registry/name_lookup.hpp"

#include <stdexcept>
#include <string>

#include "catalogue/catalogue.hpp"
#include "registry/rudiment_table.hpp"

namespace kinetra {
namespace {

// Unsigned byte order, a proper prefix first: the order the generator sorted the index in.
// string_view's ordering is exactly that (its character traits compare char as unsigned char)
// and runs as one memcmp instead of a byte loop.
bool name_before(std::string_view a, std::string_view b) noexcept { return a < b; }

const CatalogueRow* find_catalogue_row(std::string_view name) noexcept {
    const std::span<const CatalogueRow> rows = catalogue_rows;
    const std::span<const std::size_t> index = catalogue_name_index;
    std::size_t first = 0;
    std::size_t count = index.size();
    while (count > 0) {
        const std::size_t half = count / 2;
        if (name_before(rows[index[first + half]].entry.name, name)) {
            first += half + 1;
            count -= half + 1;
        } else {
            count = half;
        }
    }
    if (first < index.size() && rows[index[first]].entry.name == name) {
        return &rows[index[first]];
    }
    return nullptr;
}

}  // namespace

Offset3 sample(std::string_view name, std::int32_t pip) {
    for (const CatalogueRow& row : kRudimentRows) {
        if (row.entry.name == name) {
            return row.accessor(pip);
        }
    }
    if (const CatalogueRow* row = find_catalogue_row(name)) {
        return row->accessor(pip);
    }
    throw std::invalid_argument("Unknown kinetra: " + std::string(name));
}

}  // namespace kinetra
