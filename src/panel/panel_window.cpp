// SPDX-License-Identifier: MIT
// The window and its controls, built from the layout table.
#include "panel/panel_window.h"
#include "automation/qt_text.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QIcon>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QSvgRenderer>

#include <ranges>

#include "meter/scripted_run.h"
#include "panel/panel_label.h"
#include "panel/panel_settings.h"
#include "panel/picture_box.h"
#include "recorder/recorder.h"
#include "sources/file_name.h"
#include "trend/trend_window.h"

namespace vantel {

namespace {

// A straight line on the panel; it takes no mouse input.
class PanelLine final : public QWidget {
public:
    PanelLine(QColor colour, QWidget* parent) : QWidget(parent), colour_(colour) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), colour_); }

private:
    QColor colour_;
};

Qt::Alignment alignment_of(TextAlign align) {
    switch (align) {
        case TextAlign::Right:
            return Qt::AlignRight | Qt::AlignTop;
        case TextAlign::Centre:
            return Qt::AlignHCenter | Qt::AlignTop;
        case TextAlign::Left:
            break;
    }
    return Qt::AlignLeft | Qt::AlignTop;
}

QFont font_of(const ControlSpec& spec) {
    QFont font(QString::fromUtf8(spec.font_face));
    font.setPointSizeF(spec.point_size);
    font.setBold(spec.bold);
    return font;
}

QLabel* make_label(const ControlSpec& spec, QWidget* parent) {
    auto* label = new PanelLabel(parent);
    // Captions come from the analyser too: never let a function name be read as markup.
    label->setTextFormat(Qt::PlainText);
    label->setText(QString::fromUtf8(spec.caption));
    label->setFont(font_of(spec));
    label->setAlignment(alignment_of(spec.align));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, spec.colour);
    palette.setColor(QPalette::Window, Qt::black);
    label->setPalette(palette);
    label->setAutoFillBackground(spec.opaque);
    return label;
}

// The display face ships with the program; the layout asks for it by its traditional name.
// Where the program is unpacked with fonts of its own beside it (the Windows zip: a machine may
// lack Arial, as wine does), those are added too, with Liberation Sans, which has Arial's
// metrics, standing in for Arial where the system has none. All before any label is laid out.
void load_fonts() {
    static const bool loaded = [] {
        QFontDatabase::addApplicationFont(QStringLiteral(":/fonts/VantelSegment-Regular.ttf"));
        QFont::insertSubstitution(QStringLiteral("LCD Display Grid"),
                                  QStringLiteral("Vantel Segment"));
        const QDir beside(QCoreApplication::applicationDirPath() + QStringLiteral("/fonts"));
        for (const QString& file : beside.entryList({QStringLiteral("*.ttf")}, QDir::Files))
            QFontDatabase::addApplicationFont(beside.filePath(file));
        QFont::insertSubstitution(QStringLiteral("Arial"), QStringLiteral("Liberation Sans"));
        return true;
    }();
    (void)loaded;
}

QIcon window_icon() {
    QIcon icon;
    QSvgRenderer svg(QStringLiteral(":/icon.svg"));
    for (int size : {16, 32, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        svg.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

// Round the holster: the 4-pixel strip at the right edge continues it.
constexpr QColor kSurround(0xf0, 0xf0, 0xf0);

const QString kTitle = QStringLiteral("Vantel DMM");

// A rectangle of the layout at `zoom`: its edges are scaled and rounded, so that controls that
// touch at 100 % still touch, and a key still lies exactly over its pressed picture.
QRect scaled(const QRect& rect, double zoom) {
    const int left = qRound(rect.left() * zoom), top = qRound(rect.top() * zoom);
    return QRect(left, top, qRound((rect.left() + rect.width()) * zoom) - left,
                 qRound((rect.top() + rect.height()) * zoom) - top);
}

// Where a control lies in the window at 100 %: a line's rectangle is its length by its width,
// and a control inside a picture box is placed relative to that box.
QRect window_rect(const ControlSpec& spec) {
    QRect rect = spec.kind == ControlKind::Line
                     ? QRect(spec.rect.left(), spec.rect.top(), spec.rect.width(),
                             static_cast<int>(spec.point_size))
                     : spec.rect;
    if (!spec.parent.empty())
        for (const ControlSpec& container : panel_controls())
            if (container.name == spec.parent)
                rect.translate(container.rect.topLeft());
    return rect;
}

// The log's file as the title and the menu name it.
QString log_name(const Recorder& log) {
    if (log.path() == "-")
        return QStringLiteral("standard output");
    return QFileInfo(QString::fromUtf8(log.path())).fileName();
}

}  // namespace

PanelWindow::PanelWindow(Meter& meter, Environment environment, QWidget* parent)
    : QWidget(parent), meter_(meter), env_(std::move(environment)) {
    load_fonts();
    setWindowTitle(kTitle);
    setWindowIcon(window_icon());
    build_controls();
    wire_controls();
    QString trouble;
    apply_zoom(read_zoom_percent(panel_settings_path(), trouble));
    if (!trouble.isEmpty())
        env_.report(trouble.toStdString());
    connect(&meter_, &Meter::published, this, &PanelWindow::on_published);
    connect(&meter_, &Meter::closed, this, &QWidget::close);
}

PanelWindow::~PanelWindow() {
    delete trend_window_;
}

void PanelWindow::show_reading(const MeterReading& r) {
    main_reading_->setText(to_qstring(r.main_reading));
    unit_->setText(to_qstring(r.unit_word));
    minimum_->setText(to_qstring(r.minimum));
    minimum_unit_->setText(to_qstring(r.minimum_unit));
    maximum_->setText(to_qstring(r.maximum));
    maximum_unit_->setText(to_qstring(r.maximum_unit));
    response_->setText(to_qstring(r.response_word));
    weighting_->setText(to_qstring(r.weighting_word));
    relativity_->setText(to_qstring(r.relativity_word));
    function_->setText(to_qstring(r.function_name));
    input_->setText(to_qstring(r.input));
    lock_->setText(to_qstring(r.lock));
    domain_->setText(to_qstring(r.domain));
    channel_->setText(to_qstring(r.channel));
    for (std::size_t i = 0; i < lamps_.size(); ++i)
        lamps_[i]->setVisible(!r.lit_lamp || *r.lit_lamp == static_cast<int>(i));
    hold_mark_->setVisible(r.hold_mark);
    annunciator_->setText(to_qstring(r.annunciator));
    annunciator_->setVisible(!r.annunciator.empty());
    if (r.source_name != source_name_) {
        source_name_ = r.source_name;
        show_title();
    }
}

void PanelWindow::show_title() {
    // The source, so that simulated readings are never taken for real ones.
    QString title = kTitle;
    if (!source_name_.empty())
        title += QStringLiteral(" \u2014 ") + to_qstring(source_name_);
    if (log_)
        title += QStringLiteral(" \u2014 logging to ") + log_name(*log_);
    else if (!log_trouble_.isEmpty())
        title += QStringLiteral(": ") + log_trouble_;
    setWindowTitle(title);
}

void PanelWindow::on_published(const MeterReading& reading) {
    show_reading(reading);
    if (trend_.add(reading) && trend_window_)
        trend_window_->series_changed();
}

void PanelWindow::closeEvent(QCloseEvent* event) {
    meter_.close();
    if (trend_window_)
        trend_window_->close();
    event->accept();
}

bool PanelWindow::inside(const QWidget& control, QPointF position) {
    // Strict on all four sides: a release on the first row or column, or on the far edge,
    // is outside.
    return position.x() > 0 && position.x() < control.width() && position.y() > 0 &&
           position.y() < control.height();
}

QString PanelWindow::reading_text() const {
    return main_reading_->text() + QLatin1Char(' ') + unit_->text();
}

void PanelWindow::copy_reading() {
    QGuiApplication::clipboard()->setText(reading_text());
}

void PanelWindow::contextMenuEvent(QContextMenuEvent* event) {
    if (!scaled(kDisplayArea, zoom_percent_ / 100.0).contains(event->pos()))
        return event->ignore();
    QMenu menu(this);
    QAction* copy =
        menu.addAction(QStringLiteral("Copy reading"), this, &PanelWindow::copy_reading);
    copy->setShortcut(QKeySequence::Copy);
    if (logging())
        menu.addAction(QStringLiteral("Stop log (%1)").arg(log_name(*log_)), this,
                       &PanelWindow::stop_log);
    else
        menu.addAction(QStringLiteral("Start log\u2026"), this, &PanelWindow::choose_log_file);
    menu.addAction(QStringLiteral("Trend\u2026"), this, &PanelWindow::open_trend);
    QMenu* view = menu.addMenu(QStringLiteral("View"));
    for (int percent : kZoomPercents) {
        QAction* zoom = view->addAction(QStringLiteral("%1 %").arg(percent), this,
                                        [this, percent] { choose_zoom(percent); });
        zoom->setCheckable(true);
        zoom->setChecked(percent == zoom_percent_);
    }
    menu.addAction(QStringLiteral("Calibrate\u2026"), this, &PanelWindow::calibrate);
    menu.exec(event->globalPos());
}

void PanelWindow::calibrate() {
    const QString channel = channel_->text();
    bool ok = false;
    const double true_v = QInputDialog::getDouble(
        this, QStringLiteral("Calibrate"),
        QStringLiteral("True RMS volts of the signal now on channel %1\n(from a calibrator or a "
                       "trusted meter):")
            .arg(channel),
        1.0, 1e-6, 1000.0, 6, &ok);
    if (ok)
        meter_.calibrate(true_v);
}

void PanelWindow::choose_log_file() {
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Start log"), QStringLiteral("vantel-dmm.csv"),
        QStringLiteral("CSV files (*.csv);;All files (*)"));
    if (path.isEmpty())
        return;
    std::string error;
    // The dialog has asked before replacing a file. The file is opened in the log's own thread:
    // a FIFO waits there for its reader, a hung file system hangs only that thread, and a
    // failure to open shows as a failed log, in the title, at the next tick.
    RecorderOptions options;
    options.existing = ExistingFile::Replace;
    options.in_background = true;
    std::unique_ptr<Recorder> recorder =
        Recorder::open(source::file_name_from_text(path.toStdU16String()), options, error);
    if (!recorder)
        return env_.show_message({Message::Icon::Warning, kTitle.toStdString(), error});
    start_log(std::move(recorder));
}

void PanelWindow::start_log(std::unique_ptr<Recorder> recorder, const ScriptedRun* rows_from) {
    stop_log();
    log_ = std::move(recorder);
    log_trouble_.clear();
    show_title();
    Recorder* log = log_.get();
    if (rows_from) {
        connect(rows_from, &ScriptedRun::logged, log,
                [log](const MeterReading& reading, std::optional<bool> passed) {
                    log->record(reading, passed);
                });
    } else {
        connect(&meter_, &Meter::published, log,
                [log](const MeterReading& reading) { log->record(reading); });
    }
    connect(log, &Recorder::failed, this, &PanelWindow::on_log_failed);
}

void PanelWindow::stop_log() {
    if (!log_)
        return;
    for (const std::string& line : log_->finish())
        env_.report(line);
    log_.reset();
    show_title();
}

void PanelWindow::on_log_failed(const QString& why) {
    // Said once; the title keeps it in view without covering the display.
    env_.report(why.toStdString());
    log_trouble_ = why;
    // Destroyed from the event loop: this runs inside the recorder's own call.
    log_.release()->deleteLater();
    show_title();
}

TrendWindow* PanelWindow::open_trend() {
    if (!trend_window_) {
        // The trend saves what it shows in the log's own columns.
        TrendExport exporter{
            [] { return csv_header(); },
            [](const MeterReading& reading, std::chrono::system_clock::time_point wall) {
                return csv_row(reading, wall);
            },
            [this](const std::string& why) {
                env_.show_message({Message::Icon::Warning, kTitle.toStdString(), why});
            }};
        trend_window_ = new TrendWindow(trend_, std::move(exporter));
    }
    trend_window_->show();
    trend_window_->raise();
    trend_window_->activateWindow();
    return trend_window_;
}

void PanelWindow::build_controls() {
    auto make = [this](const ControlSpec& spec) {
        QWidget* parent = this;
        if (!spec.parent.empty())
            parent = findChild<QWidget*>(QString::fromUtf8(spec.parent));
        QWidget* widget = nullptr;
        switch (spec.kind) {
            case ControlKind::PictureBox:
                widget = new PictureBox(spec.picture, parent);
                widget->setGeometry(spec.rect);
                break;
            case ControlKind::Label:
                widget = make_label(spec, parent);
                widget->setGeometry(spec.rect);
                break;
            case ControlKind::Line:
                widget = new PanelLine(spec.colour, parent);
                widget->setGeometry(spec.rect.left(), spec.rect.top(), spec.rect.width(),
                                    static_cast<int>(spec.point_size));
                break;
            case ControlKind::Timer:
                return;
        }
        widget->setObjectName(control_name(spec));
        if (!spec.tooltip.empty())
            widget->setToolTip(QString::fromUtf8(spec.tooltip));
        controls_.emplace_back(widget, &spec);
    };
    // Qt stacks a later child over an earlier one, so build back to front: labels and lines
    // first, then the picture boxes, each group from its last row to its first; a control inside
    // a picture box comes after its container, which it covers.
    const auto controls = panel_controls();
    auto build = [&](bool pictures, bool contained) {
        for (const ControlSpec& spec : controls | std::views::reverse)
            if ((spec.kind == ControlKind::PictureBox) == pictures &&
                spec.parent.empty() != contained)
                make(spec);
    };
    build(false, false);
    build(true, false);
    build(true, true);

    auto label = [this](Role role) {
        auto* found = findChild<QLabel*>(control_name(role));
        Q_ASSERT(found);
        return found;
    };
    main_reading_ = label(Role::MainReading);
    static_cast<PanelLabel*>(main_reading_)->setShrinkToFit(true);
    unit_ = label(Role::Unit);
    minimum_ = label(Role::Minimum);
    minimum_unit_ = label(Role::MinimumUnit);
    maximum_ = label(Role::Maximum);
    maximum_unit_ = label(Role::MaximumUnit);
    response_ = label(Role::Response);
    weighting_ = label(Role::Weighting);
    relativity_ = label(Role::Relativity);
    hold_mark_ = label(Role::HoldMark);
    annunciator_ = label(Role::Annunciator);
    annunciator_->hide();
    function_ = label(Role::Function);
    input_ = label(Role::Input);
    lock_ = label(Role::Lock);
    domain_ = label(Role::Domain);
    channel_ = label(Role::Channel);
    knob_ = label(Role::Knob);
    for (std::size_t i = 0; i < lamps_.size(); ++i)
        lamps_[i] = findChild<PictureBox*>(control_name(Role::Lamp, static_cast<int>(i)));
}

void PanelWindow::choose_zoom(int percent) {
    if (!is_zoom_percent(percent))
        return;
    apply_zoom(percent);
    if (const QString why = write_zoom_percent(panel_settings_path(), percent); !why.isEmpty())
        env_.report(why.toStdString());
}

void PanelWindow::apply_zoom(int percent) {
    zoom_percent_ = percent;
    const double zoom = percent / 100.0;
    setFixedSize(scaled(QRect(0, 0, kClientWidth, kClientHeight), zoom).size());
    for (const auto& [widget, spec] : controls_) {
        QRect rect = scaled(window_rect(*spec), zoom);
        if (QWidget* container = widget->parentWidget(); container != this)
            rect.translate(-container->pos());
        widget->setGeometry(rect);
        if (auto* label = qobject_cast<PanelLabel*>(widget)) {
            label->setZoom(font_of(*spec), visible_columns(*spec), zoom);
        } else if (auto* picture = qobject_cast<PictureBox*>(widget)) {
            picture->setZoom(zoom);
        }
    }
    update();
}

void PanelWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), kSurround);
    painter.drawPixmap(0, 0, background_pixmap(devicePixelRatioF(), zoom_percent_ / 100.0));
}

}  // namespace vantel
