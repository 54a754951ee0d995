#include "tables/definitions_root.hpp"

#include <filesystem>
#include <set>
#include <string_view>
#include <system_error>

#include "base/debug_string.hpp"
#include "base/utf8.hpp"
#include "tables/eccodes_tables.hpp"
#include "tables/text_file.hpp"
#include "tables/text_scan.hpp"

namespace skyrec {
namespace fs = std::filesystem;

namespace {

std::string shown(const fs::path& path) { return utf8_lossy(path.native()); }

BufrError missing_directory(const fs::path& path) {
    return BufrError::text("ecCodes table directory does not exist: " + shown(path));
}

// Whether anything at all exists under `path` (a failed query counts as no).
bool entry_exists(const fs::path& path) {
    std::error_code ec;
    return fs::symlink_status(path, ec).type() != fs::file_type::not_found && !ec;
}

}  // namespace

fs::path master_directory(const fs::path& root, const BufrMessage& m) {
    return root / "bufr" / "tables" / std::to_string(m.master_table_number) / "wmo" /
           std::to_string(m.master_tables_version_number);
}

fs::path local_directory(const fs::path& root, const BufrMessage& m) {
    // Master version 19 keeps its local tables under "19-{local version}".
    std::string version = std::to_string(m.local_tables_version_number);
    if (m.master_tables_version_number == 19) version = "19-" + version;
    return root / "bufr" / "tables" / std::to_string(m.master_table_number) / "local" / version /
           std::to_string(m.originating_centre) / std::to_string(m.originating_subcentre);
}

Result<std::string> resolve_table_dir(const std::string& start) {
    fs::path path(start);
    // Aliases name siblings only, so a chain either ends or comes back to a
    // name already seen.
    std::set<fs::path> seen;
    for (;;) {
        std::error_code ec;
        const fs::file_status status = fs::status(path, ec);
        if (fs::is_directory(status)) return path.native();
        if (!fs::is_regular_file(status)) return missing_directory(path);
        if (!seen.insert(path).second) {
            return BufrError::text("ecCodes table alias loops back to " + shown(path));
        }

        auto content = read_text_file(path.native());
        if (!content) return std::move(content).error();
        const std::string_view alias = trim_white_space(content.value());
        if (alias.empty() || alias.find('/') != std::string_view::npos || alias.find('\\') != std::string_view::npos) {
            return BufrError::table_syntax("invalid ecCodes table alias " + shown(path) + " -> " + debug_string(alias));
        }
        if (!path.has_parent_path()) return missing_directory(path);
        path = path.parent_path() / fs::path(std::string(alias));
    }
}

Result<TableSet> select_definitions_tables(const std::string& root_text, const BufrMessage& message,
                                           NumberBlanks blanks) {
    const fs::path root(root_text);
    auto master = resolve_table_dir(master_directory(root, message).native());
    if (!master) return std::move(master).error();
    const fs::path master_dir(master.value());

    TableSet tables;
    const fs::path master_elements = master_dir / "element.table";
    const fs::path master_sequences = master_dir / "sequence.def";
    SKYREC_CHECK(in_file(read_element_table(tables, master_elements.native(), blanks), master_elements.native()));
    SKYREC_CHECK(in_file(read_sequence_file(tables, master_sequences.native()), master_sequences.native()));
    const fs::path master_codes = master_dir / "codetables";
    if (entry_exists(master_codes)) SKYREC_CHECK(read_code_table_directory(tables, master_codes.native()));

    if (message.local_tables_version_number == 0) return tables;
    const fs::path local_dir = local_directory(root, message);
    if (!entry_exists(local_dir)) return tables;
    // Local entries replace the master's entries of the same code whole.
    if (const fs::path p = local_dir / "element.table"; entry_exists(p)) {
        SKYREC_CHECK(in_file(read_element_table(tables, p.native(), blanks), p.native()));
    }
    if (const fs::path p = local_dir / "sequence.def"; entry_exists(p)) {
        SKYREC_CHECK(in_file(read_sequence_file(tables, p.native()), p.native()));
    }
    if (const fs::path p = local_dir / "codetables"; entry_exists(p)) {
        SKYREC_CHECK(read_code_table_directory(tables, p.native()));
    }
    return tables;
}

}  // namespace skyrec
