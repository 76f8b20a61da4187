// SPDX-License-Identifier: MIT
#pragma once

// The trend: a strip chart of the last ten minutes of readings, drawn with QPainter. The time
// axis is in seconds since the meter started, the value axis in the unit of the latest trace,
// scaled to that unit's readings, with lines at their minimum and maximum. A change of unit,
// function or channel is a vertical marker where the next trace starts; traces in another unit
// than the latest are not drawn, as they share no scale with it.

#include <QWidget>

#include "trend/trend_series.h"

class QPainter;

namespace vantel {

struct TrendColours {
    QColor background{Qt::black};
    QColor axes{128, 128, 128};
    QColor trace{0, 192, 192};  // the display's cyan
    QColor minimum{64, 128, 255};
    QColor maximum{255, 64, 64};
    QColor marker{255, 128, 0};  // the hold key's orange
};

// Draws `series` into `area` of `painter`.
void paint_trend(QPainter& painter, const QRect& area, const TrendSeries& series,
                 const TrendColours& colours = {});

class TrendWindow final : public QWidget {
    Q_OBJECT

public:
    explicit TrendWindow(const TrendSeries& series, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const TrendSeries& series_;
};

}  // namespace vantel
