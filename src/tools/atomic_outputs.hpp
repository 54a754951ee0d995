// The files of one run, whole or not at all: each is written to a temporary
// file beside it (".NAME.PID.N.part"), and all are renamed into place when
// the run ends well; on any error what was begun is removed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/bytes.hpp"

namespace skyrec {

// Why an output failed: "PATH: the system's text".
struct OutputFailure {
    std::string text;
};

class AtomicOutputs {
public:
    AtomicOutputs() = default;
    AtomicOutputs(const AtomicOutputs&) = delete;
    AtomicOutputs& operator=(const AtomicOutputs&) = delete;
    ~AtomicOutputs() { discard(); }

    // Appends `bytes` to the file `path`, begun at its first write.
    std::optional<OutputFailure> write(const std::string& path, ByteView bytes);
    // Every file closed, then renamed into place; on failure the files not
    // yet in place are removed.
    std::optional<OutputFailure> commit();
    void discard() noexcept;

    std::size_t made() const noexcept { return made_; }

private:
    struct Open {
        std::string path, temporary;
        int fd = -1;
    };
    std::vector<Open> files_;
    std::size_t last_ = 0;  // the file written last: most runs write one
    std::size_t made_ = 0;
};

}  // namespace skyrec
