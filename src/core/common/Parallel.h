#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>
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

// As parallelFor, where body(context, i) gives a result and take(i, result) receives each on the
// calling thread, in index order: that thread hands over what is ready before each body it runs,
// so what is taken is dealt with while the other threads go on, and waits only for the last ones.
template <typename Context, typename Body, typename Take>
void parallelForInOrder(std::size_t count, std::size_t threads, const Body& body, const Take& take) {
    using Result = std::invoke_result_t<const Body&, Context&, std::size_t>;
    std::vector<std::optional<Result>> results(count);
    std::mutex guard;
    std::condition_variable finished;
    std::atomic<std::size_t> next{0};
    const auto work = [&](Context& context) {
        for (std::size_t i = next++; i < count; i = next++) {
            Result result = body(context, i);
            {
                const std::lock_guard lock(guard);
                results[i].emplace(std::move(result));
            }
            finished.notify_one();
        }
    };
    std::size_t taken = 0;
    const auto takeReady = [&](bool wait) {
        while (taken < count) {
            std::unique_lock lock(guard);
            if (wait) {
                finished.wait(lock, [&] { return results[taken].has_value(); });
            } else if (!results[taken]) {
                return;
            }
            Result result = std::move(*results[taken]);
            results[taken].reset();
            lock.unlock();
            take(taken, std::move(result));
            ++taken;
        }
    };
    std::vector<std::jthread> helpers;
    // A `take` that throws leaves the helpers to finish what they hold, not the rest.
    struct StopHelpers {
        std::atomic<std::size_t>& next;
        std::size_t count;
        ~StopHelpers() { next = count; }
    } stop{next, count};
    for (std::size_t i = 1; i < std::min(threads, count); ++i) {
        helpers.emplace_back([&] {
            Context context;
            work(context);
        });
    }
    Context context;
    for (std::size_t i = next++; i < count; i = next++) {
        results[i].emplace(body(context, i));
        takeReady(false);
    }
    takeReady(true);
}

} // namespace fernhollow
