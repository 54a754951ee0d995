#include "tables/text_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "base/utf8.hpp"

namespace skyrec {

Result<FileDescriptor> open_table_file(const std::string& path) {
    SKYREC_CHECK(check_path(path));
    // Non-blocking, so that opening a FIFO does not wait for its writer.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) return BufrError::io(system_error_text(errno));
    struct stat st{};
    if (::fstat(fd.get(), &st) != 0) return BufrError::io(system_error_text(errno));
    // Directories pass, and fail on reading as they always have.
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return BufrError::io("not a regular file: " + path);
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return BufrError::io(system_error_text(errno));
    }
    return fd;
}

Result<std::string> read_table_file(const std::string& path) {
    auto fd = open_table_file(path);
    if (!fd) return std::move(fd).error();
    auto bytes = read_to_end(*fd, kTableFileLimit, "a table file");
    if (!bytes) return std::move(bytes).error();
    return std::string(bytes->begin(), bytes->end());
}

Status check_text(std::string_view bytes) {
    // Kept for compatibility: an io error with this exact text, not a table syntax error.
    if (!is_valid_utf8(bytes)) return BufrError::io("stream did not contain valid UTF-8");
    return Ok{};
}

Result<std::string> read_text_file(const std::string& path) {
    auto text = read_table_file(path);
    if (!text) return text;
    SKYREC_CHECK(check_text(*text));
    return text;
}

}  // namespace skyrec
