// SPDX-License-Identifier: MIT
// The ALSA input, for machines without a sound server: two channels captured from a PCM device,
// and the generator played on the same device's playback side. One thread of its own moves
// the samples; it runs like a real-time callback (no locks, no allocation, no logging in its
// loop) and hands what is worth saying to a supervising step between periods.
#include <alsa/asoundlib.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <numbers>
#include <thread>
#include <vector>

#include "sources/file_source.h"
#include "sources/frame_ring.h"
#include "sources/live_source.h"

namespace vantel::source {

namespace {

// About 21 ms at 48 kHz: short enough for a reading to follow a change within a poll.
constexpr snd_pcm_uframes_t kPeriodFrames = 1024;
constexpr unsigned kPeriods = 4;

struct PcmClose {
    void operator()(snd_pcm_t* pcm) const { snd_pcm_close(pcm); }
};
using Pcm = std::unique_ptr<snd_pcm_t, PcmClose>;

// ALSA's library prints its own complaints on stderr; the messages the user needs are ours.
void quiet(const char*, int, const char*, int, const char*, ...) {}

// The sample formats worth asking for, best first.
constexpr snd_pcm_format_t kFormats[] = {SND_PCM_FORMAT_S32_LE, SND_PCM_FORMAT_S24_LE,
                                         SND_PCM_FORMAT_FLOAT_LE, SND_PCM_FORMAT_S16_LE};

[[noreturn]] void refuse(const std::string& device, const std::string& what, int error) {
    throw SourceError("cannot open ALSA device \"" + device + "\" " + what + ": " +
                      snd_strerror(error));
}

// Sets up `pcm` for two interleaved channels near `rate_hz` in the best format it takes.
snd_pcm_format_t configure(snd_pcm_t* pcm, const std::string& device, const char* side,
                           double& rate_hz) {
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    int e = snd_pcm_hw_params_any(pcm, hw);
    if (e < 0)
        refuse(device, side, e);
    if ((e = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0 ||
        (e = snd_pcm_hw_params_set_channels(pcm, hw, 2)) < 0)
        refuse(device, std::string(side) + " with two channels", e);
    snd_pcm_format_t format = SND_PCM_FORMAT_UNKNOWN;
    for (snd_pcm_format_t f : kFormats) {
        if (snd_pcm_hw_params_test_format(pcm, hw, f) == 0) {
            format = f;
            break;
        }
    }
    if (format == SND_PCM_FORMAT_UNKNOWN || (e = snd_pcm_hw_params_set_format(pcm, hw, format)) < 0)
        refuse(device, std::string(side) + " in a 32-, 24- or 16-bit format", e < 0 ? e : -EINVAL);
    auto rate = static_cast<unsigned>(std::lround(rate_hz));
    if ((e = snd_pcm_hw_params_set_rate_near(pcm, hw, &rate, nullptr)) < 0)
        refuse(device, std::string(side) + " at " + std::to_string(std::lround(rate_hz)) + " Hz",
               e);
    rate_hz = rate;
    snd_pcm_uframes_t period = kPeriodFrames;
    snd_pcm_hw_params_set_period_size_near(pcm, hw, &period, nullptr);
    snd_pcm_uframes_t buffer = kPeriodFrames * kPeriods;
    snd_pcm_hw_params_set_buffer_size_near(pcm, hw, &buffer);
    if ((e = snd_pcm_hw_params(pcm, hw)) < 0)
        refuse(device, side, e);
    return format;
}

// Interleaved samples of `format` into full-scale floats, channel by channel.
void to_float(const std::vector<std::int32_t>& raw, snd_pcm_format_t format, std::size_t frames,
              std::vector<float>& a, std::vector<float>& b) {
    for (std::size_t i = 0; i < frames; ++i) {
        for (std::size_t c = 0; c < 2; ++c) {
            const std::int32_t word = raw[2 * i + c];
            float v = 0.0f;
            switch (format) {
                case SND_PCM_FORMAT_S32_LE:
                    v = static_cast<float>(word * 0x1.0p-31);
                    break;
                case SND_PCM_FORMAT_S24_LE:  // 24 bits in the low three bytes of 32
                    v = static_cast<float>(((word << 8) >> 8) * 0x1.0p-23);
                    break;
                case SND_PCM_FORMAT_FLOAT_LE:
                    std::memcpy(&v, &word, sizeof v);
                    break;
                default: {  // S16_LE, two to a word
                    const auto* halves = reinterpret_cast<const std::int16_t*>(raw.data());
                    v = static_cast<float>(halves[2 * i + c] * 0x1.0p-15);
                    break;
                }
            }
            (c == 0 ? a : b)[i] = v;
        }
    }
}

// Full-scale values into interleaved samples of `format`.
void from_double(std::span<const double> a, std::span<const double> b, snd_pcm_format_t format,
                 std::vector<std::int32_t>& raw) {
    auto* halves = reinterpret_cast<std::int16_t*>(raw.data());
    for (std::size_t i = 0; i < a.size(); ++i) {
        for (std::size_t c = 0; c < 2; ++c) {
            const double v = std::clamp((c == 0 ? a : b)[i], -1.0, 1.0);
            switch (format) {
                case SND_PCM_FORMAT_S32_LE:
                    raw[2 * i + c] = static_cast<std::int32_t>(std::lround(v * 0x1.fffffffp30));
                    break;
                case SND_PCM_FORMAT_S24_LE:
                    raw[2 * i + c] = static_cast<std::int32_t>(std::lround(v * 8388607.0));
                    break;
                case SND_PCM_FORMAT_FLOAT_LE: {
                    const auto f = static_cast<float>(v);
                    std::memcpy(&raw[2 * i + c], &f, sizeof f);
                    break;
                }
                default:
                    halves[2 * i + c] = static_cast<std::int16_t>(std::lround(v * 32767.0));
                    break;
            }
        }
    }
}

class AlsaInput final : public LiveSource {
public:
    AlsaInput(const std::string& device, std::shared_ptr<const Generator> generator,
              LiveOptions options)
        : device_(device), generator_(std::move(generator)), options_(std::move(options)) {
        if (!generator_)
            throw std::invalid_argument("the ALSA input needs a generator to play");
        if (const std::string why = unmeasurable_rate(options_.alsa_rate_hz); !why.empty())
            throw SourceError("cannot open ALSA device \"" + device + "\": the rate asked, " + why);
        snd_lib_error_set_handler(quiet);
        snd_pcm_t* pcm = nullptr;
        if (const int e = snd_pcm_open(&pcm, device.c_str(), SND_PCM_STREAM_CAPTURE, 0); e < 0)
            refuse(device, "for capture", e);
        capture_.reset(pcm);
        rate_hz_ = options_.alsa_rate_hz;
        capture_format_ = configure(capture_.get(), device, "for capture", rate_hz_);
        if (const std::string why = unmeasurable_rate(rate_hz_); !why.empty())
            throw SourceError("cannot open ALSA device \"" + device + "\": its rate " + why);
        ring_ = std::make_unique<FrameRing>(static_cast<std::int64_t>(kLiveHistory_s * rate_hz_));

        // The playback side is welcome, not required: a capture-only device still measures.
        if (snd_pcm_open(&pcm, device.c_str(), SND_PCM_STREAM_PLAYBACK, 0) >= 0) {
            playback_.reset(pcm);
            double rate = rate_hz_;
            try {
                playback_format_ = configure(playback_.get(), device, "for playback", rate);
                if (rate != rate_hz_)
                    throw SourceError("the playback side runs at another rate");
            } catch (const SourceError& e) {
                playback_.reset();
                say(std::string("the generator is not played: ") + e.what());
            }
        } else {
            say("ALSA device \"" + device + "\" has no playback side: the generator is not played");
        }

        // Everything the loop needs, made now.
        raw_in_.assign(2 * kPeriodFrames, 0);
        raw_out_.assign(2 * kPeriodFrames, 0);
        a_.assign(kPeriodFrames, 0.0f);
        b_.assign(kPeriodFrames, 0.0f);
        sine_v_.assign(kPeriodFrames, 0.0);
        silence_.assign(kPeriodFrames, 0.0);
        generator_->render_v(0, rate_hz_, std::span(sine_v_).first(1));
        units_per_v_ = 1.0 / (options_.full_scale_v_rms * std::numbers::sqrt2);
        say("capturing from ALSA device \"" + device + "\" at " +
            std::to_string(std::lround(rate_hz_)) + " Hz in " +
            snd_pcm_format_name(capture_format_));
        thread_ = std::thread([this] { run(); });
    }

    ~AlsaInput() override {
        stopping_.store(true, std::memory_order_release);
        thread_.join();
    }

    double rate_hz() const override { return locked() ? rate_hz_ : 0.0; }
    // A device whose periods have stopped coming is lost until they come again.
    bool locked() const override {
        return !failed_.load(std::memory_order_acquire) &&
               statistics_.periods_coming(monotonic_ns());
    }
    std::int64_t frames_now() override { return ring_->frames_written(); }
    std::int64_t history_frames() const override { return ring_->capacity_frames(); }
    void read(int channel, std::int64_t first_frame, std::span<double> out) override {
        check_channel(channel);
        const std::int64_t oldest = ring_->frames_written() - ring_->capacity_frames();
        if (first_frame < oldest)
            statistics_.count_overrun(static_cast<std::uint64_t>(
                std::min<std::int64_t>(oldest - first_frame, std::ssize(out))));
        ring_->read(channel, first_frame, out);
        report_trouble();
    }
    std::string describe() const override {
        return "ALSA device \"" + device_ + "\" at " + std::to_string(std::lround(rate_hz_)) +
               " Hz";
    }
    const LiveStatistics& statistics() const override { return statistics_; }

private:
    void say(const std::string& line) const {
        if (options_.log)
            options_.log(line);
    }

    // Xruns and overruns, said on the reading side (never from the capture loop), when their
    // counts have moved.
    void report_trouble() {
        const std::uint64_t xruns = statistics_.xruns();
        const std::uint64_t overruns = statistics_.overrun_frames();
        const auto now = std::chrono::steady_clock::now();
        if ((xruns == xruns_told_ && overruns == overruns_told_) ||
            now - told_at_ < std::chrono::seconds(10))
            return;
        told_at_ = now;
        xruns_told_ = xruns;
        overruns_told_ = overruns;
        say("ALSA device \"" + device_ + "\": " + std::to_string(xruns) + " xruns and " +
            std::to_string(overruns) + " frames lost to overruns so far");
    }

    // Moves one period each way. A device without a clock of its own (the "null" plugin)
    // answers at once, so the loop keeps to real time by itself.
    void run() {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point start = Clock::now();
        std::int64_t frames_moved = 0;
        std::int64_t generator_frame = 0;
        // Two periods of silence ahead, so that playback does not run dry while the first
        // capture is awaited.
        if (playback_) {
            const std::span<const double> silence(silence_);
            from_double(silence, silence, playback_format_, raw_out_);
            for (unsigned i = 0; i < 2; ++i)
                snd_pcm_writei(playback_.get(), raw_out_.data(), kPeriodFrames);
        }
        while (!stopping_.load(std::memory_order_acquire)) {
            const snd_pcm_sframes_t got =
                snd_pcm_readi(capture_.get(), raw_in_.data(), kPeriodFrames);
            const std::int64_t began_ns = monotonic_ns();
            if (got < 0) {
                if (got == -EPIPE)
                    statistics_.count_xrun();
                if (snd_pcm_recover(capture_.get(), static_cast<int>(got), 1) < 0) {
                    failed_.store(true, std::memory_order_release);
                    say("ALSA device \"" + device_ +
                        "\" stopped capturing: " + snd_strerror(static_cast<int>(got)));
                    return;
                }
                continue;
            }
            const auto n = static_cast<std::size_t>(got);
            to_float(raw_in_, capture_format_, n, a_, b_);
            ring_->write(std::span(a_).first(n), std::span(b_).first(n));
            if (playback_)
                play(generator_frame, n);
            generator_frame += static_cast<std::int64_t>(n);
            const std::int64_t ended_ns = monotonic_ns();
            statistics_.count_period(ended_ns - began_ns, ended_ns);

            frames_moved += static_cast<std::int64_t>(n);
            const auto due =
                start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                            static_cast<double>(frames_moved) / rate_hz_));
            if (due > Clock::now())
                std::this_thread::sleep_until(due);
        }
    }

    void play(std::int64_t first_frame, std::size_t n) {
        const std::span<double> sine = std::span(sine_v_).first(n);
        generator_->render_v(first_frame, rate_hz_, sine);
        for (double& v : sine)
            v *= units_per_v_;
        const std::span<const double> silence = std::span(silence_).first(n);
        from_double(generator_->output_on(0) ? sine : silence,
                    generator_->output_on(1) ? sine : silence, playback_format_, raw_out_);
        const snd_pcm_sframes_t put = snd_pcm_writei(playback_.get(), raw_out_.data(), n);
        if (put < 0) {
            if (put == -EPIPE)
                statistics_.count_xrun();
            snd_pcm_recover(playback_.get(), static_cast<int>(put), 1);
        }
    }

    std::string device_;
    std::shared_ptr<const Generator> generator_;
    LiveOptions options_;
    LiveStatistics statistics_;
    Pcm capture_, playback_;
    snd_pcm_format_t capture_format_ = SND_PCM_FORMAT_UNKNOWN;
    snd_pcm_format_t playback_format_ = SND_PCM_FORMAT_UNKNOWN;
    double rate_hz_ = 0.0;
    double units_per_v_ = 0.0;
    std::unique_ptr<FrameRing> ring_;
    std::vector<std::int32_t> raw_in_, raw_out_;
    std::vector<float> a_, b_;
    std::vector<double> sine_v_, silence_;
    // The reading side's alone: what was last told, and when (at most every ten seconds).
    std::uint64_t xruns_told_ = 0, overruns_told_ = 0;
    std::chrono::steady_clock::time_point told_at_{};
    std::atomic<bool> stopping_{false};
    std::atomic<bool> failed_{false};
    std::thread thread_;
};

}  // namespace

std::unique_ptr<LiveSource> open_alsa(const std::string& device,
                                      std::shared_ptr<const Generator> generator,
                                      LiveOptions options) {
    return std::make_unique<AlsaInput>(device, std::move(generator), std::move(options));
}

}  // namespace vantel::source
