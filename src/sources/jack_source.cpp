// SPDX-License-Identifier: MIT
// The JACK input: a client of the server, followed by a supervising thread that connects it,
// notices when the server goes, and connects again when it returns. The process callback
// itself is in jack_process.cpp.
#include <jack/jack.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <numbers>
#include <optional>
#include <thread>

#include "sources/frame_ring.h"
#include "sources/jack_realtime.h"
#include "sources/live_source.h"

namespace vantel::source {

namespace {

using namespace std::chrono_literals;

// How often the supervising thread looks: a returning server is found within this.
constexpr auto kSupervisorPeriod = 250ms;
// The largest period the generator plays; JACK's buffers go up to 8192 frames.
constexpr std::size_t kLargestPeriod = 16384;

struct PortsFree {
    void operator()(const char** ports) const { jack_free(static_cast<void*>(ports)); }
};

// One connection to the server, from open to close.
class JackClient {
public:
    // Nothing when no server answers; `why` says what JACK said.
    static std::unique_ptr<JackClient> open(const LiveOptions& options, const Generator& generator,
                                            LiveStatistics& statistics, std::string& why);
    ~JackClient() {
        // Deactivates first and waits for a running callback to end.
        jack_client_close(client_);
    }
    JackClient(const JackClient&) = delete;
    JackClient& operator=(const JackClient&) = delete;

    const FrameRing& ring() const { return ring_; }
    double rate_hz() const { return rt_.rate_hz; }
    bool server_gone() const { return rt_.server_gone.load(std::memory_order_acquire); }
    std::string name() const { return jack_get_client_name(client_); }
    // What went wrong connecting ports; empty when all went well.
    std::string connect(const LiveOptions& options);

private:
    JackClient(jack_client_t* client, double rate_hz)
        : client_(client), ring_(static_cast<std::int64_t>(kLiveHistory_s * rate_hz)) {
        rt_.rate_hz = rate_hz;
    }

    jack_client_t* client_;
    FrameRing ring_;
    jack::Realtime rt_;
};

std::unique_ptr<JackClient> JackClient::open(const LiveOptions& options, const Generator& generator,
                                             LiveStatistics& statistics, std::string& why) {
    jack_status_t status{};
    // Never start a server of our own: the user's audio setup decides where the server runs.
    jack_client_t* client =
        jack_client_open(options.jack_client_name.c_str(), JackNoStartServer, &status);
    if (!client) {
        why = (status & JackServerFailed) ? "no JACK server is running"
                                          : "the JACK server refused the client (status " +
                                                std::to_string(static_cast<int>(status)) + ")";
        return nullptr;
    }
    // Checked before the ring is sized by it.
    const double rate_hz = jack_get_sample_rate(client);
    if (const std::string unmeasurable = unmeasurable_rate(rate_hz); !unmeasurable.empty()) {
        jack_client_close(client);
        why = "the JACK server's rate " + unmeasurable;
        return nullptr;
    }
    std::unique_ptr<JackClient> c(new JackClient(client, rate_hz));
    jack::Realtime& rt = c->rt_;
    rt.ring = &c->ring_;
    rt.generator = &generator;
    rt.statistics = &statistics;
    rt.units_per_v = 1.0 / (options.full_scale_v_rms * std::numbers::sqrt2);
    rt.scratch_v.assign(kLargestPeriod, 0.0);
    // The generator's tables are built at first use: build them here, not in the callback.
    generator.render_v(0, rt.rate_hz, std::span(rt.scratch_v).first(1));

    const char* names[2][2] = {{"in_A", "in_B"}, {"out_A", "out_B"}};
    for (int i = 0; i < 2; ++i) {
        rt.inputs[i] =
            jack_port_register(client, names[0][i], JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        rt.outputs[i] =
            jack_port_register(client, names[1][i], JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        if (!rt.inputs[i] || !rt.outputs[i]) {
            why = "the JACK server would not give the client its ports";
            return nullptr;
        }
    }
    jack_set_process_callback(client, jack::process, &rt);
    jack_set_xrun_callback(client, jack::xrun, &rt);
    jack_on_info_shutdown(client, jack::shutdown, &rt);
    if (jack_activate(client) != 0) {
        why = "the JACK server would not activate the client";
        return nullptr;
    }
    return c;
}

std::string JackClient::connect(const LiveOptions& options) {
    std::string trouble;
    auto connect_physical = [&](unsigned long flags, const std::array<jack_port_t*, 2>& ours,
                                bool ours_are_inputs) {
        std::unique_ptr<const char*, PortsFree> physical(
            jack_get_ports(client_, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | flags));
        for (std::size_t i = 0; i < 2; ++i) {
            if (!physical || !physical.get()[i]) {
                trouble +=
                    "no physical port for " + std::string(jack_port_short_name(ours[i])) + "; ";
                continue;
            }
            const char* theirs = physical.get()[i];
            const char* mine = jack_port_name(ours[i]);
            const int failed = ours_are_inputs ? jack_connect(client_, theirs, mine)
                                               : jack_connect(client_, mine, theirs);
            if (failed)
                trouble += std::string("cannot connect ") + mine + " and " + theirs + "; ";
        }
    };
    if (options.connect_inputs)
        connect_physical(JackPortIsOutput, rt_.inputs, true);
    if (options.connect_generator)
        connect_physical(JackPortIsInput, rt_.outputs, false);
    return trouble;
}

class JackInput final : public LiveSource {
public:
    JackInput(std::shared_ptr<const Generator> generator, LiveOptions options)
        : generator_(std::move(generator)), options_(std::move(options)) {
        if (!generator_)
            throw std::invalid_argument("the JACK input needs a generator to play");
        std::string why;
        client_ = JackClient::open(options_, *generator_, statistics_, why);
        if (!client_)
            throw SourceError("cannot open the JACK input: " + why);
        announce("connected to the JACK server");
        supervisor_ = std::thread([this] { supervise(); });
    }

    ~JackInput() override {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        supervisor_.join();
    }

    double rate_hz() const override {
        std::lock_guard lock(mutex_);
        return client_ ? client_->rate_hz() : 0.0;
    }
    // A server that stops sending periods (stopped, hung) counts as gone until they come again.
    bool locked() const override {
        std::lock_guard lock(mutex_);
        return client_ && !client_->server_gone() && statistics_.periods_coming(monotonic_ns());
    }
    std::int64_t frames_now() override {
        std::lock_guard lock(mutex_);
        return client_ ? client_->ring().frames_written() : 0;
    }
    std::uint64_t epoch() const override { return epoch_.load(std::memory_order_acquire); }
    std::int64_t history_frames() const override {
        std::lock_guard lock(mutex_);
        return client_ ? client_->ring().capacity_frames() : 0;
    }
    void read(int channel, std::int64_t first_frame, std::span<double> out) override {
        check_channel(channel);
        std::lock_guard lock(mutex_);
        if (!client_) {
            std::fill(out.begin(), out.end(), 0.0);
            return;
        }
        const FrameRing& ring = client_->ring();
        // Frames the ring has already given up: the reader fell behind by more than it holds.
        const std::int64_t oldest = ring.frames_written() - ring.capacity_frames();
        if (first_frame < oldest)
            statistics_.count_overrun(static_cast<std::uint64_t>(
                std::min<std::int64_t>(oldest - first_frame, std::ssize(out))));
        ring.read(channel, first_frame, out);
    }
    std::string describe() const override {
        std::lock_guard lock(mutex_);
        if (!client_)
            return "JACK client " + options_.jack_client_name + " (the server is away)";
        return "JACK client " + client_->name() + " at " +
               std::to_string(std::lround(client_->rate_hz())) + " Hz";
    }
    const LiveStatistics& statistics() const override { return statistics_; }

private:
    void log(const std::string& line) const {
        if (options_.log)
            options_.log(line);
    }

    // Connects the ports as asked and says who the input is; the mutex is not held.
    void announce(const std::string& what) {
        std::string name, trouble;
        double rate = 0.0;
        {
            std::lock_guard lock(mutex_);
            name = client_->name();
            rate = client_->rate_hz();
            trouble = client_->connect(options_);
        }
        // The server renames a second client of the same name; say what this one is called.
        log(what + " as " + name + " at " + std::to_string(std::lround(rate)) + " Hz");
        if (!trouble.empty())
            log("JACK ports: " + trouble.substr(0, trouble.size() - 2));
        // A server back at a lower rate may not carry the generator's frequency: the generator
        // then plays silence, keeps its setting, and plays again at a rate that carries it.
        const double generator_hz = generator_->frequency_hz();
        if (generator_hz >= rate / 2.0) {
            log("the generator's " + std::to_string(std::lround(generator_hz)) +
                " Hz is at or above half the " + std::to_string(std::lround(rate)) +
                " Hz rate: it is silent until the rate carries it or its frequency is lowered");
        }
    }

    void supervise() {
        std::uint64_t xruns_told = 0, overruns_told = 0;
        std::string refusal_told;
        bool stalled_told = false;
        // Trouble is told at most this often, so that a struggling machine's log stays readable.
        constexpr auto kTellEvery = std::chrono::seconds(10);
        auto told_at = std::chrono::steady_clock::now() - kTellEvery;
        std::unique_lock lock(mutex_);
        while (!wake_.wait_for(lock, kSupervisorPeriod, [this] { return stopping_; })) {
            if (client_ && client_->server_gone()) {
                // Closing takes the server's last word; the readers see silence meanwhile.
                std::unique_ptr<JackClient> gone = std::move(client_);
                lock.unlock();
                gone.reset();
                log("the JACK server has gone: the input is unlocked until it returns");
                lock.lock();
                continue;
            }
            if (!client_) {
                std::string why;
                lock.unlock();
                std::unique_ptr<JackClient> back =
                    JackClient::open(options_, *generator_, statistics_, why);
                if (back) {
                    refusal_told.clear();
                } else if (why.starts_with("the JACK server's rate") && why != refusal_told) {
                    // A server that answers at a rate the analyser cannot measure: said once.
                    log("the JACK server is back, but " + why + ": the input stays unlocked");
                    refusal_told = why;
                }
                lock.lock();
                if (back) {
                    client_ = std::move(back);
                    epoch_.fetch_add(1, std::memory_order_acq_rel);
                    lock.unlock();
                    announce("the JACK server is back: reconnected");
                    lock.lock();
                }
                continue;
            }
            // Said once each way, the first time the supervisor sees it.
            const bool stalled = !statistics_.periods_coming(monotonic_ns());
            if (stalled != stalled_told) {
                stalled_told = stalled;
                lock.unlock();
                log(stalled ? "the JACK server has stopped sending periods: the input is "
                              "unlocked until they come again"
                            : "the JACK server sends periods again");
                lock.lock();
                continue;
            }
            const std::uint64_t xruns = statistics_.xruns();
            const std::uint64_t overruns = statistics_.overrun_frames();
            if ((xruns != xruns_told || overruns != overruns_told) &&
                std::chrono::steady_clock::now() - told_at >= kTellEvery) {
                told_at = std::chrono::steady_clock::now();
                lock.unlock();
                log("JACK: " + std::to_string(xruns) + " xruns and " + std::to_string(overruns) +
                    " frames lost to overruns so far");
                lock.lock();
                xruns_told = xruns;
                overruns_told = overruns;
            }
        }
    }

    std::shared_ptr<const Generator> generator_;
    LiveOptions options_;
    LiveStatistics statistics_;
    // Guards client_ between the readers and the supervising thread; never taken by the
    // real-time callback, which only runs while its client is open.
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::unique_ptr<JackClient> client_;
    std::atomic<std::uint64_t> epoch_{0};
    bool stopping_ = false;
    std::thread supervisor_;
};

}  // namespace

std::unique_ptr<LiveSource> open_jack(std::shared_ptr<const Generator> generator,
                                      LiveOptions options) {
    // libjack prints its own complaints on stderr, once per attempt to connect: while the
    // server is away that would be four lines a second. The messages the user needs are ours.
    static const bool quiet = [] {
        jack_set_error_function([](const char*) {});
        jack_set_info_function([](const char*) {});
        return true;
    }();
    (void)quiet;
    return std::make_unique<JackInput>(std::move(generator), std::move(options));
}

}  // namespace vantel::source
