// SPDX-License-Identifier: MIT
#include "panel/picture_box.h"

#include <QHash>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

#include <cmath>

namespace vantel {

namespace {

QString resource_of(Picture picture) {
    switch (picture) {
        case Picture::KeyGrey:
            return QStringLiteral(":/key_grey.svg");
        case Picture::KeyGreyPressed:
            return QStringLiteral(":/key_grey_pressed.svg");
        case Picture::KeyOrange:
            return QStringLiteral(":/key_orange.svg");
        case Picture::KeyOrangePressed:
            return QStringLiteral(":/key_orange_pressed.svg");
        case Picture::KeyBlue:
            return QStringLiteral(":/key_blue.svg");
        case Picture::KeyBluePressed:
            return QStringLiteral(":/key_blue_pressed.svg");
        case Picture::Lamp:
            return QStringLiteral(":/lamp.svg");
        case Picture::None:
            break;
    }
    return {};
}

// Renders an SVG at its own size in logical pixels times `zoom`, sharp at the given device pixel
// ratio: the artwork is drawn afresh for every size, never scaled as a bitmap.
QPixmap render(const QString& resource, qreal dpr, qreal zoom) {
    static QHash<QString, QPixmap> cache;
    const QString key = resource + QLatin1Char('@') + QString::number(dpr) + QLatin1Char('x') +
                        QString::number(zoom);
    auto it = cache.constFind(key);
    if (it != cache.constEnd())
        return *it;
    QSvgRenderer svg(resource);
    QPixmap pixmap;
    if (svg.isValid()) {
        const QSizeF size = QSizeF(svg.defaultSize()) * zoom * dpr;
        pixmap = QPixmap(QSize(static_cast<int>(std::ceil(size.width() - 1e-6)),
                               static_cast<int>(std::ceil(size.height() - 1e-6))));
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        svg.render(&painter, QRectF(QPointF(0, 0), size));
        pixmap.setDevicePixelRatio(dpr);
    }
    cache.insert(key, pixmap);
    return pixmap;
}

}  // namespace

QPixmap panel_pixmap(Picture picture, qreal dpr, qreal zoom) {
    return render(resource_of(picture), dpr, zoom);
}

QPixmap background_pixmap(qreal dpr, qreal zoom) {
    return render(QStringLiteral(":/panel.svg"), dpr, zoom);
}

PictureBox::PictureBox(Picture picture, QWidget* parent) : QWidget(parent), picture_(picture) {}

void PictureBox::setZoom(qreal zoom) {
    if (zoom_ == zoom)
        return;
    zoom_ = zoom;
    update();
}

void PictureBox::setPictureVisible(bool visible) {
    if (picture_visible_ == visible)
        return;
    picture_visible_ = visible;
    update();
}

void PictureBox::paintEvent(QPaintEvent*) {
    if (!picture_visible_)
        return;
    QPainter painter(this);
    painter.drawPixmap(0, 0, panel_pixmap(picture_, devicePixelRatioF(), zoom_));
}

void PictureBox::mousePressEvent(QMouseEvent* event) {
    Q_EMIT pressed(event->button(), event->modifiers(), event->position());
}

void PictureBox::mouseReleaseEvent(QMouseEvent* event) {
    Q_EMIT released(event->button(), event->modifiers(), event->position());
}

}  // namespace vantel
