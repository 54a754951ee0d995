// Core decoding speed, without Python: every message of the given files (of
// edition 2, 3 or 4) is decoded into its records with the ecCodes master table
// version it names, once untimed and then RUNS times. Prints one JSON line:
// the messages and values decoded, each run's seconds and the peak resident
// memory.
//
//   build/rel/decode_core DEFINITIONS_ROOT RUNS FILE...
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/file.hpp"
#include "decode/decode_section4.hpp"
#include "message/scan.hpp"
#include "tables/eccodes_tables.hpp"

using namespace skyrec;

namespace {

struct Job {
    std::vector<std::uint8_t> bytes;
    BufrMessage message;
    const TableSet* tables;
};

std::size_t decode_all(const std::vector<Job>& jobs) {
    std::size_t values = 0;
    for (const Job& job : jobs) {
        const ByteView bytes{job.bytes.data(), job.bytes.size()};
        auto decoded = decode_section4(job.message, *job.tables, job.message.section4_data(bytes));
        if (decoded) values += decoded->size();
    }
    return values;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s DEFINITIONS_ROOT RUNS FILE...\n", argv[0]);
        return 2;
    }
    const std::string wmo = std::string(argv[1]) + "/bufr/tables/0/wmo/";
    const int runs = std::atoi(argv[2]);
    std::map<int, std::unique_ptr<TableSet>> tables;
    std::vector<Job> jobs;
    for (int a = 3; a < argc; ++a) {
        auto file = read_file_bytes(argv[a]);
        if (!file) continue;
        const ByteView buffer{file->data(), file->size()};
        auto slices = scan_messages(buffer);
        if (!slices) continue;
        for (const MessageSlice& slice : *slices) {
            const ByteView bytes = slice.in(buffer);
            auto message = frame_any_edition(bytes);
            if (!message) continue;
            const int version = message->master_tables_version_number;
            if (!tables.count(version)) {
                auto loaded = load_table_directory(wmo + std::to_string(version));
                tables[version] = loaded ? std::make_unique<TableSet>(std::move(loaded).value()) : nullptr;
            }
            if (!tables[version]) continue;
            jobs.push_back({std::vector<std::uint8_t>(bytes.data, bytes.data + bytes.size), std::move(*message),
                            tables[version].get()});
        }
    }

    const std::size_t values = decode_all(jobs);
    std::string times;
    for (int round = 0; round < runs; ++round) {
        const auto start = std::chrono::steady_clock::now();
        decode_all(jobs);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (round != 0) times += ", ";
        times += std::to_string(took.count());
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("{\"decoder\": \"core\", \"messages\": %zu, \"values\": %zu, \"times\": [%s], \"peak_kb\": %ld}\n",
                jobs.size(), values, times.c_str(), usage.ru_maxrss);
    return 0;
}
