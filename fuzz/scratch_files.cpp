#include "scratch_files.hpp"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace fuzz {
namespace {

// Never destroyed, so that the exit handler below still finds it.
const std::string* made_dir = nullptr;

void remove_scratch_dir() {
    std::error_code ignored;
    std::filesystem::remove_all(*made_dir, ignored);
}

}  // namespace

const std::string& scratch_dir() {
    if (made_dir == nullptr) {
        std::string pattern = (std::filesystem::temp_directory_path() / "skyrec-fuzz-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        made_dir = new std::string(pattern);
        std::atexit(remove_scratch_dir);
    }
    return *made_dir;
}

void write_file(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || (size != 0 && std::fwrite(data, 1, size, f) != size) || std::fclose(f) != 0) {
        std::perror(path.c_str());
        std::abort();
    }
}

}  // namespace fuzz
