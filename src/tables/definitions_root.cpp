#include "tables/definitions_root.hpp"

#include <filesystem>
#include <set>
#include <string_view>
#include <system_error>
#include <vector>

#include "base/debug_string.hpp"
#include "base/file.hpp"
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

// `path` could not be examined for another reason than its absence: a
// permission, a loop of links. Never taken for absent, which would give
// other tables without a word.
BufrError unexaminable(const fs::path& path, const std::error_code& ec) {
    return BufrError::io(shown(path) + ": " + system_error_text(ec.value()));
}

// Whether anything at all exists under `path`.
Result<bool> entry_exists(const fs::path& path) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(path, ec);
    if (status.type() == fs::file_type::not_found) return false;
    if (ec) return unexaminable(path, ec);
    return true;
}

// An alias names a sibling: not a path, not the directory itself or its parent.
bool sibling_name(std::string_view alias) noexcept {
    return !alias.empty() && alias != "." && alias != ".." && alias.find('/') == std::string_view::npos &&
           alias.find('\\') == std::string_view::npos;
}

// read(tables, path) when anything is at `path`; its errors name the path.
template <class Read>
Status read_if_present(TableSet& tables, const fs::path& path, Read&& read) {
    auto present = entry_exists(path);
    if (!present) return std::move(present).error();
    if (!*present) return Ok{};
    return in_file(read(tables, path.native()), path.native());
}

// The directories that `place` names under each root where one is, in the
// order of the roots; master directories follow their aliases, local ones
// are read as they are (an alias file there holds no tables).
template <class Place>
Result<std::vector<fs::path>> present_directories(const std::vector<std::string>& roots, const BufrMessage& message,
                                                  Place&& place, bool aliases) {
    std::vector<fs::path> found;
    for (const std::string& root : roots) {
        const fs::path named = place(fs::path(root), message);
        auto present = entry_exists(named);
        if (!present) return std::move(present).error();
        if (!*present) continue;
        if (!aliases) {
            found.push_back(named);
            continue;
        }
        auto directory = resolve_table_dir(named.native());
        if (!directory) return std::move(directory).error();
        found.emplace_back(directory.value());
    }
    return found;
}

// `name` read from the first of `directories` that has it, as ecCodes
// searches its definition path; when none has it, an error (`required`,
// naming the first) or nothing.
template <class Read>
Status read_first(TableSet& tables, const std::vector<fs::path>& directories, const char* name, Read&& read,
                  bool required) {
    for (const fs::path& directory : directories) {
        auto present = entry_exists(directory / name);
        if (!present) return std::move(present).error();
        if (*present) return in_file(read(tables, (directory / name).native()), (directory / name).native());
    }
    if (!required || directories.empty()) return Ok{};
    const fs::path first = directories.front() / name;
    return in_file(read(tables, first.native()), first.native());
}

// Every code table of the directories, one found in an earlier directory
// replacing the later ones' of the same code.
Status read_code_tables(TableSet& tables, const std::vector<fs::path>& directories) {
    for (auto it = directories.rbegin(); it != directories.rend(); ++it) {
        SKYREC_CHECK(read_if_present(tables, *it / "codetables", read_code_table_directory));
    }
    return Ok{};
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
        if (ec && status.type() != fs::file_type::not_found) return unexaminable(path, ec);
        if (!fs::is_regular_file(status)) return missing_directory(path);
        if (!seen.insert(path).second) {
            return BufrError::text("ecCodes table alias loops back to " + shown(path));
        }

        auto content = read_text_file(path.native());
        if (!content) return std::move(content).error();
        const std::string_view alias = trim_white_space(content.value());
        if (!sibling_name(alias)) {
            return BufrError::table_syntax("invalid ecCodes table alias " + shown(path) + " -> " + debug_string(alias));
        }
        if (!path.has_parent_path()) return missing_directory(path);
        path = path.parent_path() / fs::path(std::string(alias));
    }
}

Result<TableSet> select_definitions_tables(const std::string& root, const BufrMessage& message, NumberBlanks blanks) {
    return select_tables_from_roots(std::vector<std::string>{root}, message, blanks);
}

Result<TableSet> select_tables_from_roots(const std::vector<std::string>& roots, const BufrMessage& message,
                                          NumberBlanks blanks, CodeTables codes) {
    const auto read_elements = [blanks](TableSet& tables, const std::string& path) {
        return read_element_table(tables, path, blanks);
    };
    if (roots.empty()) return BufrError::text("no ecCodes definitions root given");
    auto masters = present_directories(roots, message, master_directory, true);
    if (!masters) return std::move(masters).error();
    if (masters->empty()) return resolve_table_dir(master_directory(roots.front(), message).native()).error();

    TableSet tables;
    SKYREC_CHECK(read_first(tables, *masters, "element.table", read_elements, true));
    SKYREC_CHECK(read_first(tables, *masters, "sequence.def", read_sequence_file, true));
    if (codes == CodeTables::Read) SKYREC_CHECK(read_code_tables(tables, *masters));

    if (message.local_tables_version_number == 0) return tables;
    auto locals = present_directories(roots, message, local_directory, false);
    if (!locals) return std::move(locals).error();
    // Local entries replace the master's entries of the same code whole.
    SKYREC_CHECK(read_first(tables, *locals, "element.table", read_elements, false));
    SKYREC_CHECK(read_first(tables, *locals, "sequence.def", read_sequence_file, false));
    if (codes == CodeTables::Read) SKYREC_CHECK(read_code_tables(tables, *locals));
    return tables;
}

}  // namespace skyrec
