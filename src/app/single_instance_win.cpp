// SPDX-License-Identifier: MIT
// One panel per analyser on Windows, where there is no session bus: a named mutex in the user's
// session plays the bus name's part, and a second start brings the first panel's window to the
// front by its title.
#include <windows.h>

#include <cwchar>

#include "app/single_instance.h"

namespace vantel {

namespace {

// "Local\": one per logon session, as the session bus is. The system drops it with the process
// that holds it, however that process ends.
constexpr wchar_t kMutexName[] = L"Local\\Vantel.DMM";
HANDLE panel_mutex = nullptr;

BOOL CALLBACK find_panel(HWND window, LPARAM found) {
    wchar_t title[64] = {};
    GetWindowTextW(window, title, 64);
    // The title may carry more after the name ("Vantel DMM - log stopped").
    if (!IsWindowVisible(window) || std::wcsncmp(title, L"Vantel DMM", 10) != 0)
        return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

}  // namespace

std::unique_ptr<PanelInstance> PanelInstance::claim(Claim& outcome, QString& message,
                                                    bool bring_to_front) {
    const HANDLE mutex = CreateMutexW(nullptr, FALSE, kMutexName);
    if (mutex == nullptr) {
        outcome = Claim::NoBus;  // nothing to hold the claim with: nothing to guard against
        return {};
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) {
        panel_mutex = mutex;
        outcome = Claim::Owned;
        return std::unique_ptr<PanelInstance>(new PanelInstance);
    }
    CloseHandle(mutex);
    outcome = Claim::OtherPanel;
    if (!bring_to_front) {
        message =
            QStringLiteral(
                "a panel is already attached to the analyser in this session (the mutex %1 is "
                "held), and two would each keep its option")
                .arg(QString::fromWCharArray(kMutexName));
        return {};
    }
    HWND first = nullptr;
    EnumWindows(find_panel, reinterpret_cast<LPARAM>(&first));
    if (first != nullptr) {
        if (IsIconic(first))
            ShowWindow(first, SW_RESTORE);
        SetForegroundWindow(first);
        message = QStringLiteral(
            "a panel is already attached to the analyser in this session; its window was "
            "brought to the front");
    } else {
        message = QStringLiteral(
            "a panel is already attached to the analyser in this session (it runs without a "
            "window)");
    }
    return {};
}

PanelInstance::~PanelInstance() {
    if (panel_mutex != nullptr)
        CloseHandle(panel_mutex);
    panel_mutex = nullptr;
}

void PanelInstance::Activate(const QVariantMap& /*platform_data*/) {
    Q_EMIT activation_requested();
}

}  // namespace vantel

#include "moc_single_instance.cpp"
