// Core decoding speed, without Python: every message of the given files is
// decoded with the ecCodes master table version it names, repeatedly.
//
//   build/dev/decode_core DEFINITIONS_ROOT FILE...
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "decode/decode_section4.hpp"
#include "message/file.hpp"
#include "message/scan.hpp"
#include "tables/eccodes_tables.hpp"

using namespace skyrec;

namespace {

struct Job {
    std::vector<std::uint8_t> bytes;
    BufrMessage message;
    const TableSet* tables;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s DEFINITIONS_ROOT FILE...\n", argv[0]);
        return 2;
    }
    const std::string wmo = std::string(argv[1]) + "/bufr/tables/0/wmo/";
    std::map<int, std::unique_ptr<TableSet>> tables;
    std::vector<Job> jobs;
    for (int a = 2; a < argc; ++a) {
        auto file = read_file_bytes(argv[a]);
        if (!file) continue;
        const ByteView buffer{file->data(), file->size()};
        auto slices = scan_messages(buffer);
        if (!slices) continue;
        for (const MessageSlice& slice : *slices) {
            const ByteView bytes = slice.in(buffer);
            auto message = frame_message(bytes);
            if (!message) continue;
            const int version = message->master_tables_version_number;
            if (!tables.count(version)) {
                auto loaded = load_table_directory(wmo + std::to_string(version));
                tables[version] = loaded ? std::make_unique<TableSet>(std::move(loaded).value()) : nullptr;
            }
            if (!tables[version]) continue;
            if (!decode_section4(*message, *tables[version], message->section4_data(bytes))) continue;
            jobs.push_back({std::vector<std::uint8_t>(bytes.data, bytes.data + bytes.size), std::move(*message),
                            tables[version].get()});
        }
    }

    double best = 1e300;
    std::size_t values = 0;
    for (int round = 0; round < 5; ++round) {
        values = 0;
        const auto start = std::chrono::steady_clock::now();
        for (const Job& job : jobs) {
            const ByteView bytes{job.bytes.data(), job.bytes.size()};
            auto decoded = decode_section4(job.message, *job.tables, job.message.section4_data(bytes));
            values += decoded->size();
        }
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (took.count() < best) best = took.count();
    }
    std::printf("%zu messages, %zu values: %.0f messages/s, %.2f M values/s\n", jobs.size(), values,
                static_cast<double>(jobs.size()) / best, static_cast<double>(values) / best / 1e6);
    return 0;
}
