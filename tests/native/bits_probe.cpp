// Reads one field with bits_at: argv = data bytes (hex), bit position, width.
// Prints the field; a broken precondition aborts in a checked build.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bitstream/bit_reader.hpp"

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    const std::string hex = argv[1];
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    const std::uint64_t position = std::strtoull(argv[2], nullptr, 10);
    const auto width = static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 10));
    const std::uint64_t value = skyrec::bits_at({bytes.data(), bytes.size()}, position, width);
    std::printf("%llu\n", static_cast<unsigned long long>(value));
    return 0;
}
