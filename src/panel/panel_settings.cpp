// SPDX-License-Identifier: MIT
#include "panel/panel_settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>

namespace vantel {

namespace {

constexpr char kZoomKey[] = "zoom_percent=";
// A file of ours is one short line; anything much larger is not ours.
constexpr qint64 kLargestFile_bytes = 4096;

}  // namespace

bool is_zoom_percent(int percent) {
    return std::ranges::find(kZoomPercents, percent) != kZoomPercents.end();
}

QString panel_settings_path() {
    // Qt reads XDG_CONFIG_HOME and falls back to ~/.config, as the XDG base directories say.
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/vantel-dmm/panel.conf");
}

int read_zoom_percent(const QString& path, QString& trouble) {
    QFile file(path);
    if (!file.exists())
        return 100;
    if (file.size() > kLargestFile_bytes || !file.open(QIODevice::ReadOnly)) {
        trouble = QStringLiteral("%1 cannot be read; the panel opens at 100 %").arg(path);
        return 100;
    }
    for (const QByteArray& raw : file.readAll().split('\n')) {
        const QByteArray line = raw.trimmed();
        if (!line.startsWith(kZoomKey))
            continue;
        bool number = false;
        const int percent = line.mid(sizeof kZoomKey - 1).toInt(&number);
        if (number && is_zoom_percent(percent))
            return percent;
        break;
    }
    trouble =
        QStringLiteral("%1 holds no zoom of 100, 150 or 200 %; the panel opens at 100 %").arg(path);
    return 100;
}

QString write_zoom_percent(const QString& path, int percent) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    const QByteArray text = kZoomKey + QByteArray::number(percent) + '\n';
    if (file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit())
        return {};
    return QStringLiteral("the zoom cannot be saved in %1: %2").arg(path, file.errorString());
}

}  // namespace vantel
