// SPDX-License-Identifier: MIT
#include "instrument/persistence.h"
#include "automation/qt_text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include "instrument/instrument.h"

namespace vantel::instrument {

namespace {

// No settings file of ours comes anywhere near this; a larger one is not ours.
constexpr qint64 kLargestFile_bytes = 1024 * 1024;

}  // namespace

std::string analyser_settings_path() {
    // Qt reads XDG_CONFIG_HOME and falls back to ~/.config, as the XDG base directories say.
    return (QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
            QStringLiteral("/vantel-dmm/analyser.conf"))
        .toStdString();
}

Persistence::Persistence(std::string path, std::function<void(const std::string&)> warn)
    : path_(std::move(path)), warn_(std::move(warn)) {
    if (path_.empty())
        return;
    QFile file(to_qstring(path_));
    if (!file.exists())
        return;
    if (file.size() > kLargestFile_bytes) {
        set_aside("it is larger than any settings file of ours");
        return;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        set_aside("it cannot be read (" + file.errorString().toStdString() + ")");
        return;
    }
    const QByteArray text = file.readAll();
    file.close();
    std::string error;
    std::optional<SavedState> state = parse_saved_state(text.toStdString(), error);
    if (!state) {
        set_aside(error);
        return;
    }
    state_ = std::move(*state);
    written_ = text.toStdString();
}

void Persistence::set_aside(const std::string& why) {
    const QString path = to_qstring(path_);
    const QString bad = path + QStringLiteral(".bad");
    QFile::remove(bad);
    const bool kept = QFile::rename(path, bad);
    if (warn_) {
        warn_("the settings file " + path_ + " is unusable (" + why + "): starting from the " +
              "defaults; " +
              (kept ? "it is kept as " + bad.toStdString()
                    : std::string("it could not be moved aside")));
    }
    state_ = {};
    written_.clear();
}

void Persistence::restore(Instrument& instrument, const std::string& source, bool remember_source) {
    if (path_.empty())
        return;
    source_ = source;
    if (remember_source)
        state_.source = source;
    auto profile = state_.profiles.find(instrument.source_kind());
    auto calibration = state_.calibrations.find(source);
    if (profile != state_.profiles.end() || calibration != state_.calibrations.end()) {
        try {
            const std::vector<std::string> notes = instrument.restore(
                profile != state_.profiles.end() ? profile->second : instrument.profile(),
                calibration != state_.calibrations.end() ? calibration->second
                                                         : SavedCalibration{});
            for (const std::string& note : notes) {
                if (warn_)
                    warn_(note);
            }
        } catch (const AutomationError& e) {
            // The instrument took none of it; the file goes, the source to open stays.
            set_aside(e.reason());
            if (remember_source)
                state_.source = source;
        }
    }
    save(instrument);
}

void Persistence::save(const Instrument& instrument) {
    if (path_.empty() || source_.empty())
        return;
    state_.profiles[instrument.source_kind()] = instrument.profile();
    // A channel calibrated for this run only, or not at all, keeps what was saved for it.
    const SavedCalibration kept = instrument.calibration_to_keep();
    for (std::size_t ch = 0; ch < kept.size(); ++ch) {
        if (kept[ch])
            state_.calibrations[source_][ch] = kept[ch];
    }
    if (saved_state_text(state_) != written_)
        write();
}

void Persistence::write() {
    const std::string text = saved_state_text(state_);
    const QString path = to_qstring(path_);
    QDir().mkpath(QFileInfo(path).absolutePath());
    // Written beside the file and renamed over it, so that the file is always whole.
    QSaveFile file(path);
    const bool ok = file.open(QIODevice::WriteOnly) &&
                    file.write(text.data(), static_cast<qint64>(text.size())) ==
                        static_cast<qint64>(text.size()) &&
                    file.commit();
    if (ok) {
        written_ = text;
        write_failed_ = false;
        return;
    }
    if (!write_failed_ && warn_)
        warn_("the settings cannot be saved in " + path_ + ": " + file.errorString().toStdString());
    write_failed_ = true;
}

}  // namespace vantel::instrument
