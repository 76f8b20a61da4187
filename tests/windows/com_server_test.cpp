// SPDX-License-Identifier: MIT
// Our analyser's COM server reached through the panel's own COM client, as the panel meets the
// analyser application on Windows. Built with the whole program for Windows and run under wine
// by wine_tests.sh.
//   com_server_test
//       the server in this process: every member of the analyser's tables over IDispatch, in its
//       natural type, the listing, writes and refusals, the server's lifetime, its registration
//   com_server_test PATH\vantel-dmm.exe
//       the server in another process (registered with vantel-analyser /RegServer, which
//       wine_tests.sh does, also where wine looks): one whole session of the meter (start-up,
//       update cycles, a key's write, close, the option put back), the server ending once its
//       last client lets go, and vantel-dmm.exe ending with exit code 3 and a message when the
//       server is killed under it
#include <windows.h>

#include <tlhelp32.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>

#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/backends.h"
#include "app/environment.h"
#include "automation/com_dispatch.h"
#include "automation/com_variant.h"
#include "automation/conversions.h"
#include "instrument/com_export.h"
#include "instrument/objects.h"
#include "meter/meter.h"
#include "plain_check.h"

namespace vantel {
namespace {

using namespace plain_check;

// The application object as a client holds it: our client over our server, no marshalling.
struct Served {
    Served() {
        IDispatch* dispatch = make_analyser_dispatch(analyser.application(), lifetime);
        client = std::make_shared<DispatchObject>(dispatch, nullptr);
        dispatch->Release();  // the client's reference keeps it
    }
    Analyser analyser;
    int unused = 0;
    ServerLifetime lifetime{[this] { ++unused; }};
    ObjectRef client;
};

// Every object the analyser's tables list, and every member of it, is served by its name, in
// the kind the analyser gives in this process, whatever the tables hold when this runs: a member
// added to them needs nothing here or in the server. A client that lists the members
// (vantel-dmm --list-members) gets from the server's type information what the analyser's own
// objects say of themselves.
void every_member_of_the_tables() {
    Served served;
    Analyser direct;  // the same analyser's answers without COM
    const ObjectRef direct_app = direct.application();
    int members = 0;
    for (const instrument::ObjectInfo& object : instrument::object_model()) {
        const std::string name(object.name);
        const ObjectRef over_com = name.empty() ? served.client : get_object(*served.client, name);
        const ObjectRef in_process = name.empty() ? direct_app : get_object(*direct_app, name);
        check(over_com->members() == in_process->members(),
              (name.empty() ? "the application" : name) + " lists what the analyser says of it");
        for (const instrument::MemberInfo& m : object.members) {
            const std::string path = (name.empty() ? "" : name + ".") + std::string(m.name);
            ++members;
            try {
                const Value got = over_com->get(m.name);
                const Value expected = in_process->get(m.name);
                // Readings move between two reads; everything else is the same.
                const bool same = got.kind() == expected.kind() &&
                                  (got.kind() == Value::Kind::Double ||
                                   got.kind() == Value::Kind::Object || got == expected);
                check(same, path + ": " + got.describe() + " over COM, " + expected.describe() +
                                " in process");
            } catch (const AutomationError& e) {
                check(false, path + ": " + e.what());
            }
        }
    }
    check(members > 60, "the members served: " + std::to_string(members));
}

IDispatch* dispatch_of(const ObjectRef& object) {
    return dynamic_cast<DispatchObject*>(object.get())->dispatch();
}

// The type of a raw property get through IDispatch, or VT_ILLEGAL when the call fails.
VARTYPE raw_type(IDispatch* object, const wchar_t* member) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(member)};
    DISPID id = DISPID_UNKNOWN;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    Variant value;
    if (FAILED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)) ||
        FAILED(object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                              value.get(), nullptr, nullptr)))
        return VT_ILLEGAL;
    return V_VT(value.get());
}

// Members read in their natural types, as over D-Bus: codes in 16 bits, the frame rate in 32.
void natural_types() {
    Served served;
    check(raw_type(dispatch_of(served.client), L"UNIT_DBU") == VT_I2, "a named constant is VT_I2");
    check(raw_type(dispatch_of(get_object(*served.client, "DigitalInputs")), L"DI_FrameRate") ==
              VT_I4,
          "the frame rate is VT_I4");
}

void reading_and_writing_through_the_server() {
    Served served;
    AutomationObject& app = *served.client;
    check(app.get("IsInitialised") == Value(AutoBool::True), "ready at once");
    check(app.get("unit_dbv") == Value(66), "names are found whatever their case");
    check(get_member(app, "CTDetector", "CTD_ChA").kind() == Value::Kind::Double,
          "a reading is a double");

    set_member(app, "CTDetector", "CTD_Unit", Value(66));
    check(get_member(app, "CTDetector", "CTD_Unit") == Value(66), "a write is read back");
    set_member(app, "CTDetector", "ctd_function", Value("Balance"));
    check(get_member(app, "ctdetector", "CTD_Function") == Value("Balance"),
          "a function chosen by name");

    // The analyser's reason reaches the client, and the setting stays.
    check_refused([&] { set_member(app, "CTDetector", "CTD_Response", Value(9)); },
                  "CTDetector.CTD_Response", "the analyser raised \"9 is not a response code\"");
    check(get_member(app, "CTDetector", "CTD_Response") == Value(0),
          "a refused write changes nothing");
    check_refused([&] { set_member(app, "CTDetector", "CTD_ChA", Value(1.0)); },
                  "CTDetector.CTD_ChA", "does not let this member be written");
    check_refused([&] { app.get("CTD_Nonsense"); }, "CTD_Nonsense", "no member of this name");
    // A value no member takes: an object of the analyser's own.
    check_refused(
        [&] {
            set_member(app, "Options", "OPT_UseSettlingsFromScripts",
                       Value(get_object(app, "Generator")));
        },
        "Options.OPT_UseSettlingsFromScripts", "the analyser refused");

    // The option hands back whatever a client wrote, of its own kind.
    for (const Value& odd : {Value("odd"), Value(7), Value(AutoBool::False), Value::null()}) {
        set_member(app, "Options", "OPT_UseSettlingsFromScripts", odd);
        check(get_member(app, "Options", "OPT_UseSettlingsFromScripts") == odd,
              "the option keeps " + odd.describe());
    }

    // A failing member fails over COM with the analyser's reason.
    served.analyser.fail_member("CTDetector.CTD_ChB", "input overload");
    check_refused([&] { get_member(app, "CTDetector", "CTD_ChB"); }, "CTDetector.CTD_ChB",
                  "the analyser raised \"input overload\"");
}

// Every client gets an application of its own over the one analyser; the server counts what
// clients hold and says when nothing is left.
void clients_and_lifetime() {
    Analyser analyser;
    int unused = 0;
    ServerLifetime lifetime([&] { ++unused; });
    AnalyserClassFactory factory(analyser, lifetime);

    IUnknown* outer = &factory;
    void* refused = nullptr;
    check(factory.CreateInstance(outer, IID_IDispatch, &refused) == CLASS_E_NOAGGREGATION,
          "no aggregation");
    void* wrong = nullptr;
    check(factory.CreateInstance(nullptr, IID_IClassFactory, &wrong) == E_NOINTERFACE &&
              wrong == nullptr,
          "only IDispatch and IUnknown");
    check(lifetime.count() == 0 && unused == 1, "a refused creation leaves nothing held");
    unused = 0;

    void* first = nullptr;
    void* second = nullptr;
    check(SUCCEEDED(factory.CreateInstance(nullptr, IID_IDispatch, &first)) &&
              SUCCEEDED(factory.CreateInstance(nullptr, IID_IDispatch, &second)),
          "two clients");
    {
        DispatchObject one(static_cast<IDispatch*>(first), nullptr);
        DispatchObject two(static_cast<IDispatch*>(second), nullptr);
        static_cast<IDispatch*>(first)->Release();
        static_cast<IDispatch*>(second)->Release();
        set_member(one, "SignalAnalyzer", "SA_Source", Value(1));
        check(get_member(two, "SignalAnalyzer", "SA_Source") == Value(1),
              "both clients see the one analyser");
        const ObjectRef detector = get_object(one, "CTDetector");
        check(lifetime.count() == 3, "a sub-object in a client's hands counts");
        factory.LockServer(TRUE);
        check(unused == 0, "nothing ends while clients hold objects");
    }
    check(unused == 0 && lifetime.count() == 1, "a lock keeps the server");
    factory.LockServer(FALSE);
    check(unused == 1 && lifetime.count() == 0, "the last release ends it");
}

// Registering and unregistering are shown by the session under wine (/RegServer, /UnregServer):
// here, another analyser's registration of the identifier is not ours to remove.
void registration() {
    const std::wstring key = L"Software\\Classes\\Vantel.Application\\CLSID";
    const std::wstring other = L"{00000000-0000-0000-0000-000000000001}";
    check(register_analyser_server(L"C:\\vantel-analyser.exe").empty(), "registered");
    RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), nullptr, REG_SZ, other.c_str(),
                    static_cast<DWORD>((other.size() + 1) * sizeof(wchar_t)));
    check(unregister_analyser_server().empty(), "unregistered with another class registered");
    wchar_t value[64] = {};
    DWORD size = sizeof value - sizeof(wchar_t);
    check(RegGetValueW(HKEY_CURRENT_USER, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value,
                       &size) == ERROR_SUCCESS &&
              value == other,
          "the other analyser's name stays");
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Classes\\Vantel.Application");
}

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
    using namespace vantel;
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() == 2) {
        panel_program = arguments[1];
        return run_groups({a_whole_session, the_server_ends_when_its_last_client_lets_go,
                           a_killed_server_ends_the_panel});
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int status =
        run_groups({every_member_of_the_tables, natural_types,
                    reading_and_writing_through_the_server, clients_and_lifetime, registration});
    CoUninitialize();
    return status;
}
