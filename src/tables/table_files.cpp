#include "tables/table_files.hpp"

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/file.hpp"
#include "base/utf8.hpp"

namespace skyrec {
namespace {

// Closes the directory stream on every exit path.
class DirectoryStream {
public:
    explicit DirectoryStream(DIR* dir) noexcept : dir_(dir) {}
    ~DirectoryStream() {
        if (dir_ != nullptr) ::closedir(dir_);
    }
    DirectoryStream(const DirectoryStream&) = delete;
    DirectoryStream& operator=(const DirectoryStream&) = delete;
    DIR* get() const noexcept { return dir_; }

private:
    DIR* dir_;
};

bool name_matches(std::string_view name, std::string_view prefix, std::string_view suffix) {
    return name.size() >= prefix.size() && name.size() >= suffix.size() && name.starts_with(prefix) &&
           name.ends_with(suffix);
}

}  // namespace

std::string join_path(std::string_view directory, std::string_view name) {
    std::string path(directory);
    if (!path.empty() && path.back() != '/') path += '/';
    path += name;
    return path;
}

std::string_view file_name_of(std::string_view path) noexcept {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

Result<std::vector<std::string>> list_table_files(const std::string& directory, std::string_view prefix,
                                                  std::string_view suffix) {
    SKYREC_CHECK(check_path(directory));
    DirectoryStream dir(::opendir(directory.c_str()));
    if (dir.get() == nullptr) return BufrError::io(system_error_text(errno));
    std::vector<std::string> names;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (entry == nullptr) {
            if (errno != 0) return BufrError::io(system_error_text(errno));
            break;
        }
        const std::string_view name(entry->d_name);
        if (name == "." || name == "..") continue;
        if (name_matches(utf8_lossy(name), prefix, suffix)) names.emplace_back(name);
    }
    // All entries share the directory, so byte order of the names is path order.
    std::sort(names.begin(), names.end());
    std::vector<std::string> paths;
    paths.reserve(names.size());
    for (const std::string& name : names)
        paths.push_back(join_path(directory, name));
    return paths;
}

}  // namespace skyrec
