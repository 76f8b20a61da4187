// SPDX-License-Identifier: MIT
// The panel against our analyser's COM server in another process, as it meets the analyser
// application on Windows: one whole session of the meter (start-up, update cycles, a key's
// write, a refused write, close, the option put back), the server ending once its last client
// lets go, and vantel-dmm.exe ending with exit code 3 and a message when the server is killed
// under it. Needs the server registered (vantel-analyser /RegServer); run under wine by
// wine_tests.sh, which also registers it where wine looks.
//
//   com_session_test PATH\vantel-dmm.exe
#include <windows.h>

#include <tlhelp32.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>

#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/backends.h"
#include "app/environment.h"
#include "automation/conversions.h"
#include "meter/meter.h"
#include "plain_check.h"

namespace vantel {
namespace {

using namespace plain_check;

QString panel_program;

constexpr wchar_t kServerProgram[] = L"vantel-analyser.exe";

// Runs the event loop until `done`, for at most `timeout_ms`.
bool wait_for(const std::function<bool()>& done, int timeout_ms) {
    QElapsedTimer waited;
    waited.start();
    while (!done()) {
        if (waited.elapsed() > timeout_ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        Sleep(5);
    }
    return true;
}

// The process id of the running `program`, or 0.
DWORD find_process(const wchar_t* program) {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    DWORD found = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && found == 0;
         more = Process32NextW(snapshot, &entry)) {
        if (lstrcmpiW(entry.szExeFile, program) == 0)
            found = entry.th32ProcessID;
    }
    CloseHandle(snapshot);
    return found;
}

Value settling_option(AutomationObject& app) {
    return get_member(app, "Options", "OPT_UseSettlingsFromScripts");
}

void a_whole_session() {
    // Another client of the analyser beside the panel, as the analyser application's own window
    // would be: it starts the server, and sees what the panel does to the analyser.
    const ObjectRef other = obtain_application("com");
    const Value users_option("as the user left it");
    set_member(*other, "Options", "OPT_UseSettlingsFromScripts", users_option);

    std::vector<int> ends;
    std::vector<std::string> said;
    Environment env = standard_environment([] { return obtain_application("com"); });
    env.end_program = [&](int code) { ends.push_back(code); };
    env.report = [&](const std::string& line) { said.push_back(line); };
    env.show_message = [&](const Message& m) { said.push_back(m.text); };
    Meter meter(env);
    std::vector<MeterReading> cycles;
    QObject::connect(&meter, &Meter::published, &meter, [&](const MeterReading& r) {
        if (r.occasion == MeterReading::Occasion::Cycle)
            cycles.push_back(r);
    });
    // A cycle takes 200 ms; a frequency reading under wine on a busy machine up to a second.
    const auto cycles_after = [&](std::size_t more) {
        const std::size_t wanted = cycles.size() + more;
        return wait_for([&] { return cycles.size() >= wanted; }, 15000);
    };

    meter.start();
    check(!meter.ended() && meter.running(), "started up");
    check(settling_option(*other) == Value(AutoBool::False),
          "the option is off while the panel runs: " + settling_option(*other).describe());
    check(cycles_after(3), "update cycles every 200 ms");
    if (cycles.empty())
        return;
    const MeterReading& first = cycles.back();
    const double direct = to_double(get_member(*other, "CTDetector", "CTD_ChA"));
    check(first.raw_reading && std::abs(*first.raw_reading - direct) < 0.01 * std::abs(direct),
          "the panel reads what the analyser measures: " + first.main_reading + " " +
              first.unit_word + " against " + std::to_string(direct));
    check(first.function_name == "Amplitude" && first.channel == "A",
          "the analyser's function and channel A: " + first.function_name);

    // A key's write reaches the analyser, and the panel shows it once read back.
    const std::string response_before = cycles.back().response_word;
    meter.step_response();
    check(get_member(*other, "CTDetector", "CTD_Response") == Value(1),
          "the response key wrote the next response");
    check(cycles_after(2) && cycles.back().response_word != response_before,
          "the new response is shown: " + cycles.back().response_word);

    // A refused write: another client has the analyser measure frequency, in hertz; the unit key
    // then asks for a level unit, which the analyser refuses for that function. The panel goes
    // on, showing the unit still in force.
    set_member(*other, "CTDetector", "CTD_Function", Value("Frequency"));
    check(cycles_after(3), "cycles after the change of function");
    // The unit without its range prefix: a reading near 1 kHz goes from "Hz" to "kHz" and back.
    const std::string hertz = cycles.back().raw_unit_word;
    check(hertz == "Hz", "the panel shows the analyser's frequency in hertz: " + hertz);
    meter.step_unit();
    check(get_member(*other, "CTDetector", "CTD_Unit") == other->get("UNIT_FREQ_HZ"),
          "the analyser kept its unit");
    check(cycles_after(2) && !meter.ended() && cycles.back().raw_unit_word == hertz,
          "the panel goes on in " + hertz + ": " + cycles.back().raw_unit_word);

    // The type information crosses the process boundary too: a listing of the detector.
    try {
        std::string listed;
        for (const MemberInfo& m : get_object(*other, "CTDetector")->members())
            listed += m.name + " " + kind_word(m.kind) + (m.writable ? " rw; " : " r; ");
        check(listed.find("CTD_Unit integer rw; ") != std::string::npos &&
                  listed.find("CTD_ChA double r; ") != std::string::npos,
              "the detector's members listed over COM: " + listed);
    } catch (const AutomationError& e) {
        check(false, std::string("listing: ") + e.what());
    }

    // Closing puts the option back as the user left it.
    meter.close();
    check(ends == std::vector<int>{kExitClosed}, "closed with exit code 0");
    check(settling_option(*other) == users_option,
          "the option is back: " + settling_option(*other).describe());
    for (const std::string& line : said)
        check(false, "unexpected message: " + line);
}

void the_server_ends_when_its_last_client_lets_go() {
    // The previous group's objects are all released by now.
    check(wait_for([] { return find_process(kServerProgram) == 0; }, 5000),
          "the server has ended by itself");
}

// vantel-dmm.exe logging from the analyser, then a second start, then the server killed under
// the first.
void a_killed_server_ends_the_panel() {
    QProcess panel;
    panel.start(panel_program, {"--analyser", "com", "--no-window", "--log", "-"});
    QByteArray rows;
    check(wait_for(
              [&] {
                  rows += panel.readAllStandardOutput();
                  return rows.count('\n') >= 3;
              },
              30000),
          "the panel logs rows from the analyser: " + rows.toStdString() +
              panel.readAllStandardError().toStdString());

    // One panel per analyser in a session: a second run ends at once, saying so, logging
    // nothing, and leaves the first one and the analyser alone.
    QProcess second;
    second.start(panel_program, {"--analyser", "com", "--no-window", "--count", "1", "--log", "-"});
    second.waitForFinished(15000);
    const std::string second_said = second.readAllStandardError().toStdString();
    const QByteArray second_rows = second.readAllStandardOutput();
    check(second.state() == QProcess::NotRunning && second.exitCode() == kExitAnalyserUnavailable &&
              second_rows.isEmpty() &&
              second_said.find("a panel is already attached to the analyser") != std::string::npos,
          "a second panel ends at once with exit code 2, logging nothing: " +
              std::to_string(second.exitCode()) + "; " + second_said +
              "; rows: " + second_rows.toStdString());
    check(panel.state() == QProcess::Running, "the first panel runs on");

    const DWORD server = find_process(kServerProgram);
    check(server != 0, "the server runs");
    const HANDLE killed = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, server);
    check(killed != nullptr && TerminateProcess(killed, 1), "the server is killed");
    if (killed != nullptr) {
        WaitForSingleObject(killed, 5000);
        CloseHandle(killed);
    }
    panel.waitForFinished(10000);
    const std::string said = panel.readAllStandardError().toStdString();
    check(panel.state() == QProcess::NotRunning && panel.exitCode() == kExitAnalyserFailed,
          "the panel ended with exit code 3: " + std::to_string(panel.exitCode()) + "; " + said);
    // The member that failed and why, on standard error.
    check(said.find("vantel-dmm: ") != std::string::npos &&
              said.find("the analyser is no longer running") != std::string::npos,
          "the panel says why: " + said);
    std::printf("the panel said: %s", said.c_str());
}

}  // namespace
}  // namespace vantel

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 2) {
        std::printf("usage: com_session_test PATH\\vantel-dmm.exe\n");
        return 2;
    }
    vantel::panel_program = arguments[1];
    using namespace vantel;
    return plain_check::run_groups({a_whole_session, the_server_ends_when_its_last_client_lets_go,
                                    a_killed_server_ends_the_panel});
}
