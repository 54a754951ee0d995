#include "scratch_files.hpp"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace fuzz {
namespace {

void remove_scratch_dir() {
    std::error_code ignored;
    std::filesystem::remove_all(scratch_dir(), ignored);
}

std::string make_scratch_dir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "skyrec-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    std::atexit(remove_scratch_dir);
    return pattern;
}

}  // namespace

const std::string& scratch_dir() {
    static const std::string dir = make_scratch_dir();
    return dir;
}

void write_file(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || (size != 0 && std::fwrite(data, 1, size, f) != size) || std::fclose(f) != 0) {
        std::perror(path.c_str());
        std::abort();
    }
}

}  // namespace fuzz
