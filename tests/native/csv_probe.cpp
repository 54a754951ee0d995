// Reads a file with the CSV record reader and prints what it returns, so that
// tests can reach dialects that no Python entry reads yet. Output, one line
// each: "R" and every field in hex, tab-separated; then "END", or "E" and the
// error message.
#include <cstdio>
#include <string>
#include <string_view>

#include "tables/csv_reader.hpp"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: csv_probe wmo|element FILE\n");
        return 2;
    }
    const auto dialect =
        std::string_view(argv[1]) == "wmo" ? skyrec::CsvDialect::Wmo : skyrec::CsvDialect::ElementTable;
    auto reader = skyrec::CsvTableReader::open(argv[2], dialect);
    if (!reader) {
        std::printf("E\t%s\n", reader.error().message().c_str());
        return 0;
    }
    skyrec::CsvRecord record;
    for (;;) {
        auto more = reader->next(record);
        if (!more) {
            std::printf("E\t%s\n", more.error().message().c_str());
            return 0;
        }
        if (!*more) break;
        std::printf("R");
        for (std::size_t i = 0; i < record.field_count(); ++i) {
            std::printf("\t");
            for (unsigned char c : record.field(i))
                std::printf("%02x", c);
        }
        std::printf("\n");
    }
    std::printf("END\n");
    return 0;
}
