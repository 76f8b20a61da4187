// SPDX-License-Identifier: MIT
// Real-time code: FrameRing::write runs in an audio callback. Nothing here may lock, allocate,
// log or wait.
#include "sources/frame_ring.h"

#include <algorithm>
#include <bit>
#include <stdexcept>

#include "sources/sample_source.h"

namespace vantel::source {

FrameRing::FrameRing(std::int64_t capacity_frames) {
    if (capacity_frames <= 0)
        throw std::invalid_argument("a frame ring needs room for at least one frame");
    mask_ =
        static_cast<std::int64_t>(std::bit_ceil(static_cast<std::uint64_t>(capacity_frames))) - 1;
    for (auto& channel : samples_) {
        channel = std::make_unique<std::atomic<float>[]>(static_cast<std::size_t>(mask_ + 1));
        for (std::int64_t i = 0; i <= mask_; ++i)
            channel[static_cast<std::size_t>(i)].store(0.0f, std::memory_order_relaxed);
    }
    static_assert(std::atomic<float>::is_always_lock_free);
}

void FrameRing::write(std::span<const float> a, std::span<const float> b) noexcept {
    const auto frames = static_cast<std::int64_t>(std::min(a.size(), b.size()));
    const std::int64_t start = written_.load(std::memory_order_relaxed);
    writing_.store(start + frames, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    for (std::int64_t i = 0; i < frames; ++i) {
        const auto slot = static_cast<std::size_t>((start + i) & mask_);
        samples_[0][slot].store(a[static_cast<std::size_t>(i)], std::memory_order_relaxed);
        samples_[1][slot].store(b[static_cast<std::size_t>(i)], std::memory_order_relaxed);
    }
    written_.store(start + frames, std::memory_order_release);
}

void FrameRing::read(int channel, std::int64_t first_frame, std::span<double> out) const {
    check_channel(channel);
    const auto size = static_cast<std::int64_t>(out.size());
    const std::int64_t written = written_.load(std::memory_order_acquire);
    const std::int64_t oldest = std::max<std::int64_t>(0, written - capacity_frames());
    const std::atomic<float>* samples = samples_[channel].get();
    for (std::int64_t i = 0; i < size; ++i) {
        const std::int64_t frame = first_frame + i;
        out[static_cast<std::size_t>(i)] =
            frame >= oldest && frame < written
                ? samples[static_cast<std::size_t>(frame & mask_)].load(std::memory_order_relaxed)
                : 0.0;
    }
    // Whatever the writer may have overwritten while we copied is silence, not a mix.
    std::atomic_thread_fence(std::memory_order_acquire);
    const std::int64_t overwritten_below =
        writing_.load(std::memory_order_relaxed) - capacity_frames();
    const std::int64_t stale = std::clamp<std::int64_t>(overwritten_below - first_frame, 0, size);
    std::fill(out.begin(), out.begin() + stale, 0.0);
}

}  // namespace vantel::source
