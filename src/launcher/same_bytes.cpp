#include "launcher/same_bytes.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "base/file.hpp"

namespace skyrec::launcher {

bool same_bytes(const std::string& a, const std::string& b) {
    auto fa = open_for_reading(a);
    auto fb = open_for_reading(b);
    if (!fa || !fb) return false;
    struct stat sa{}, sb{};
    if (::fstat(fa->get(), &sa) != 0 || ::fstat(fb->get(), &sb) != 0) return false;
    if (!S_ISREG(sa.st_mode) || !S_ISREG(sb.st_mode) || sa.st_size != sb.st_size) return false;
    if (sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino) return true;
    constexpr std::size_t kChunk = std::size_t{1} << 20;
    std::vector<std::uint8_t> x(kChunk), y(kChunk);
    for (;;) {
        auto n = read_some(*fa, x.data(), kChunk);
        if (!n) return false;
        std::size_t held = 0;
        while (held < *n) {  // the other file in as many reads as it takes
            auto m = read_some(*fb, y.data() + held, *n - held);
            if (!m || *m == 0) return false;
            held += *m;
        }
        if (*n == 0) return true;  // as many bytes as the sizes said, all alike
        if (std::memcmp(x.data(), y.data(), *n) != 0) return false;
    }
}

}  // namespace skyrec::launcher
