#include "message/file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace skyrec {
namespace {

// Closes the descriptor on every exit path.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const noexcept { return fd_; }

private:
    int fd_;
};

}  // namespace

std::string system_error_text(int errnum) {
    return std::string(std::strerror(errnum)) + " (os error " + std::to_string(errnum) + ")";
}

Result<std::vector<std::uint8_t>> read_file_bytes(const std::string& path) {
    if (path.find('\0') != std::string::npos) return BufrError::io("path contains a NUL byte");
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return BufrError::io(system_error_text(errno));
    struct stat st{};
    if (::fstat(fd.get(), &st) != 0) return BufrError::io(system_error_text(errno));

    // The size is a hint only: files may grow, shrink, or report no size.
    std::size_t capacity = S_ISREG(st.st_mode) && st.st_size > 0 ? static_cast<std::size_t>(st.st_size) + 1 : 1 << 16;
    std::vector<std::uint8_t> bytes(capacity);
    std::size_t used = 0;
    for (;;) {
        if (used == bytes.size()) bytes.resize(bytes.size() * 2);
        const ssize_t n = ::read(fd.get(), bytes.data() + used, bytes.size() - used);
        if (n < 0) {
            if (errno == EINTR) continue;
            return BufrError::io(system_error_text(errno));
        }
        if (n == 0) break;
        used += static_cast<std::size_t>(n);
    }
    bytes.resize(used);
    return bytes;
}

}  // namespace skyrec
