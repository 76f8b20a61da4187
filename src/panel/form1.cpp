// SPDX-License-Identifier: MIT
// The window and its controls, built from the layout table.
#include "panel/form1.h"

#include <QFontDatabase>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QSvgRenderer>

#include <ranges>

#include "panel/panel_label.h"
#include "panel/picture_box.h"

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

QString object_name(const ControlSpec& spec) {
    QString name = QString::fromUtf8(spec.name.data(), static_cast<qsizetype>(spec.name.size()));
    if (spec.index >= 0)
        name += QLatin1Char('_') + QString::number(spec.index);
    return name;
}

QLabel* make_label(const ControlSpec& spec, QWidget* parent) {
    auto* label = new PanelLabel(parent);
    // Captions come from the analyser too: never let a function name be read as markup.
    label->setTextFormat(Qt::PlainText);
    label->setText(QString::fromUtf8(spec.caption));
    QFont font(QString::fromUtf8(spec.font_face));
    font.setPointSizeF(spec.point_size);
    font.setBold(spec.bold);
    label->setFont(font);
    label->setAlignment(alignment_of(spec.align));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, spec.colour);
    palette.setColor(QPalette::Window, Qt::black);
    label->setPalette(palette);
    label->setAutoFillBackground(spec.opaque);
    return label;
}

// The display face ships with the program; the layout asks for it by its traditional name.
void load_display_font() {
    static const bool loaded = [] {
        QFontDatabase::addApplicationFont(QStringLiteral(":/fonts/VantelSegment-Regular.ttf"));
        QFont::insertSubstitution(QStringLiteral("LCD Display Grid"),
                                  QStringLiteral("Vantel Segment"));
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

}  // namespace

Form1::Form1(FormEnvironment environment, QWidget* parent)
    : QWidget(parent), env_(std::move(environment)) {
    load_display_font();
    setWindowTitle(QStringLiteral("Vantel DMM"));
    setWindowIcon(window_icon());
    setFixedSize(kClientWidth, kClientHeight);
    build_controls();
    wire_controls();
    // No period until the start-up sets one: the timer does not tick during the wait.
    connect(&Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);
}

Form1::~Form1() = default;

void Form1::build_controls() {
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
        widget->setObjectName(object_name(spec));
        if (!spec.tooltip.empty())
            widget->setToolTip(QString::fromUtf8(spec.tooltip));
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

    auto label = [this](const char* name) {
        auto* found = findChild<QLabel*>(QLatin1String(name));
        Q_ASSERT(found);
        return found;
    };
    Label1 = label("Label1");
    static_cast<PanelLabel*>(Label1)->setShrinkToFit(true);
    Label9 = label("Label9");
    Label3 = label("Label3");
    Label4 = label("Label4");
    Label6 = label("Label6");
    Label7 = label("Label7");
    Label5 = label("Label5");
    Label10 = label("Label10");
    Rel_Label = label("Rel_Label");
    Hold_icon = label("Hold_icon");
    Selection_Info1 = label("Selection_Info1");
    Selection_Info2 = label("Selection_Info2");
    Selection_Info4 = label("Selection_Info4");
    Selection_Info5 = label("Selection_Info5");
    Channel_Indicator = label("Channel_Indicator");
    for (std::size_t i = 0; i < Blip.size(); ++i)
        Blip[i] = findChild<PictureBox*>(QStringLiteral("Blip_%1").arg(i));
}

void Form1::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), kSurround);
    painter.drawPixmap(0, 0, background_pixmap(devicePixelRatioF()));
}

}  // namespace vantel
