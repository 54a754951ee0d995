#include "fixed_tables.hpp"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "tables/eccodes_tables.hpp"

namespace fuzz {
namespace {

constexpr const char* kWmoVersions = "/usr/share/eccodes/definitions/bufr/tables/0/wmo";

// The highest numbered version directory, or "" when there is none.
std::string newest_wmo_version() {
    std::error_code ec;
    std::filesystem::directory_iterator it(kWmoVersions, ec);
    if (ec) return {};
    long best = -1;
    std::string found;
    for (const auto& entry : it) {
        const std::string name = entry.path().filename().string();
        char* end = nullptr;
        const long n = std::strtol(name.c_str(), &end, 10);
        if (*end == '\0' && n > best && entry.is_directory(ec)) {
            best = n;
            found = entry.path().string();
        }
    }
    return found;
}

void check(const skyrec::Status& status, const std::string& what) {
    if (status) return;
    std::fprintf(stderr, "cannot load %s: %s\n", what.c_str(), status.error().message().c_str());
    std::abort();
}

skyrec::TableSet load() {
    skyrec::TableSet tables;
    if (const std::string wmo = newest_wmo_version(); !wmo.empty()) {
        check(skyrec::read_element_table(tables, wmo + "/element.table"), wmo);
        check(skyrec::read_sequence_file(tables, wmo + "/sequence.def"), wmo);
        check(skyrec::read_code_table_directory(tables, wmo + "/codetables"), wmo);
        std::fprintf(stderr, "fixed tables: %s, then %s\n", wmo.c_str(), SKYREC_FUZZ_TABLES);
    } else {
        std::fprintf(stderr, "fixed tables: %s only (no ecCodes definitions tree)\n", SKYREC_FUZZ_TABLES);
    }
    const std::string own = SKYREC_FUZZ_TABLES;
    check(skyrec::read_element_table(tables, own + "/element.table"), own);
    check(skyrec::read_sequence_file(tables, own + "/sequence.def"), own);
    check(skyrec::read_code_table_directory(tables, own + "/codetables"), own);
    return tables;
}

}  // namespace

const skyrec::TableSet& fixed_tables() {
    static const skyrec::TableSet tables = load();
    return tables;
}

}  // namespace fuzz
