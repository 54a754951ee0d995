#include "sinks/block_layout.hpp"

#include <cstring>
#include <functional>
#include <utility>

#include "sinks/two_way_runner.hpp"

namespace skyrec {
namespace {

// Rewrites the 32-bit codes of rows [begin, end) as items of `To`, front to
// back in place: item i is written over bytes that items before it held (or
// its own), so it is read first.
template <class To>
void narrow_codes(GrowingArray<std::int32_t>& codes, std::size_t begin, std::size_t end) noexcept {
    if constexpr (sizeof(To) != sizeof(std::int32_t)) {
        auto* bytes = reinterpret_cast<unsigned char*>(codes.data());
        for (std::size_t i = begin; i < end; ++i) {
            const auto code = static_cast<To>(codes[i]);
            std::memcpy(bytes + i * sizeof(To), &code, sizeof(To));
        }
    }
}

// A run's codes of one column: `line` gets one per column, `patches` those of
// the described columns, subset after subset (nullptr when there are none).
const std::vector<std::int32_t>* run_codes(const CompressedRun& run, CodeColumn which,
                                           std::vector<std::int32_t>& line) {
    line.assign(run.width(), kNoCategory);
    switch (which) {
        case CodeColumn::file:
            line.assign(run.width(), run.tag.file);
            return nullptr;
        case CodeColumn::name:
            line = run.name;
            return nullptr;
        case CodeColumn::unit:
            line = run.unit;
            return nullptr;
        case CodeColumn::key:
            line = run.key;
            return nullptr;
        case CodeColumn::text:
            return &run.text;
        case CodeColumn::meaning:
            return &run.meaning;
    }
    return nullptr;
}

// One code column at items of `To`: the runs' rows written whole, the rows
// between them narrowed in place. Both go front to back, so no row is
// written over before it is read.
template <class To>
void lay_out_codes(GrowingArray<std::int32_t>& codes, std::size_t count, const std::vector<CompressedRun>& runs,
                   CodeColumn which) {
    auto* bytes = reinterpret_cast<unsigned char*>(codes.data());
    std::vector<std::int32_t> line;
    std::vector<To> narrow;
    std::size_t row = 0;
    for (const CompressedRun& run : runs) {
        narrow_codes<To>(codes, row, run.first);
        const std::vector<std::int32_t>* patches = run_codes(run, which, line);
        narrow.assign(line.begin(), line.end());
        const std::size_t width = run.width();
        const std::size_t described = run.described.size();
        row = run.first;
        for (std::size_t j = 0; j < run.subsets; ++j, row += width) {
            if (patches != nullptr) {
                for (std::size_t d = 0; d < described; ++d)
                    narrow[run.described[d]] = static_cast<To>((*patches)[j * described + d]);
            }
            std::memcpy(bytes + row * sizeof(To), narrow.data(), width * sizeof(To));
        }
    }
    narrow_codes<To>(codes, row, count);
}

}  // namespace

void lay_out_column(GrowingArray<std::int32_t>& codes, std::size_t count, const std::vector<CompressedRun>& runs,
                    CodeColumn which, std::size_t width) {
    if (width == 1) return lay_out_codes<std::int8_t>(codes, count, runs, which);
    if (width == 2) return lay_out_codes<std::int16_t>(codes, count, runs, which);
    lay_out_codes<std::int32_t>(codes, count, runs, which);
}

namespace {

// Rows from which laying out a block is worth a second thread.
constexpr std::size_t kRowsForTwoThreads = std::size_t{1} << 20;

}  // namespace

std::size_t BlockColumns::code_width(std::size_t categories) const noexcept {
    if (!narrowed) return sizeof(std::int32_t);
    return categories < 127 ? 1 : categories < 32767 ? 2 : 4;
}

void BlockColumns::narrow() noexcept {
    if (narrowed) return;
    narrowed = true;
    const auto column = [this](GrowingArray<std::int32_t>& codes, std::size_t categories) {
        lay_out_column(codes, count, {}, CodeColumn::file, code_width(categories));
    };
    if (has(BlockArray::file)) column(file, static_cast<std::size_t>(files));
    if (has(BlockArray::name)) column(name, names.size());
    if (has(BlockArray::unit)) column(unit, units.size());
    if (has(BlockArray::text)) column(text, texts.size());
    if (has(BlockArray::meaning)) column(meaning, meanings.size());
    if (has(BlockArray::key)) column(key, keys.size());
}

void BlockBuilder::lay_out(bool narrowed) {
    BlockColumns& c = columns_;
    c.narrowed = narrowed;
    // One job per array, independent of the others: a large block's go two ways.
    std::vector<ShareJob> jobs;
    const auto job = [&](BlockArray array, std::size_t item_bytes, std::function<void()> run) {
        if (c.has(array)) jobs.push_back({item_bytes * c.count, std::move(run)});
    };
    const auto each_run = [&](auto&& f) {
        return [this, f] {
            for (const CompressedRun& run : runs_)
                f(run);
        };
    };
    // Each of a run's rows repeats the run's line of an array.
    const auto repeat = [](const auto& line, auto& array, const CompressedRun& run) {
        for (std::size_t j = 0, row = run.first; j < run.subsets; ++j, row += run.width())
            std::copy_n(line.data(), run.width(), array.data() + row);
    };
    job(BlockArray::message, sizeof(std::int64_t), each_run([&c](const CompressedRun& run) {
            std::fill_n(c.message.data() + run.first, run.subsets * run.width(), run.tag.message);
        }));
    job(BlockArray::offset, sizeof(std::int64_t), each_run([&c](const CompressedRun& run) {
            std::fill_n(c.offset.data() + run.first, run.subsets * run.width(), run.tag.offset);
        }));
    job(BlockArray::descriptor, sizeof(DescriptorCode),
        each_run([&](const CompressedRun& run) { repeat(run.descriptor, c.descriptor, run); }));
    job(BlockArray::rank, sizeof(std::uint32_t),
        each_run([&](const CompressedRun& run) { repeat(run.rank, c.rank, run); }));
    job(BlockArray::raw_present, 1,
        each_run([&](const CompressedRun& run) { repeat(run.raw_present, c.raw_present, run); }));
    job(BlockArray::subset, sizeof(std::uint32_t), each_run([&c](const CompressedRun& run) {
            for (std::size_t j = 0, row = run.first; j < run.subsets; ++j, row += run.width())
                std::fill_n(c.subset.data() + row, run.width(), static_cast<std::uint32_t>(j));
        }));
    const auto column = [&](BlockArray array, GrowingArray<std::int32_t>& codes, CodeColumn which,
                            std::size_t categories) {
        const std::size_t width = c.code_width(categories);
        job(array, width, [&c, &codes, which, width, this] { lay_out_column(codes, c.count, runs_, which, width); });
    };
    column(BlockArray::file, c.file, CodeColumn::file, static_cast<std::size_t>(c.files));
    column(BlockArray::name, c.name, CodeColumn::name, c.names.size());
    column(BlockArray::unit, c.unit, CodeColumn::unit, c.units.size());
    column(BlockArray::text, c.text, CodeColumn::text, c.texts.size());
    column(BlockArray::meaning, c.meaning, CodeColumn::meaning, c.meanings.size());
    column(BlockArray::key, c.key, CodeColumn::key, c.keys.size());
    run_two_ways(jobs, threads_ >= 2 && c.count >= kRowsForTwoThreads);
    runs_.clear();
}

}  // namespace skyrec
