#include "tools/copy_messages.hpp"

#include <cerrno>
#include <cstring>

#include "base/file.hpp"
#include "message/message_cursor.hpp"

namespace skyrec {
namespace {

constexpr const char* kNoMessages = "no BUFR messages found";

std::string plural(std::size_t n, const char* word) { return std::to_string(n) + " " + word + (n == 1 ? "" : "s"); }

// The bytes of the file at `path`, or the system's text of why not.
std::optional<std::vector<std::uint8_t>> file_bytes(const std::string& path, std::string& why) {
    auto fd = open_for_reading(path);
    if (fd) {
        auto bytes = read_to_end(*fd);
        if (bytes) return std::move(bytes).value();
    }
    why = std::strerror(errno);  // what open or read left, without the core's "(os error N)"
    return std::nullopt;
}

}  // namespace

std::optional<CopyPlan> CopyPlan::of(const std::vector<std::string_view>& conditions, std::string_view output) {
    if (output.empty() || output.back() == '/') return std::nullopt;
    auto where = HeaderConditions::parse(conditions);
    auto pattern = NamePattern::parse(output);
    if (!where || !pattern) return std::nullopt;
    return CopyPlan{std::move(*where), std::move(*pattern)};
}

CopyOutcome copy_messages(const CopyPlan& plan, const std::vector<std::string>& paths,
                          const std::function<void(const std::string&)>& report) {
    CopyOutcome outcome;
    CopyCounts& counts = outcome.counts;
    AtomicOutputs outputs;
    const auto fail = [&](const std::string& text) {
        ++outcome.failures;
        report(text);
    };
    for (const std::string& path : paths) {
        std::string why;
        const auto bytes = file_bytes(path, why);
        if (!bytes) {
            fail(path + ": " + why);
            continue;
        }
        const ByteView buffer{bytes->data(), bytes->size()};
        MessageCursor cursor(buffer);
        std::size_t index = 0;
        while (auto found = cursor.next()) {
            ++counts.read;
            const std::size_t at = index++;
            if (!found->framed) {
                ++counts.failed;
                fail(path + ": message " + std::to_string(at) + " at offset " + std::to_string(found->start) + ": " +
                     found->framed.error().reason());
                continue;
            }
            const BufrMessage& m = found->framed.value();
            if (!plan.where.keep(m)) {
                ++counts.skipped;
                continue;
            }
            if (auto failed = outputs.write(plan.output.name(m), buffer.subview(found->start, m.total_length))) {
                outcome.output = std::move(failed);
                return outcome;
            }
            ++counts.written;
        }
        if (index == 0) fail(path + ": " + kNoMessages);
    }
    counts.files = outputs.made();
    outcome.output = outputs.commit();
    return outcome;
}

std::string copy_summary(const CopyCounts& counts) {
    return "copy: " + plural(counts.read, "message") + " read, " + std::to_string(counts.written) + " written to " +
           plural(counts.files, "file") + ", " + std::to_string(counts.skipped) + " skipped, " +
           std::to_string(counts.failed) + " failed";
}

}  // namespace skyrec
