// Reading files, with the operating system's description on failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/result.hpp"

namespace skyrec {

// An open file descriptor, closed on every exit path.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor();
    int get() const noexcept { return fd_; }

private:
    int fd_;
};

// Opens `path` for sequential reading, or an Io error carrying the system's text.
Result<FileDescriptor> open_for_reading(const std::string& path);

// Reads up to `size` bytes (0 at the end of the file), or an Io error.
Result<std::size_t> read_some(const FileDescriptor& file, std::uint8_t* buffer, std::size_t size);

// The most read whole from a pipe, FIFO or device, which may never end.
inline constexpr std::size_t kStreamReadLimit = std::size_t{1} << 28;

// The bytes of an open file from where it stands to its end, or an Io
// error; a file that is not a regular file fails past kStreamReadLimit, and
// any file past `most` bytes (said to be the most of `what`), before it takes
// that memory.
Result<std::vector<std::uint8_t>> read_to_end(const FileDescriptor& file, std::size_t most = SIZE_MAX,
                                              std::string_view what = "a file");

// The file's bytes, or an Io error carrying the system's text.
Result<std::vector<std::uint8_t>> read_file_bytes(const std::string& path);

// The system's description of an errno value, as shown in error messages.
std::string system_error_text(int errnum);

// Ok, or an Io error for a path that the system would cut short at a NUL byte.
Status check_path(const std::string& path);

}  // namespace skyrec
