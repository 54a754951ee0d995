// The command lines that the executable answers itself, read as the Python
// command's argparse reads them; anything else (another option, an
// abbreviation, a value that looks like an option) is not read here.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace skyrec::launcher {

// copy FILE... -o OUT [--where COND]... [--no-progress]
struct CopyLine {
    std::vector<std::string> files;
    std::vector<std::string> conditions;
    std::string output;
    bool no_progress = false;
};

// `args` after the command's name.
std::optional<CopyLine> read_copy(const std::vector<std::string_view>& args);

// compare A B, nothing else.
struct CompareLine {
    std::string a, b;
};

std::optional<CompareLine> read_compare(const std::vector<std::string_view>& args);

}  // namespace skyrec::launcher
