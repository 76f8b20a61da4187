// SPDX-License-Identifier: MIT
#pragma once

// A sound file played in a loop in real time, through libsndfile (WAV, FLAC, AIFF and every
// other format it reads). Frame n of the source is frame n modulo the file's length. A mono
// file feeds both channels; of more than two channels the first two are used, with a warning.
//
// The file is never loaded whole: it is decoded in blocks on demand, and a small cache keeps
// the last couple of seconds' blocks, which is all a lazy consumer reads.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "sources/sample_source.h"

namespace vantel::source {

class FileSource final : public SampleSource {
public:
    // Throws SourceError, naming the file and the reason, for a missing file, a directory, an
    // empty file, a file libsndfile cannot decode (corrupt, truncated, or in a format it
    // refuses) and a rate outside kMinRateHz..kMaxRateHz: nothing is sized by the header's rate
    // before it is checked.
    explicit FileSource(std::string path, MonotonicClock clock = {});
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    double rate_hz() const override { return rate_hz_; }
    // False once a block failed to decode (the file changed or is damaged past its ends);
    // warnings() says where.
    bool locked() const override { return !failed_; }
    std::int64_t frames_now() override { return produced_ = frames_.now(); }
    std::int64_t history_frames() const override { return produced_; }
    void read(int channel, std::int64_t first_frame, std::span<double> out) override;
    std::string describe() const override;
    std::vector<std::string> warnings() const override { return warnings_; }

    std::int64_t length_frames() const { return length_frames_; }
    int file_channels() const { return file_channels_; }
    // What the cache may hold at most, in bytes: the bound on this source's memory.
    std::size_t cache_capacity_bytes() const;

    static constexpr std::int64_t kBlockFrames = 4096;
    // The decoding buffer, in samples of all channels: 8 frames of libsndfile's most (1024
    // channels), 4096 of a stereo file.
    static constexpr std::size_t kInterleavedSamples = 8192;

private:
    struct Block {
        std::int64_t index = -1;  // block number in the file; -1 when empty
        std::uint64_t last_use = 0;
        std::vector<double> samples[2];  // channel A, channel B
    };
    struct SndFile;

    const Block& block(std::int64_t index);
    void load(Block& slot, std::int64_t index);
    void check_decodes();

    std::string path_;
    std::unique_ptr<SndFile> file_;
    double rate_hz_ = 0.0;
    std::int64_t length_frames_ = 0;
    int file_channels_ = 0;
    std::string format_;
    std::vector<Block> cache_;
    std::vector<double> interleaved_;
    std::uint64_t uses_ = 0;
    bool failed_ = false;
    std::string decode_failure_;  // where and why decoding stopped
    std::vector<std::string> warnings_;
    RealTimeFrames frames_;
    std::int64_t produced_ = 0;
};

}  // namespace vantel::source
