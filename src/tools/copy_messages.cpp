#include "tools/copy_messages.hpp"

#include "tools/file_messages.hpp"

namespace skyrec {
namespace {

constexpr const char* kNoMessages = "no BUFR messages found";

std::string plural(std::size_t n, const char* word) { return std::to_string(n) + " " + word + (n == 1 ? "" : "s"); }

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
        const FileScan scan = each_file_message(path, [&](const FileMessage& message) {
            ++counts.read;
            if (!message.found.framed) {
                ++counts.failed;
                fail(path + ": message " + std::to_string(message.index) + " at offset " +
                     std::to_string(message.offset) + ": " + message.found.framed.error().reason());
                return true;
            }
            const BufrMessage& m = message.found.framed.value();
            if (!plan.where.keep(m)) {
                ++counts.skipped;
                return true;
            }
            outcome.output = outputs.write(plan.output.name(m), message.bytes);
            counts.written += outcome.output ? 0 : 1;
            return !outcome.output;
        });
        outcome.interrupted = scan.interrupted;
        if (scan.stopped || scan.interrupted) return outcome;
        if (scan.failure) {
            fail(path + ": " + *scan.failure);
        } else if (scan.messages == 0) {
            fail(path + ": " + kNoMessages);
        }
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
