// The peaks of what real messages spend against the bounds of
// src/base/limits.hpp: values, bytes of text and descriptor steps, in all
// and per byte of message, and the least headroom that the allowance leaves
// (allowance over spending, the tightest message). Messages whose tables
// are missing are counted and left out.
//
//   build/dev/measure_peaks DEFINITIONS_ROOT FILE...
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/file.hpp"
#include "base/limits.hpp"
#include "decode/walker.hpp"
#include "message/scan.hpp"
#include "tables/definitions_root.hpp"

using namespace skyrec;

namespace {

struct Peak {
    double value = 0;
    std::string where;
    void offer(double v, const std::string& at) {
        if (v > value) value = v, where = at;
    }
};

struct Measure {
    Peak total, per_byte, headroom_inverse;
    void add(std::uint64_t spent, std::uint64_t allowed, std::uint64_t bytes, const std::string& at) {
        total.offer(static_cast<double>(spent), at);
        per_byte.offer(static_cast<double>(spent) / static_cast<double>(bytes), at);
        headroom_inverse.offer(static_cast<double>(spent) / static_cast<double>(allowed), at);
    }
    void print(const char* name) const {
        std::printf("%-18s peak %10.0f (%s)\n%-18s per byte %8.2f (%s)\n%-18s headroom %8.1fx (%s)\n", name,
                    total.value, total.where.c_str(), "", per_byte.value, per_byte.where.c_str(), "",
                    headroom_inverse.value > 0 ? 1 / headroom_inverse.value : 0.0, headroom_inverse.where.c_str());
    }
};

// What decoding `message` spends, or nothing when it fails.
std::optional<Allowance> spending(const BufrMessage& message, const TableSet& tables, ByteView data) {
    BitReader reader(data);
    if (!message.compressed_data) {
        std::vector<DecodedValue> values;
        Walker walker(tables, reader, values, nullptr, message.total_length);
        for (std::uint32_t subset = 0; subset < message.number_of_subsets; ++subset) {
            if (subset != 0) walker.state().start_subset();
            if (!walker.walk(message.unexpanded_descriptors, 0)) return std::nullopt;
        }
        return walker.spent();
    }
    std::vector<Column> columns;
    Walker walker(tables, reader, message.number_of_subsets, columns, message.total_length);
    if (!walker.walk(message.unexpanded_descriptors, 0)) return std::nullopt;
    return walker.spent();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s DEFINITIONS_ROOT FILE...\n", argv[0]);
        return 2;
    }
    std::map<std::string, std::unique_ptr<TableSet>> tables;
    Measure values, text, steps;
    std::size_t measured = 0, skipped = 0;
    for (int a = 2; a < argc; ++a) {
        auto file = read_file_bytes(argv[a]);
        if (!file) continue;
        const ByteView buffer{file->data(), file->size()};
        auto slices = scan_messages(buffer);
        if (!slices) continue;
        for (std::size_t i = 0; i < slices->size(); ++i) {
            const ByteView bytes = (*slices)[i].in(buffer);
            auto message = frame_message(bytes);
            if (!message) continue;
            const std::string key =
                master_directory(argv[1], *message).string() + "|" + local_directory(argv[1], *message).string();
            if (!tables.count(key)) {
                auto loaded = select_definitions_tables(argv[1], *message);
                tables[key] = loaded ? std::make_unique<TableSet>(std::move(loaded).value()) : nullptr;
            }
            auto spent = tables[key] ? spending(*message, *tables[key], message->section4_data(bytes)) : std::nullopt;
            if (!spent) {
                ++skipped;
                continue;
            }
            ++measured;
            const std::string at = std::string(argv[a]) + " #" + std::to_string(i) + " (" +
                                   std::to_string(message->total_length) + " bytes)";
            const Allowance allowed = allowance_for(message->total_length);
            values.add(spent->values, allowed.values, message->total_length, at);
            text.add(spent->text_bytes, allowed.text_bytes, message->total_length, at);
            steps.add(spent->steps, allowed.steps, message->total_length, at);
        }
    }
    std::printf("%zu messages measured, %zu left out (tables missing or decode failed)\n", measured, skipped);
    values.print("values");
    text.print("text bytes");
    steps.print("descriptor steps");
    return 0;
}
