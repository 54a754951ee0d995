// The values of one message as the records that `skyrec dump` prints: aligned
// text lines, JSON lines or CSV rows, written straight from the decoder into
// one byte buffer, with no object per value.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/bytes.hpp"
#include "base/result.hpp"
#include "dump/python_text.hpp"
#include "message/message.hpp"
#include "tables/table_set.hpp"

namespace skyrec {

enum class RecordFormat : std::uint8_t { Text, Jsonl, Csv };

struct RecordOptions {
    RecordFormat format = RecordFormat::Text;
    // JSON lines and CSV: what every record of the message starts with, the
    // fields before "subset" and their separators, already written. Text:
    // the heading of the message's lines.
    std::string prefix;
    CsvQuoted csv_quoted{};
    // Only these subsets (inclusive ranges, from 0), when any are given.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> subsets;
    // Only values of these keys, when any are given: a key with rank 0
    // stands for all its values, else for its value of that rank.
    std::vector<std::pair<std::string, std::uint32_t>> keys;
    // Takes the records written so far whenever they pass flush_bytes, with
    // the share of the message's subsets done (0 to 1), and returns false
    // when they cannot be written: that stops the writing, with an error the
    // caller can ignore (it knows why). Without it every record stays in `out`.
    // Only records of a message that decoded are flushed (compressed data is
    // read whole before its records are made; uncompressed data is flushed at
    // the end), and text only once its layout is known.
    std::function<bool(std::string_view, double)> flush;
    std::size_t flush_bytes = std::size_t{1} << 20;
};

// Text: per subset a line "  subset J", then one line per value of six
// columns (descriptor, name, value, unit, meaning, #rank#key) laid out alike
// for the whole message. JSON lines and CSV: one record per value with the
// fields subset, position, descriptor, name, unit, value, raw, text, meaning,
// key and rank after the prefix. Ranks count every value of the subset,
// chosen or not. Appended to `out`; on failure `out` may
// hold part of the message.
Status write_value_records(const BufrMessage& message, const TableSet& tables, ByteView section4,
                           const RecordOptions& options, std::string& out);

}  // namespace skyrec
