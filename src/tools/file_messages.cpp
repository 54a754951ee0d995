#include "tools/file_messages.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "base/file.hpp"
#include "base/interrupt.hpp"
#include "message/scan.hpp"

namespace skyrec {
namespace {

constexpr std::size_t kWindow = std::size_t{1} << 23;  // bytes read at a time
constexpr const char* kChanged = "file changed while reading";

// A window of a file: `held` bytes from file offset `base` on.
class Window {
public:
    explicit Window(int fd) : fd_(fd) {
        struct stat st{};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) expected_ = static_cast<std::uint64_t>(st.st_size);
    }

    ByteView bytes() const noexcept { return {data_.data(), held_}; }
    std::uint64_t base() const noexcept { return base_; }
    bool ended() const noexcept { return ended_; }
    // Whether the file ended before the size it had when opened.
    bool short_read() const noexcept { return ended_ && expected_ && read_ < *expected_; }

    // Drops what lies before `start`, then reads until `need` bytes from it
    // are held or the file ends; the new index of `start` (0), or the
    // system's text of a failed read.
    std::optional<std::string> fill(std::size_t start, std::size_t need) {
        if (held_ - start >= need || ended_) return std::nullopt;
        std::memmove(data_.data(), data_.data() + start, held_ - start);
        held_ -= start;
        base_ += start;
        if (data_.size() < std::max(need, kWindow)) data_.resize(std::max(need, kWindow));
        while (held_ < need && !ended_) {
            const ssize_t n = ::read(fd_, data_.data() + held_, data_.size() - held_);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return std::string(std::strerror(errno));
            ended_ = n == 0;
            held_ += static_cast<std::size_t>(n);
            read_ += static_cast<std::uint64_t>(n);
        }
        return std::nullopt;
    }

private:
    int fd_;
    std::vector<std::uint8_t> data_;
    std::size_t held_ = 0;
    std::uint64_t base_ = 0;
    std::uint64_t read_ = 0;
    std::optional<std::uint64_t> expected_;
    bool ended_ = false;
};

}  // namespace

FileScan each_file_message(const std::string& path, const std::function<bool(const FileMessage&)>& each) {
    FileScan scan;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        scan.failure = std::strerror(errno);
        return scan;
    }
    const FileDescriptor file(fd);
    Window window(fd);
    std::size_t position = 0;
    const auto fill = [&](std::size_t start, std::size_t need) {
        const std::uint64_t before = window.base();
        scan.failure = window.fill(start, need);
        position -= static_cast<std::size_t>(window.base() - before);
        return !scan.failure;
    };
    if (!fill(0, 1)) return scan;
    for (;;) {
        if (interrupt_requested()) {
            scan.interrupted = true;
            return scan;
        }
        ByteView data = window.bytes();
        std::size_t start = find_marker(data, position);
        if (start >= data.size) {
            if (window.ended()) return scan;
            const std::size_t kept = std::max(position, data.size - std::min(data.size, kMarkerLength - 1));
            position = kept;
            if (!fill(kept, data.size - kept + 1)) return scan;
            continue;
        }
        // The message whole in the window before it is framed.
        position = start;
        if (!fill(start, kSection0Length)) return scan;
        start = position;
        data = window.bytes();
        const std::uint64_t declared = data.size - start >= kSection0Length ? read_u24(data.data + start + 4) : 0;
        if (!fill(start, static_cast<std::size_t>(declared))) return scan;
        start = position;
        data = window.bytes();
        MessageCursor cursor(data, start);
        auto found = cursor.next();
        if (!found || found->start != start) {  // a "BUFR" that opens no message: searched on after it
            position = start + kMarkerLength;
            continue;
        }
        position = cursor.position();
        if (!found->framed && window.short_read() &&
            start + std::max<std::uint64_t>(declared, kSection0Length) > data.size) {
            found->framed = BufrError::text(kChanged);
        }
        const FileMessage message{scan.messages++, window.base() + start, *found, data.subview(start, found->length)};
        if (!each(message)) {
            scan.stopped = true;
            return scan;
        }
    }
}

}  // namespace skyrec
