// SPDX-License-Identifier: MIT
#include "app/wait_seconds.h"

#include <QEventLoop>
#include <QTimer>

namespace vantel {

void Wait_Seconds(std::int32_t Seconds) {
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(std::chrono::seconds(Seconds));
    loop.exec();
}

}  // namespace vantel
