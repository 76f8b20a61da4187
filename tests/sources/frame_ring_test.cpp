// SPDX-License-Identifier: MIT
// A live input's history ring: windows by absolute frame, silence outside what it holds, and
// never a sample of the wrong frame while the writer runs on another thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "sources/frame_ring.h"

namespace vantel::source {
namespace {

// Frame f carries 1 + f mod 2^20, exact in a float and never zero, so silence and a sample of
// the wrong frame are both recognisable.
float mark(std::int64_t frame) {
    return static_cast<float>(1 + (frame & 0xfffff));
}

void write_marks(FrameRing& ring, std::int64_t first, std::size_t frames) {
    std::vector<float> a(frames), b(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        a[i] = mark(first + static_cast<std::int64_t>(i));
        b[i] = -a[i];
    }
    ring.write(a, b);
}

TEST(FrameRing, ReadsWhatItHoldsAndSilenceBeyond) {
    FrameRing ring(1000);
    ASSERT_EQ(ring.capacity_frames(), 1024);
    for (int period = 0; period < 5; ++period)
        write_marks(ring, period * 256, 256);  // 1280 frames: the first 256 are gone
    EXPECT_EQ(ring.frames_written(), 1280);
    std::vector<double> out(1100);
    ring.read(1, 200, out);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const std::int64_t frame = 200 + static_cast<std::int64_t>(i);
        const double expected = frame < 256 || frame >= 1280 ? 0.0 : -mark(frame);
        ASSERT_EQ(out[i], expected) << "frame " << frame;
    }
}

TEST(FrameRing, ReaderNeverSeesAnotherFramesSampleWhileTheWriterRuns) {
    FrameRing ring(4096);
    std::atomic<bool> stop = false;
    std::thread writer([&] {
        std::int64_t frame = 0;
        while (!stop.load()) {
            write_marks(ring, frame, 64);
            frame += 64;
        }
    });
    // A loaded machine may run the writer late or in bursts: start once it has filled the ring,
    // and read until samples have been seen, not for a fixed count.
    while (ring.frames_written() < 4096)
        std::this_thread::yield();
    std::vector<double> out(4096);
    std::int64_t checked = 0;
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (int read = 0; read < 2000 || (checked == 0 && std::chrono::steady_clock::now() < give_up);
         ++read) {
        // The oldest window the ring claims to hold, where overwriting happens, and every other
        // time a newer one, which the writer has not reached yet.
        const std::int64_t first = ring.frames_written() - (read % 2 ? 4096 : 2048);
        ring.read(0, first, out);
        for (std::size_t i = 0; i < out.size(); ++i) {
            if (out[i] != 0.0) {
                ASSERT_EQ(out[i], mark(first + static_cast<std::int64_t>(i)));
                ++checked;
            }
        }
    }
    stop = true;
    writer.join();
    EXPECT_GT(checked, 0);
}

}  // namespace
}  // namespace vantel::source
