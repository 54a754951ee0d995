// copy with header-only conditions: the messages of files that the
// conditions keep, written byte for byte into one file or a file per name
// that a pattern gives them, whole or not at all. Nothing past section 3 is
// read. The one implementation of it, for the `skyrec` executable and the
// Python command alike.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/atomic_outputs.hpp"
#include "tools/conditions.hpp"
#include "tools/name_pattern.hpp"

namespace skyrec {

struct CopyPlan {
    HeaderConditions where;
    NamePattern output;

    // The plan of --where `conditions` and -o `output`; nullopt when either
    // asks for more than header keys (the Python command's work then).
    static std::optional<CopyPlan> of(const std::vector<std::string_view>& conditions, std::string_view output);
};

struct CopyCounts {
    std::size_t read = 0, written = 0, skipped = 0, failed = 0, files = 0;
};

struct CopyOutcome {
    CopyCounts counts;
    std::size_t failures = 0;             // lines reported: failed messages and files that could not be read
    std::optional<OutputFailure> output;  // an output that could not be written: nothing is left of any
    bool interrupted = false;             // the host asked to stop: nothing is left of any output
};

// Runs `plan` over `paths` in order. Each failure is given to `report` as it
// happens ("PATH: ..."), and the run goes on; an output that cannot be
// written ends it, and so does an interrupt (base/interrupt.hpp).
CopyOutcome copy_messages(const CopyPlan& plan, const std::vector<std::string>& paths,
                          const std::function<void(const std::string&)>& report);

// "copy: N messages read, W written to F files, S skipped, X failed".
std::string copy_summary(const CopyCounts& counts);

}  // namespace skyrec
