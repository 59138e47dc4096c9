#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <thread>
#include <vector>

namespace fernhollow {

// How many threads to use for `work` units when one thread should get at least
// `workPerThread` of them: never more than the cores, never fewer than one.
inline std::size_t threadsFor(std::size_t work, std::size_t workPerThread) {
    return std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 1 + work / workPerThread);
}

// Calls body(context, i) for every i in [0, count), spread over up to `threads` threads
// (the caller's among them). Each thread owns one default-constructed Context for all the
// indices it takes, so costly scratch state (a parser and its buffers) is built once per
// thread rather than once per index.
template <typename Context, typename Body>
void parallelFor(std::size_t count, std::size_t threads, const Body& body) {
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        Context context;
        for (std::size_t i = next++; i < count; i = next++) {
            body(context, i);
        }
    };
    std::vector<std::jthread> helpers;
    for (std::size_t i = 1; i < std::min(threads, count); ++i) {
        helpers.emplace_back(work);
    }
    work();
}

} // namespace fernhollow
