#include "base/file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace skyrec {

FileDescriptor::~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
}

std::string system_error_text(int errnum) {
    // Kept for compatibility: callers match the "(os error N)" suffix.
    return std::string(std::strerror(errnum)) + " (os error " + std::to_string(errnum) + ")";
}

Status check_path(const std::string& path) {
    if (path.find('\0') != std::string::npos) return BufrError::io("path contains a NUL byte");
    return Ok{};
}

Result<FileDescriptor> open_for_reading(const std::string& path) {
    SKYREC_CHECK(check_path(path));
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return BufrError::io(system_error_text(errno));
    return fd;
}

Result<std::size_t> read_some(const FileDescriptor& file, std::uint8_t* buffer, std::size_t size) {
    for (;;) {
        const ssize_t n = ::read(file.get(), buffer, size);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno != EINTR) return BufrError::io(system_error_text(errno));
    }
}

Result<std::vector<std::uint8_t>> read_to_end(const FileDescriptor& file, std::size_t most, std::string_view what) {
    struct stat st{};
    if (::fstat(file.get(), &st) != 0) return BufrError::io(system_error_text(errno));
    const auto too_long = [&] {
        return BufrError::io("longer than " + std::to_string(most) + " bytes, the most read of " + std::string(what));
    };

    // The size is a hint only: files may grow, shrink, or report no size.
    const bool regular = S_ISREG(st.st_mode);
    if (regular && st.st_size > 0 && static_cast<std::uint64_t>(st.st_size) > most) return too_long();
    const std::size_t cap = regular ? most : std::min(most, kStreamReadLimit);
    std::size_t capacity = regular && st.st_size > 0 ? static_cast<std::size_t>(st.st_size) + 1 : 1 << 16;
    std::vector<std::uint8_t> bytes(std::min(capacity, cap == SIZE_MAX ? cap : cap + 1));
    std::size_t used = 0;
    for (;;) {
        if (!regular && used > kStreamReadLimit) {
            return BufrError::io("not a regular file and longer than " + std::to_string(kStreamReadLimit) +
                                 " bytes, the most read whole");
        }
        if (used > most) return too_long();
        if (used == bytes.size()) {
            const std::size_t doubled = bytes.size() * 2;
            bytes.resize(cap == SIZE_MAX ? doubled : std::min(doubled, cap + 1));
        }
        auto n = read_some(file, bytes.data() + used, bytes.size() - used);
        if (!n) return std::move(n).error();
        if (*n == 0) break;
        used += *n;
    }
    bytes.resize(used);
    return bytes;
}

Result<std::vector<std::uint8_t>> read_file_bytes(const std::string& path) {
    auto fd = open_for_reading(path);
    if (!fd) return std::move(fd).error();
    return read_to_end(*fd);
}

}  // namespace skyrec
