#include "tools/atomic_outputs.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace skyrec {
namespace {

OutputFailure failure(const std::string& path, int errnum) { return {path + ": " + std::strerror(errnum)}; }

// A new file in the folder of `path`, named by this process and by a number
// where an earlier run's file of that name was left: its descriptor, or -1
// with errno set.
int create_beside(const std::string& path, std::string& temporary) {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string stem = folder + "." + name + "." + std::to_string(::getpid()) + ".";
    for (unsigned n = 0;; ++n) {
        temporary = stem + std::to_string(n) + ".part";
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
}

bool write_all(int fd, ByteView bytes) {
    std::size_t done = 0;
    while (done < bytes.size) {
        const ssize_t n = ::write(fd, bytes.data + done, bytes.size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::optional<OutputFailure> AtomicOutputs::write(const std::string& path, ByteView bytes) {
    if (last_ >= files_.size() || files_[last_].path != path) {
        last_ = 0;
        while (last_ < files_.size() && files_[last_].path != path)
            ++last_;
        if (last_ == files_.size()) {
            Open file{path, {}, -1};
            file.fd = create_beside(path, file.temporary);
            if (file.fd < 0) return failure(path, errno);
            files_.push_back(std::move(file));
            ++made_;
        }
    }
    if (!write_all(files_[last_].fd, bytes)) return failure(path, errno);
    return std::nullopt;
}

std::optional<OutputFailure> AtomicOutputs::commit() {
    std::optional<OutputFailure> failed;
    for (Open& file : files_) {
        const int fd = std::exchange(file.fd, -1);
        if (::close(fd) != 0 && !failed) failed = failure(file.path, errno);
        if (failed) break;
    }
    for (std::size_t i = 0; i < files_.size() && !failed; ++i) {
        if (std::rename(files_[i].temporary.c_str(), files_[i].path.c_str()) != 0) {
            failed = failure(files_[i].path, errno);
            break;
        }
        files_[i].temporary.clear();  // in place: not removed after a later failure
    }
    if (failed) {
        discard();
        return failed;
    }
    files_.clear();
    return std::nullopt;
}

void AtomicOutputs::discard() noexcept {
    for (Open& file : files_) {
        if (file.fd >= 0) ::close(file.fd);
        if (!file.temporary.empty()) ::unlink(file.temporary.c_str());
    }
    files_.clear();
    last_ = 0;
}

}  // namespace skyrec
