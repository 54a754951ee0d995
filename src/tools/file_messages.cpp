#include "tools/file_messages.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "base/file.hpp"
#include "base/interrupt.hpp"
#include "message/scan.hpp"

namespace skyrec {
namespace {

constexpr std::size_t kWindow = std::size_t{1} << 23;  // bytes read at a time
constexpr const char* kChanged = "file changed while reading";

// A window of a file: `held` bytes from file offset `base` on. No larger
// than the file (and a byte, so that one read sees its end) unless a message
// needs more: most files are small, and a run reads many.
class Window {
public:
    explicit Window(int fd) : fd_(fd) {
        struct stat st{};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
            expected_ = static_cast<std::uint64_t>(st.st_size);
            size_ = static_cast<std::size_t>(std::min<std::uint64_t>(kWindow, *expected_ + 1));
        }
    }

    ByteView bytes() const noexcept { return {data_.get(), held_}; }
    std::uint64_t base() const noexcept { return base_; }
    bool ended() const noexcept { return ended_; }
    // Whether the file ended before the size it had when opened.
    bool short_read() const noexcept { return ended_ && expected_ && read_ < *expected_; }

    // Drops what lies before `start`, then reads until `need` bytes from it
    // are held or the file ends (the new index of `start` is 0); the
    // system's text of a failed read.
    std::optional<std::string> fill(std::size_t start, std::size_t need) {
        if (held_ - start >= need || ended_) return std::nullopt;
        const std::size_t capacity = std::max(need, size_);
        if (!data_ || capacity > capacity_) {  // not zeroed: every byte used is read first
            std::unique_ptr<std::uint8_t[]> larger(new std::uint8_t[capacity]);
            if (held_ > start) std::memcpy(larger.get(), data_.get() + start, held_ - start);
            data_ = std::move(larger);
            capacity_ = capacity;
        } else if (held_ > start) {
            std::memmove(data_.get(), data_.get() + start, held_ - start);
        }
        held_ -= start;
        base_ += start;
        while (held_ < need && !ended_) {
            const ssize_t n = ::read(fd_, data_.get() + held_, capacity_ - held_);
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
    std::unique_ptr<std::uint8_t[]> data_;
    std::size_t capacity_ = 0;
    std::size_t size_ = kWindow;  // bytes read at a time
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
