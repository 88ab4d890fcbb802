#include "registry/default_registry.hpp"

#include "catalogue/catalogue.hpp"
#include "registry/rudiment_table.hpp"

namespace kinetra {
namespace {

std::vector<RegistryEntry> build_registry() {
    std::vector<RegistryEntry> rows;
    rows.reserve(kRudimentRows.size() + catalogue_rows.size());
    for (const CatalogueRow& row : kRudimentRows) {
        rows.push_back(row.entry);
    }
    for (const CatalogueRow& row : catalogue_rows) {
        rows.push_back(row.entry);
    }
    return rows;
}

}  // namespace

const std::vector<RegistryEntry>& default_registry() {
    // A function-local static: initialised once, retried if it throws, freed at exit.
    static const std::vector<RegistryEntry> registry = build_registry();
    return registry;
}

}  // namespace kinetra
