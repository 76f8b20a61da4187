// SPDX-License-Identifier: MIT
#pragma once

// The meter's one window, drawn as a hand-held multimeter. It wires and paints, nothing more:
//
//   Meter::published -> show_reading() -> labels, lamps and hold mark; the trend's series
//   mouse and keyboard on keys, legends and knob -> Meter's key actions
//   right click on the display -> copy the reading, start or stop a log, open the trend
//   close box, Off, Ctrl+Q -> Meter::close(); Meter::closed -> the window closes
//
// Controls come from the layout table (panel/layout_table.h) and are known here by their role.

#include <QWidget>

#include <array>
#include <memory>

#include "meter/environment.h"
#include "meter/meter.h"
#include "trend/trend_series.h"

class QLabel;

namespace vantel {

class PictureBox;
class Recorder;
class ScriptedRun;
class TrendWindow;

class PanelWindow final : public QWidget {
    Q_OBJECT

public:
    // `environment` gives the message boxes and the line on standard error for the log.
    PanelWindow(Meter& meter, Environment environment, QWidget* parent = nullptr);
    ~PanelWindow() override;

    // Makes the labels, lamps and hold mark show `reading`.
    void show_reading(const MeterReading& reading);

    // The log the panel writes from now on: every work tick ("Start log…"), or the readings
    // that `rows_from` counts (--log). A log already running stops first.
    void start_log(std::unique_ptr<Recorder> recorder, const ScriptedRun* rows_from = nullptr);
    // Writes what the log has queued (a second at most), says on standard error what did not
    // make it, and stops the log.
    void stop_log();
    bool logging() const { return log_ != nullptr; }

    // "1.008 V": the main reading and its unit as shown, as "Copy reading" puts them on the
    // clipboard.
    QString reading_text() const;
    const TrendSeries& trend() const { return trend_; }
    // The trend window, opened (and raised) by "Trend…".
    TrendWindow* open_trend();

    // Whether a release at `position` (relative to `control`) lies strictly inside it.
    static bool inside(const QWidget& control, QPointF position);

protected:
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void build_controls();
    void wire_controls();
    void copy_reading();
    void choose_log_file();
    // Asks for the true volts of the signal on the selected channel and calibrates on them.
    void calibrate();
    // "Vantel DMM — simulated", with what the log has to say after it.
    void show_title();
    void on_log_failed(const QString& why);
    void on_published(const MeterReading& reading);

    Meter& meter_;
    Environment env_;
    QLabel* main_reading_ = nullptr;
    QLabel* unit_ = nullptr;
    QLabel* minimum_ = nullptr;
    QLabel* minimum_unit_ = nullptr;
    QLabel* maximum_ = nullptr;
    QLabel* maximum_unit_ = nullptr;
    QLabel* response_ = nullptr;
    QLabel* weighting_ = nullptr;
    QLabel* relativity_ = nullptr;
    QLabel* hold_mark_ = nullptr;
    QLabel* annunciator_ = nullptr;
    QLabel* function_ = nullptr;
    QLabel* input_ = nullptr;
    QLabel* lock_ = nullptr;
    QLabel* domain_ = nullptr;
    QLabel* channel_ = nullptr;
    QWidget* knob_ = nullptr;
    std::array<PictureBox*, 6> lamps_{};

    std::string source_name_;  // as the analyser says, for the title
    QString log_trouble_;      // why the log stopped, for the title
    TrendSeries trend_;
    TrendWindow* trend_window_ = nullptr;
    std::unique_ptr<Recorder> log_;
};

}  // namespace vantel
