// SPDX-License-Identifier: MIT
#include "sources/file_source.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <system_error>
#include <utility>

namespace vantel::source {

namespace {

// Header sizes a streaming writer leaves when it cannot seek back: not a truncation.
constexpr unsigned long long kPlaceholderSize = 0x7fff0000ULL;

std::string in_quotes(const std::string& path) {
    return "\"" + path + "\"";
}

SourceError refusal(const std::string& path, const std::string& reason) {
    return SourceError("cannot open file " + in_quotes(path) + ": " + reason);
}

std::string log_of(SNDFILE* file) {
    std::string text(16384, '\0');
    const auto size =
        sf_command(file, SFC_GET_LOG_INFO, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<std::size_t>(std::max(0, size)));
    return text;
}

// libsndfile reads a WAV or AIFF whose data was cut short by playing what is there, and notes
// "data : 400000 (should be 199956)" in its log, where the header promised more than the file
// holds. A truncated file is damaged, so it is refused rather than played short.
std::string truncation_in(const std::string& log) {
    std::istringstream lines(log);
    std::string line;
    while (std::getline(lines, line)) {
        const auto colon = line.find(':');
        const auto should = line.find("(should be ");
        if (colon == std::string::npos || should == std::string::npos || should < colon)
            continue;
        const unsigned long long declared = std::strtoull(line.c_str() + colon + 1, nullptr, 10);
        const unsigned long long actual =
            std::strtoull(line.c_str() + should + sizeof "(should be " - 1, nullptr, 10);
        if (declared > actual && declared < kPlaceholderSize) {
            std::string chunk = line.substr(0, colon);
            chunk.erase(0, chunk.find_first_not_of(' '));
            chunk.erase(chunk.find_last_not_of(' ') + 1);
            return "truncated: its " + chunk + " chunk declares " + std::to_string(declared) +
                   " bytes but the file holds " + std::to_string(actual);
        }
    }
    return {};
}

std::string format_name(int format) {
    SF_FORMAT_INFO major{};
    major.format = format & SF_FORMAT_TYPEMASK;
    SF_FORMAT_INFO sub{};
    sub.format = format & SF_FORMAT_SUBMASK;
    std::string name = sf_command(nullptr, SFC_GET_FORMAT_INFO, &major, sizeof major) == 0
                           ? major.name
                           : "unknown format";
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &sub, sizeof sub) == 0)
        name += std::string(", ") + sub.name;
    return name;
}

}  // namespace

struct FileSource::SndFile {
    SNDFILE* handle = nullptr;
    ~SndFile() {
        if (handle)
            sf_close(handle);
    }
};

FileSource::FileSource(std::string path, MonotonicClock clock)
    : path_(std::move(path)), file_(std::make_unique<SndFile>()), frames_(clock, 1.0) {
    namespace fs = std::filesystem;
    if (path_.empty())
        throw SourceError("cannot open a file with an empty name");
    std::error_code error;
    const fs::file_status status = fs::status(path_, error);
    if (!fs::exists(status))
        throw refusal(path_, "no such file");
    if (fs::is_directory(status))
        throw refusal(path_, "it is a directory, not a sound file");
    if (!fs::is_regular_file(status))
        throw refusal(path_, "it is not a regular file");
    if (fs::file_size(path_, error) == 0 && !error)
        throw refusal(path_, "the file is empty (0 bytes)");

    SF_INFO info{};
    file_->handle = sf_open(path_.c_str(), SFM_READ, &info);
    if (!file_->handle) {
        throw refusal(path_, std::string("libsndfile cannot read it (corrupt, truncated or not a "
                                         "sound format it knows): ") +
                                 sf_strerror(nullptr));
    }
    if (const std::string truncation = truncation_in(log_of(file_->handle)); !truncation.empty())
        throw refusal(path_, truncation);
    if (info.frames <= 0)
        throw refusal(path_, "it holds no audio frames");
    if (const std::string why = unmeasurable_rate(info.samplerate); !why.empty())
        throw refusal(path_, "its sample rate " + why);
    if (static_cast<std::size_t>(info.channels) > kInterleavedSamples)
        throw refusal(path_, "it has " + std::to_string(info.channels) + " channels");
    rate_hz_ = info.samplerate;
    length_frames_ = info.frames;
    file_channels_ = info.channels;
    format_ = format_name(info.format);
    if (file_channels_ > 2) {
        warnings_.push_back("file " + in_quotes(path_) + " has " + std::to_string(file_channels_) +
                            " channels; playing the first two as A and B");
    }

    // Enough blocks for two seconds, since a lazy consumer reads up to the last second and its
    // window may straddle the file's loop point.
    const auto blocks = static_cast<std::size_t>(
        std::ceil(2.0 * rate_hz_ / static_cast<double>(kBlockFrames)) + 2.0);
    cache_.resize(blocks);
    // libsndfile's doubles are already normalised: integer formats' full scale reads 1.0.
    interleaved_.resize(kInterleavedSamples);
    check_decodes();
    frames_ = RealTimeFrames(std::move(clock), rate_hz_);
}

FileSource::~FileSource() = default;

// The header can promise frames that the decoder cannot deliver (a FLAC stream cut short, a
// damaged frame). Decoding the first and the last block at open catches the usual damage
// without reading a long file through; later failures unlock the source instead.
void FileSource::check_decodes() {
    const std::int64_t last = (length_frames_ - 1) / kBlockFrames;
    for (const std::int64_t index : {last, std::int64_t{0}}) {
        block(index);
        if (failed_) {
            throw refusal(path_, "corrupt or truncated: " + (decode_failure_.empty()
                                                                 ? std::string("it does not decode")
                                                                 : decode_failure_));
        }
    }
}

std::size_t FileSource::cache_capacity_bytes() const {
    return cache_.size() * 2 * kBlockFrames * sizeof(double) + interleaved_.size() * sizeof(double);
}

const FileSource::Block& FileSource::block(std::int64_t index) {
    ++uses_;
    Block* oldest = &cache_.front();
    for (Block& b : cache_) {
        if (b.index == index) {
            b.last_use = uses_;
            return b;
        }
        if (b.last_use < oldest->last_use)
            oldest = &b;
    }
    load(*oldest, index);
    oldest->last_use = uses_;
    return *oldest;
}

void FileSource::load(Block& slot, std::int64_t index) {
    const std::int64_t start = index * kBlockFrames;
    const std::int64_t wanted = std::min(kBlockFrames, length_frames_ - start);
    for (auto& samples : slot.samples)
        samples.assign(static_cast<std::size_t>(kBlockFrames), 0.0);
    slot.index = index;

    // In pieces that fit the interleaving buffer, whose size does not follow the header's
    // channel count; each piece's frames go to A and B as they come.
    sf_count_t got = 0;
    const auto piece_frames = static_cast<sf_count_t>(interleaved_.size()) / file_channels_;
    if (sf_seek(file_->handle, start, SEEK_SET) == start) {
        while (got < wanted) {
            const sf_count_t asked = std::min(piece_frames, wanted - got);
            const sf_count_t read = sf_readf_double(file_->handle, interleaved_.data(), asked);
            for (sf_count_t f = 0; f < std::max<sf_count_t>(read, 0); ++f) {
                const double* frame = &interleaved_[static_cast<std::size_t>(f * file_channels_)];
                slot.samples[0][static_cast<std::size_t>(got + f)] = frame[0];
                slot.samples[1][static_cast<std::size_t>(got + f)] =
                    frame[file_channels_ > 1 ? 1 : 0];
            }
            if (read <= 0)
                break;
            got += read;
            if (read < asked)
                break;
        }
    }
    const std::string log = log_of(file_->handle);
    const bool decoder_error = log.find("ERROR") != std::string::npos;
    if (got != wanted || decoder_error) {
        if (!failed_) {
            std::string reason = sf_error(file_->handle) != SF_ERR_NO_ERROR
                                     ? sf_strerror(file_->handle)
                                     : "the decoder reported an error";
            decode_failure_ = "file " + in_quotes(path_) + " stopped decoding at frame " +
                              std::to_string(start + std::max<sf_count_t>(got, 0)) + " of " +
                              std::to_string(length_frames_) + ": " + reason;
            warnings_.push_back(decode_failure_ + "; the input is lost from here on");
        }
        failed_ = true;
    }
}

void FileSource::read(int channel, std::int64_t first_frame, std::span<double> out) {
    check_channel(channel);
    produced_ = frames_.now();
    std::size_t i = 0;
    while (i < out.size()) {
        const std::int64_t frame = first_frame + static_cast<std::int64_t>(i);
        if (frame < 0 || frame >= produced_) {
            out[i++] = 0.0;
            continue;
        }
        const std::int64_t in_file = frame % length_frames_;
        const std::int64_t index = in_file / kBlockFrames;
        const std::int64_t offset = in_file - index * kBlockFrames;
        const std::int64_t block_end = std::min((index + 1) * kBlockFrames, length_frames_);
        // As many frames as stay within this block, the file's loop and the produced frames.
        const auto count = static_cast<std::size_t>(std::min(
            {block_end - in_file, produced_ - frame, static_cast<std::int64_t>(out.size() - i)}));
        const std::vector<double>& samples = block(index).samples[channel];
        std::copy_n(samples.begin() + offset, count, out.begin() + static_cast<std::ptrdiff_t>(i));
        i += count;
    }
}

std::string FileSource::describe() const {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", static_cast<double>(length_frames_) / rate_hz_);
    return "file " + in_quotes(path_) + ": " + format_ + ", " + std::to_string(file_channels_) +
           (file_channels_ == 1 ? " channel, " : " channels, ") +
           std::to_string(static_cast<long long>(rate_hz_)) + " Hz, " + seconds + " s, looped";
}

}  // namespace vantel::source
