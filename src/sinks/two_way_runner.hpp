// Independent jobs run on two threads when there is enough work for two.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

namespace skyrec {

struct ShareJob {
    std::size_t bytes;  // written, to share the jobs evenly
    std::function<void()> run;
};

// Runs the jobs, split in two shares of about equal bytes when `two` (one
// on a thread of its own), and only then returns.
void run_two_ways(std::vector<ShareJob>& jobs, bool two);

}  // namespace skyrec
