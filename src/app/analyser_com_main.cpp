// SPDX-License-Identifier: MIT
// vantel-analyser on Windows: our analyser as a COM local server, "Vantel.Application", as the
// panel meets the maker's analyser application there. Headless; logs to the console it was
// started from, if any.
//
//   vantel-analyser /RegServer     register for this user (no administrator needed), then end
//   vantel-analyser /UnregServer   remove that registration, then end
//   vantel-analyser [OPTIONS]      serve until Ctrl+C, or the console closes
//   (COM starts it with -Embedding for a client; it then ends when its last client lets go)
#include <windows.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLoggingCategory>

#include <optional>
#include <string>
#include <vector>

#include "app/analyser_command_line.h"
#include "app/termination.h"
#include "app/windows_console.h"
#include "automation/com_variant.h"
#include "instrument/com_export.h"

namespace {

Q_LOGGING_CATEGORY(lcAnalyser, "vantel.analyser", QtInfoMsg)

enum class Mode { Serve, ForClient, Register, Unregister };

// COM's own switches, in either spelling and any case, as Windows passes them.
std::optional<Mode> com_switch(const char* argument) {
    if (argument[0] != '/' && argument[0] != '-')
        return std::nullopt;
    const char* name = argument + 1;
    if (lstrcmpiA(name, "RegServer") == 0)
        return Mode::Register;
    if (lstrcmpiA(name, "UnregServer") == 0)
        return Mode::Unregister;
    if (lstrcmpiA(name, "Embedding") == 0 || lstrcmpiA(name, "Automation") == 0)
        return Mode::ForClient;
    return std::nullopt;
}

std::wstring own_path() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace

int main(int argc, char** argv) {
    vantel::attach_to_parent_console();
    Mode mode = Mode::Serve;
    std::vector<char*> arguments;
    for (int i = 0; i < argc; ++i) {
        const std::optional<Mode> switched = i > 0 ? com_switch(argv[i]) : std::nullopt;
        if (switched)
            mode = *switched;
        else
            arguments.push_back(argv[i]);
    }
    int qt_argc = static_cast<int>(arguments.size());
    QCoreApplication app(qt_argc, arguments.data());
    QCoreApplication::setApplicationName(QStringLiteral("vantel-analyser"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VANTEL_VERSION));

    if (mode == Mode::Register || mode == Mode::Unregister) {
        const std::string failed = mode == Mode::Register
                                       ? vantel::register_analyser_server(own_path())
                                       : vantel::unregister_analyser_server();
        if (!failed.empty()) {
            qCCritical(lcAnalyser).noquote() << QString::fromStdString(failed);
            return 1;
        }
        qCInfo(lcAnalyser).noquote()
            << (mode == Mode::Register
                    ? QStringLiteral("registered Vantel.Application for this user")
                    : QStringLiteral("removed this user's registration of Vantel.Application"));
        return 0;
    }

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Our Vantel analyser as the COM automation server \"Vantel.Application\". Register it "
        "for this user with /RegServer (remove with /UnregServer); COM then starts it when a "
        "client creates the object, and it ends when its last client lets go. Started by hand, "
        "it serves until Ctrl+C."));
    parser.addHelpOption();
    parser.addVersionOption();
    const vantel::AnalyserCommandLine analyser_options;
    analyser_options.add_to(parser);
    parser.process(app);

    std::optional<vantel::Analyser> analyser;
    if (!analyser_options.build(parser, analyser, lcAnalyser))
        return 2;
    qCInfo(lcAnalyser).noquote() << "measuring"
                                 << QString::fromStdString(analyser->describe_input());

    // COM calls arrive as window messages to this thread's apartment, and the event loop
    // dispatches them: the analyser is served on this one thread, as in the D-Bus server.
    const HRESULT initialised = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(initialised)) {
        qCCritical(lcAnalyser).noquote()
            << "COM cannot start:" << QString::fromStdString(vantel::hresult_text(initialised));
        return 1;
    }
    // Started for a client, the analyser ends when the last one lets go of it; started by
    // hand, it serves until told to stop.
    vantel::ServerLifetime lifetime(mode == Mode::ForClient ? std::function<void()>([] {
        qCInfo(lcAnalyser) << "the last client has let go";
        QCoreApplication::quit();
    })
                                                            : std::function<void()>());
    vantel::AnalyserClassFactory factory(*analyser, lifetime);
    DWORD cookie = 0;
    const HRESULT registered = CoRegisterClassObject(
        vantel::kAnalyserClassId, &factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie);
    if (FAILED(registered)) {
        qCCritical(lcAnalyser).noquote()
            << "cannot offer Vantel.Application to COM:"
            << QString::fromStdString(vantel::hresult_text(registered));
        CoUninitialize();
        return 1;
    }
    vantel::on_termination_signals(&app, [] { QCoreApplication::quit(); });
    qCInfo(lcAnalyser) << "serving Vantel.Application";
    const int code = QCoreApplication::exec();
    CoRevokeClassObject(cookie);
    CoUninitialize();
    qCInfo(lcAnalyser) << "no longer serving";
    return code;
}
