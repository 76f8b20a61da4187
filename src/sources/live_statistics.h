// SPDX-License-Identifier: MIT
#pragma once

// What a live input's real-time side counts, written from its callback or capture loop and read
// from anywhere: lock-free atomics only. The callback's own time per period goes into a
// histogram of whole microseconds, from which the median and the worst are read.

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>

namespace vantel::source {

class LiveStatistics {
public:
    // An input whose periods stop for this long (a stopped server, a device that hangs) is
    // lost until they come again.
    static constexpr std::int64_t kStallNs = 500'000'000;

    // Real-time safe. `callback_ns` is the period's own work; `ended_ns` (monotonic_ns()) when
    // it ended.
    void count_period(std::int64_t callback_ns, std::int64_t ended_ns) noexcept;
    void count_xrun() noexcept { xruns_.fetch_add(1, std::memory_order_relaxed); }
    void count_overrun(std::uint64_t frames) noexcept {
        overrun_frames_.fetch_add(frames, std::memory_order_relaxed);
    }

    std::uint64_t periods() const { return periods_.load(std::memory_order_relaxed); }
    std::uint64_t xruns() const { return xruns_.load(std::memory_order_relaxed); }
    std::uint64_t overrun_frames() const { return overrun_frames_.load(std::memory_order_relaxed); }
    // Whether a period ended within kStallNs before `now_ns`: false before the first.
    bool periods_coming(std::int64_t now_ns) const {
        const std::int64_t last = last_period_ns_.load(std::memory_order_relaxed);
        return last != 0 && now_ns - last < kStallNs;
    }
    // The callback's time per period, in microseconds: nothing before the first period.
    std::optional<double> median_callback_us() const;
    std::optional<double> worst_callback_us() const;
    void reset() noexcept;

private:
    // Up to 10 ms in 1 us steps; anything longer lands in the last bucket, and `worst_ns_` keeps
    // its true length.
    static constexpr std::size_t kBuckets = 10000;
    std::array<std::atomic<std::uint32_t>, kBuckets> histogram_{};
    std::atomic<std::uint64_t> periods_{0};
    std::atomic<std::int64_t> worst_ns_{0};
    std::atomic<std::uint64_t> xruns_{0};
    std::atomic<std::uint64_t> overrun_frames_{0};
    std::atomic<std::int64_t> last_period_ns_{0};
};

// CLOCK_MONOTONIC in nanoseconds: a vDSO read, safe in a real-time callback.
std::int64_t monotonic_ns() noexcept;

}  // namespace vantel::source
