// SPDX-License-Identifier: MIT
#pragma once

// A live input's history (JACK, ALSA): the real-time callback appends each period's frames,
// and the measuring side reads any window of the last `capacity_frames` by absolute frame
// index, as SampleSource::read asks. One writer and one reader, no locks, and nothing the
// writer does allocates, blocks or logs.
//
// The reader cannot stop the writer, so it checks afterwards: the writer announces how far it
// is about to write before it overwrites old frames (a sequence lock's first count), and the
// reader, after copying, treats every frame that announcement may have reached as overwritten
// and returns silence for it rather than a mix of old and new samples.

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>

namespace vantel::source {

// The history a live input keeps: two seconds, twice what a reading may ask for.
inline constexpr double kLiveHistory_s = 2.0;

class FrameRing {
public:
    // Rounds the capacity up to a power of two. Allocates here, never afterwards.
    explicit FrameRing(std::int64_t capacity_frames);

    std::int64_t capacity_frames() const { return mask_ + 1; }

    // Writer side, safe in a real-time callback: appends the same number of frames to both
    // channels (a mono input passes the same span twice).
    void write(std::span<const float> a, std::span<const float> b) noexcept;

    // Frames written so far; the next frame written gets this index.
    std::int64_t frames_written() const noexcept {
        return written_.load(std::memory_order_acquire);
    }

    // Reader side: frames older than the ring holds, or not written yet, read as silence.
    void read(int channel, std::int64_t first_frame, std::span<double> out) const;

private:
    std::int64_t mask_;
    std::unique_ptr<std::atomic<float>[]> samples_[2];
    std::atomic<std::int64_t> writing_{0};  // how far the writer may have overwritten
    std::atomic<std::int64_t> written_{0};  // how far it has finished writing
};

}  // namespace vantel::source
