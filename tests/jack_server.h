// SPDX-License-Identifier: MIT
#pragma once

// A real JACK server for the tests: jackd with its dummy driver (no sound hardware), under a
// name of this test program's own, which JACK_DEFAULT_SERVER hands to every client in this
// process and its children. It dies with the test program.

#include <jack/jack.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <csignal>
#include <string>

namespace vantel::testing_support {

class JackServer {
public:
    JackServer() : name_("vantel-test-" + std::to_string(::getpid())) {
        qputenv("JACK_DEFAULT_SERVER", QByteArray::fromStdString(name_));
        qputenv("JACK_NO_START_SERVER", "1");
        start();
    }
    ~JackServer() { stop(); }
    JackServer(const JackServer&) = delete;
    JackServer& operator=(const JackServer&) = delete;

    // Starts jackd and waits until it takes clients; false if it never does.
    bool start() {
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        // No real-time scheduling: a test machine may not grant it, and the dummy driver keeps
        // time without it.
        process_.start(
            QStringLiteral("jackd"),
            {QStringLiteral("--no-realtime"), QStringLiteral("-n"), QString::fromStdString(name_),
             QStringLiteral("-d"), QStringLiteral("dummy"), QStringLiteral("-r"),
             QStringLiteral("48000"), QStringLiteral("-p"), QStringLiteral("256")});
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 10000) {
            jack_status_t status{};
            if (jack_client_t* probe =
                    jack_client_open("vantel-test-probe", JackNoStartServer, &status)) {
                jack_client_close(probe);
                return true;
            }
            QThread::msleep(50);
        }
        return false;
    }
    // Gone at once, as a crashed server goes.
    void kill() {
        process_.kill();
        process_.waitForFinished(5000);
    }
    void stop() {
        process_.terminate();
        if (!process_.waitForFinished(5000))
            kill();
    }
    QString log() { return QString::fromUtf8(process_.readAll()); }

private:
    std::string name_;
    QProcess process_;
};

}  // namespace vantel::testing_support
