// SPDX-License-Identifier: MIT
#pragma once

// A real JACK server for the tests: jackd's dummy driver (no sound hardware)
// under a name of this test program's own, handed by JACK_DEFAULT_SERVER to
// every client here and in its children. It dies with the test program.

#include <jack/jack.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <QProcess>
#include <QTest>

#include <csignal>
#include <string>

namespace vantel::testing_support {

class JackServer {
public:
    explicit JackServer(int rate_hz = 48000)
        : name_("vantel-test-" + std::to_string(::getpid())), rate_hz_(rate_hz) {
        qputenv("JACK_DEFAULT_SERVER", QByteArray::fromStdString(name_));
        qputenv("JACK_NO_START_SERVER", "1");
        start();
    }
    ~JackServer() {
        process_.terminate();
        if (!process_.waitForFinished(5000))
            kill();
    }

    // Starts jackd (at `rate_hz`, when given) and waits until it takes clients; false if it never
    // does. No real-time scheduling: a test machine may not grant it, and the dummy driver keeps
    // time without it.
    bool start(int rate_hz = 0) {
        rate_hz_ = rate_hz > 0 ? rate_hz : rate_hz_;
        using namespace Qt::StringLiterals;
        process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        // 256-frame periods, 2048 above 96 kHz: a fast rate should not busy a loaded machine.
        const int period = rate_hz_ > 96000 ? 2048 : 256;
        process_.start(u"jackd"_s, {u"--no-realtime"_s, u"-n"_s, QString::fromStdString(name_),
                                    u"-d"_s, u"dummy"_s, u"-r"_s, QString::number(rate_hz_),
                                    u"-p"_s, QString::number(period)});
        return QTest::qWaitFor(
            [] {
                jack_status_t status{};
                jack_client_t* probe =
                    jack_client_open("vantel-test-probe", JackNoStartServer, &status);
                return probe && jack_client_close(probe) == 0;
            },
            10000);
    }
    // Gone at once, as a crashed server goes.
    void kill() {
        process_.kill();
        process_.waitForFinished(5000);
    }
    // Stopped where it stands (SIGSTOP), as a debugger or a hung machine holds it, and let go.
    void stop() { ::kill(static_cast<pid_t>(process_.processId()), SIGSTOP); }
    void resume() { ::kill(static_cast<pid_t>(process_.processId()), SIGCONT); }

private:
    std::string name_;
    int rate_hz_;
    QProcess process_;
};

}  // namespace vantel::testing_support
