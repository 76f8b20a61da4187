// SPDX-License-Identifier: MIT
#pragma once

// The meter's one window, drawn as a hand-held multimeter. It wires and paints, nothing more:
//
//   Meter::published -> show_reading() -> labels, lamps and hold mark; the trend's series
//   mouse and keyboard on keys, legends and knob -> Meter's key actions
//   right click on the display -> copy the reading, start or stop a log, open the trend, the
//   zoom, calibrate
//   close box, Off, Ctrl+Q -> Meter::close(); Meter::closed -> the window closes
//
// Controls come from the layout table (panel/layout_table.h) and are known here by their role.
// The table's pixels are the panel at 100 %; at another zoom every control's rectangle and font
// size are scaled and the artwork is drawn afresh at the new size, so the panel stays crisp.

#include <QWidget>

#include <array>
#include <memory>
#include <utility>
#include <vector>

#include "meter/environment.h"
#include "meter/meter.h"
#include "panel/layout_table.h"
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
    TrendSeries& trend() { return trend_; }
    // The trend window, opened (and raised) by "Trend…".
    TrendWindow* open_trend();

    // The size the panel is drawn at, in per cent: 100, 150 or 200. The window opens at the one
    // last chosen; choose_zoom() is the user's choice (the menu's View, --zoom), which is kept.
    int zoom_percent() const { return zoom_percent_; }
    void choose_zoom(int percent);

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
    // Lays the controls out, sizes their fonts and redraws the artwork for `percent`.
    void apply_zoom(int percent);
    void wire_controls();
    void copy_reading();
    void choose_log_file();
    // Asks for the true volts of the signal on the selected channel and calibrates on them.
    void calibrate();
    // "Vantel DMM — simulated — logging to x.csv", or what the log had to say when it stopped.
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
    // Every control with the row of the layout table it was built from.
    std::vector<std::pair<QWidget*, const ControlSpec*>> controls_;
    int zoom_percent_ = 100;

    std::string source_name_;  // as the analyser says, for the title
    QString log_trouble_;      // why the log stopped, for the title
    TrendSeries trend_;
    TrendWindow* trend_window_ = nullptr;
    std::unique_ptr<Recorder> log_;
};

}  // namespace vantel
