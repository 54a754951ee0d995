// skyrec, the command: copy with header-only conditions and compare of
// identical files answered here, at the cost of a small program's start;
// every other command line handed over to the Python command at once.
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "base/interrupt.hpp"
#include "launcher/command_line.hpp"
#include "launcher/handover.hpp"
#include "launcher/same_bytes.hpp"
#include "tools/copy_messages.hpp"

namespace skyrec::launcher {
namespace {

constexpr int kFailed = 1;
constexpr int kOutputFailed = 74;
constexpr int kInterrupted = 130;
constexpr off_t kLargeInput = off_t{1} << 20;  // bytes: the Python command may show a progress bar from here on

// Whether the files are ones read here: regular files, or ones that cannot
// be opened (said as the Python command says it). A pipe or a folder is
// read by the Python command; so is a large input that its progress bar
// would be shown for.
bool read_here(const CopyLine& line) {
    off_t total = 0;
    for (const std::string& path : line.files) {
        struct stat st{};
        if (::stat(path.c_str(), &st) != 0) continue;
        if (!S_ISREG(st.st_mode)) return false;
        total += st.st_size;
    }
    return line.no_progress || total < kLargeInput || !::isatty(2) || ::isatty(1);
}

volatile std::sig_atomic_t interrupt_signal = 0;

// Ctrl-C stops the copy at the next message; the outputs begun are removed
// and the status is 130, as the Python command's.
void note_signal(int signal) { interrupt_signal = signal; }
bool asked_to_stop(void*) noexcept { return interrupt_signal != 0; }

void say(const std::string& text) {
    const std::string line = "skyrec: " + text + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
}

std::optional<int> copy(const std::vector<std::string_view>& args) {
    const auto line = read_copy(args);
    if (!line || !read_here(*line)) return std::nullopt;
    const std::vector<std::string_view> conditions(line->conditions.begin(), line->conditions.end());
    const auto plan = CopyPlan::of(conditions, line->output);
    if (!plan) return std::nullopt;
    if (std::signal(SIGINT, note_signal) == SIG_IGN) std::signal(SIGINT, SIG_IGN);  // ignored, as Python leaves it
    const InterruptScope scope(asked_to_stop, nullptr);
    const CopyOutcome outcome = copy_messages(*plan, line->files, say);
    if (outcome.interrupted) return kInterrupted;
    if (outcome.output) {
        say(outcome.output->text);
        return kOutputFailed;
    }
    say(copy_summary(outcome.counts));
    return outcome.failures > 0 ? kFailed : 0;
}

std::optional<int> compare(const std::vector<std::string_view>& args) {
    const auto line = read_compare(args);
    if (!line || !same_bytes(line->a, line->b)) return std::nullopt;
    return 0;  // alike, without a word: the same files hold the same messages
}

}  // namespace
}  // namespace skyrec::launcher

int main(int argc, char** argv) {
    using namespace skyrec::launcher;
    if (argc >= 2) {
        const std::string_view command = argv[1];
        const std::vector<std::string_view> args(argv + 2, argv + argc);
        std::optional<int> status;
        if (command == "copy") status = copy(args);
        if (command == "compare") status = compare(args);
        if (status) return *status;
    }
    hand_over(argc, argv);
}
