// SPDX-License-Identifier: MIT
// Real-time code: count_period runs in the audio callback. No locks, no allocation, no logging.
#include "sources/live_statistics.h"

#include <time.h>

#include <algorithm>

namespace vantel::source {

std::int64_t monotonic_ns() noexcept {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

void LiveStatistics::count_period(std::int64_t callback_ns, std::int64_t ended_ns) noexcept {
    last_period_ns_.store(ended_ns, std::memory_order_relaxed);
    const auto bucket =
        static_cast<std::size_t>(std::clamp<std::int64_t>(callback_ns / 1000, 0, kBuckets - 1));
    histogram_[bucket].fetch_add(1, std::memory_order_relaxed);
    periods_.fetch_add(1, std::memory_order_relaxed);
    std::int64_t worst = worst_ns_.load(std::memory_order_relaxed);
    while (callback_ns > worst &&
           !worst_ns_.compare_exchange_weak(worst, callback_ns, std::memory_order_relaxed)) {
    }
}

std::optional<double> LiveStatistics::median_callback_us() const {
    const std::uint64_t total = periods();
    if (total == 0)
        return std::nullopt;
    std::uint64_t seen = 0;
    for (std::size_t i = 0; i < kBuckets; ++i) {
        seen += histogram_[i].load(std::memory_order_relaxed);
        if (2 * seen >= total)
            return static_cast<double>(i) + 0.5;  // the middle of the microsecond
    }
    return static_cast<double>(kBuckets);
}

std::optional<double> LiveStatistics::worst_callback_us() const {
    if (periods() == 0)
        return std::nullopt;
    return static_cast<double>(worst_ns_.load(std::memory_order_relaxed)) / 1000.0;
}

void LiveStatistics::reset() noexcept {
    for (auto& bucket : histogram_)
        bucket.store(0, std::memory_order_relaxed);
    periods_.store(0, std::memory_order_relaxed);
    worst_ns_.store(0, std::memory_order_relaxed);
    xruns_.store(0, std::memory_order_relaxed);
    overrun_frames_.store(0, std::memory_order_relaxed);
    last_period_ns_.store(0, std::memory_order_relaxed);
}

}  // namespace vantel::source
