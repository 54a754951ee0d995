#include "sinks/two_way_runner.hpp"

#include <algorithm>
#include <exception>
#include <system_error>
#include <thread>

namespace skyrec {

void run_two_ways(std::vector<ShareJob>& jobs, bool two) {
    if (!two || jobs.size() < 2) {
        for (ShareJob& j : jobs)
            j.run();
        return;
    }
    std::sort(jobs.begin(), jobs.end(), [](const ShareJob& a, const ShareJob& b) { return a.bytes > b.bytes; });
    std::vector<ShareJob*> shares[2];
    std::size_t filled[2] = {0, 0};
    for (ShareJob& j : jobs) {
        const int to = filled[0] <= filled[1] ? 0 : 1;
        shares[to].push_back(&j);
        filled[to] += j.bytes;
    }
    std::exception_ptr failed;
    const auto share = [&shares](int which) {
        for (ShareJob* j : shares[which])
            j->run();
    };
    std::thread helper;
    try {
        helper = std::thread([&] {
            try {
                share(1);
            } catch (...) {
                failed = std::current_exception();
            }
        });
    } catch (const std::system_error&) {
        share(1);  // no thread to be had: this one does both
    }
    try {
        share(0);
    } catch (...) {
        if (helper.joinable()) helper.join();
        throw;
    }
    if (helper.joinable()) helper.join();
    if (failed) std::rethrow_exception(failed);
}

}  // namespace skyrec
