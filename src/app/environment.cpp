// SPDX-License-Identifier: MIT
#include "app/environment.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMessageBox>

#include <chrono>
#include <cstdio>

#include "app/wait_seconds.h"

namespace vantel {

Environment standard_environment(std::function<ObjectRef()> obtain_analyser) {
    Environment env;
    env.obtain_analyser = std::move(obtain_analyser);
    env.clock = [] {
        using namespace std::chrono;
        return duration<double>(steady_clock::now().time_since_epoch()).count();
    };
    env.wait_seconds = [](std::int32_t seconds) { Wait_Seconds(seconds); };
    env.show_message = [](const Message& m) {
        if (!display_is_visible()) {
            report_to_stderr(m.title.empty() ? m.text : m.title + ": " + m.text);
            return;
        }
        QMessageBox box(m.icon == Message::Icon::Warning    ? QMessageBox::Warning
                        : m.icon == Message::Icon::Critical ? QMessageBox::Critical
                                                            : QMessageBox::NoIcon,
                        QString::fromStdString(m.title), QString::fromStdString(m.text),
                        QMessageBox::Ok);
        box.setTextFormat(Qt::PlainText);
        box.exec();
    };
    env.report = report_to_stderr;
    env.end_program = [](int code) { QCoreApplication::exit(code); };
    return env;
}

bool display_is_visible() {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr)
        return false;  // --no-window: no windows at all
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

void report_to_stderr(const std::string& line) {
    std::fprintf(stderr, "vantel-dmm: %s\n", line.c_str());
    std::fflush(stderr);
}

}  // namespace vantel
