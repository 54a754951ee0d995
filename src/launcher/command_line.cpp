#include "launcher/command_line.hpp"

namespace skyrec::launcher {
namespace {

bool is_option(std::string_view arg) { return arg.size() > 1 && arg[0] == '-'; }

}  // namespace

std::optional<CopyLine> read_copy(const std::vector<std::string_view>& args) {
    CopyLine line;
    bool has_output = false;
    bool files_ended = false;  // argparse takes the files as one run of words: a second run is an error
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (!is_option(arg)) {
            if (arg == "-" || (files_ended && !line.files.empty())) return std::nullopt;  // standard input
            line.files.emplace_back(arg);
            continue;
        }
        if (!line.files.empty()) files_ended = true;
        if (arg == "--no-progress") {
            line.no_progress = true;
            continue;
        }
        std::string_view name = arg;
        std::optional<std::string_view> value;
        if (const std::size_t equals = arg.find('='); arg.starts_with("--") && equals != std::string_view::npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
        }
        const bool output = name == "-o" || (name == "--output" && arg.starts_with("--"));
        if (!output && name != "--where") return std::nullopt;
        if (!value) {
            if (i + 1 == args.size() || args[i + 1].starts_with("-")) return std::nullopt;
            value = args[++i];
        }
        if (output) {
            line.output = *value;
            has_output = true;
        } else {
            line.conditions.emplace_back(*value);
        }
    }
    if (!has_output || line.files.empty()) return std::nullopt;
    return line;
}

std::optional<CompareLine> read_compare(const std::vector<std::string_view>& args) {
    if (args.size() != 2 || args[0].starts_with("-") || args[1].starts_with("-")) return std::nullopt;
    return CompareLine{std::string(args[0]), std::string(args[1])};
}

}  // namespace skyrec::launcher
