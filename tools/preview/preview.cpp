// SPDX-License-Identifier: MIT
// Artwork helper. Renders the panel's SVGs through QSvgRenderer (what the program itself uses),
// checks that the display font draws every text the main reading can show, turns text into SVG
// path data for lettering that must not depend on the fonts of the user's machine, and composes
// a preview of the whole window: panel, keys, lamps, display labels and legends at the window's
// pixel positions.
//
//   art-preview render   FILE.svg OUT.png SCALE
//   art-preview fontcheck FONT.ttf SHEET.png
//   art-preview textpath FAMILY PIXELS WEIGHT X Y TEXT [SPACING]
//   art-preview panel    RESOURCES_DIR OUT.png SCALE [LIT_LAMP] [PRESSED_KEY...]
//   art-preview verify   RESOURCES_DIR
#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QSvgRenderer>
#include <QTextStream>

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

QTextStream out(stdout);
QTextStream err(stderr);

// The window lays out at 96 dots per inch, so a point is 4/3 pixel; QImage's default
// resolution is that, and the check below keeps it so.
QImage canvas(QSizeF logical, double scale, QColor fill) {
    QImage img(QSize(int(std::lround(logical.width() * scale)),
                     int(std::lround(logical.height() * scale))),
               QImage::Format_ARGB32_Premultiplied);
    img.setDevicePixelRatio(scale);
    img.setDotsPerMeterX(3780);
    img.setDotsPerMeterY(3780);
    img.fill(fill);
    return img;
}

bool renderSvg(const QString& file, QPainter& p, const QRectF& target) {
    QSvgRenderer r(file);
    if (!r.isValid()) {
        err << "cannot render " << file << "\n";
        return false;
    }
    r.render(&p, target);
    return true;
}

int cmdRender(const QString& svg, const QString& png, double scale) {
    QSvgRenderer r(svg);
    if (!r.isValid()) {
        err << "invalid SVG: " << svg << "\n";
        return 1;
    }
    // Scaled by the painter rather than by a device pixel ratio, so that scales below 1
    // (the 16 x 16 icon) work too.
    const QSizeF size = r.viewBoxF().size();
    QImage img = canvas(size * scale, 1, Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);
    r.render(&p, QRectF(QPointF(0, 0), size));
    p.end();
    if (!img.save(png)) {
        err << "cannot write " << png << "\n";
        return 1;
    }
    out << svg << ": " << size.width() << " x " << size.height() << " -> " << png << " @" << scale
        << "x\n";
    return 0;
}

// Every text the main reading can show, from the reading formatter's own cases: ranged
// readings, negative ones, over-range marks, exponent forms, hexadecimal.
const QStringList kReadings = {
    QStringLiteral("-0.123"),   QStringLiteral("1000."),  QStringLiteral("-12.30"),
    QStringLiteral("OVER"),     QStringLiteral("1.235!"), QStringLiteral("1E+15"),
    QStringLiteral("FFFFFFFF"), QStringLiteral("0.000"),  QStringLiteral("12350"),
    QStringLiteral("-12340"),   QStringLiteral("123500"), QStringLiteral("-OVER"),
    QStringLiteral("7FFFFFFF"), QStringLiteral("ABCDEF"), QStringLiteral("-1.235!"),
    QStringLiteral("8.888"),
};

constexpr double kReadingWidthPx = 145;
constexpr double kReadingHeightPx = 41;

// A glyph that exists but draws nothing would pass a charset check and still show a hole.
bool glyphHasInk(const QFont& font, QChar c) {
    QImage img(64, 64, QImage::Format_Grayscale8);
    img.fill(0);
    QPainter p(&img);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(0, 0, 64, 64), Qt::AlignCenter, QString(c));
    p.end();
    for (int y = 0; y < img.height(); ++y) {
        const uchar* row = img.constScanLine(y);
        for (int x = 0; x < img.width(); ++x)
            if (row[x] > 64)
                return true;
    }
    return false;
}

int cmdFontcheck(const QString& ttf, const QString& sheet) {
    const int id = QFontDatabase::addApplicationFont(ttf);
    if (id < 0) {
        err << "cannot load " << ttf << "\n";
        return 1;
    }
    const QString family = QFontDatabase::applicationFontFamilies(id).value(0);
    out << "family: \"" << family << "\"\n";
    // The program asks for the face by the name it was designed with; a substitution maps that
    // name onto the shipped face, so check that path rather than the family name alone.
    QFont::insertSubstitution(QStringLiteral("LCD Display Grid"), family);
    QFont font(QStringLiteral("LCD Display Grid"));
    font.setPointSizeF(24);

    QImage probe = canvas(QSizeF(1, 1), 1, Qt::black);
    QPainter pp(&probe);
    pp.setFont(font);
    const QFontMetricsF fm = pp.fontMetrics();
    out << "resolved family at 24 pt: \"" << pp.fontInfo().family() << "\", pixel size "
        << pp.fontInfo().pixelSize() << ", ascent " << fm.ascent() << ", descent " << fm.descent()
        << ", height " << fm.height() << "\n";

    int failures = 0;
    for (const QString& text : kReadings) {
        QString missing;
        for (QChar c : text)
            if (!fm.inFontUcs4(c.unicode()) || !glyphHasInk(font, c))
                missing += c;
        const double w = fm.horizontalAdvance(text);
        const double ink = fm.tightBoundingRect(text).width();
        const bool fits = w <= kReadingWidthPx;
        out << QStringLiteral("  %1 advance %2 px, ink %3 px: %4%5\n")
                   .arg(text, -9)
                   .arg(w, 6, 'f', 1)
                   .arg(ink, 6, 'f', 1)
                   .arg(fits ? QStringLiteral("fits") : QStringLiteral("TOO WIDE"))
                   .arg(missing.isEmpty() ? QString() : QStringLiteral(", MISSING ") + missing);
        if (!missing.isEmpty())
            ++failures;
    }
    pp.end();

    for (const QString& text : {QStringLiteral("FFFFFFFF"), QStringLiteral("-1.235!")}) {
        double best = 0;
        for (double pt = 24; pt >= 8; pt -= 0.25) {
            QFont f = font;
            f.setPointSizeF(pt);
            QPainter q(&probe);
            q.setFont(f);
            if (q.fontMetrics().horizontalAdvance(text) <= kReadingWidthPx) {
                best = pt;
                break;
            }
        }
        out << "largest size at which \"" << text << "\" fits " << kReadingWidthPx
            << " px: " << best << " pt (" << best * 4 / 3 << " px)\n";
    }

    // A sheet of every reading as the label would show it, at 1x and 2x side by side.
    const double rowH = kReadingHeightPx + 4;
    const QSizeF sheetSize(2 * (kReadingWidthPx + 8) + 8 + 80, rowH * kReadings.size() + 4);
    QImage img =
        canvas(QSizeF(sheetSize.width() * 3, sheetSize.height() * 2) / 2, 2, QColor(40, 40, 40));
    QPainter p(&img);
    QFont label(QStringLiteral("Arial"));
    label.setPointSizeF(7);
    for (int i = 0; i < kReadings.size(); ++i) {
        const QRectF box(4, 4 + i * rowH, kReadingWidthPx, kReadingHeightPx);
        p.fillRect(box, Qt::black);
        p.setFont(font);
        p.setPen(QColor(0, 192, 192));
        p.drawText(box, Qt::AlignRight | Qt::AlignVCenter, kReadings[i]);
        p.setFont(label);
        p.setPen(Qt::lightGray);
        p.drawText(QPointF(box.right() + 6, box.center().y()), kReadings[i]);
    }
    p.end();
    if (!img.save(sheet))
        return 1;
    out << "sheet -> " << sheet << "\n";
    return failures == 0 ? 0 : 1;
}

QString num(double v) {
    QString s = QString::number(std::round(v * 100) / 100, 'f', 2);
    while (s.endsWith(QLatin1Char('0')))
        s.chop(1);
    if (s.endsWith(QLatin1Char('.')))
        s.chop(1);
    if (s == QLatin1String("-0"))
        s = QStringLiteral("0");
    return s;
}

int cmdTextpath(const QString& family, double px, int weight, double x, double y,
                const QString& text, double spacing) {
    QFont f(family);
    f.setPixelSize(int(px));
    f.setWeight(QFont::Weight(weight));
    f.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
    f.setHintingPreference(QFont::PreferNoHinting);
    QPainterPath path;
    path.addText(x, y, f, text);
    QString d;
    for (int i = 0; i < path.elementCount(); ++i) {
        const QPainterPath::Element e = path.elementAt(i);
        switch (e.type) {
            case QPainterPath::MoveToElement:
                d += QStringLiteral("M%1 %2").arg(num(e.x), num(e.y));
                break;
            case QPainterPath::LineToElement:
                d += QStringLiteral("L%1 %2").arg(num(e.x), num(e.y));
                break;
            case QPainterPath::CurveToElement: {
                const QPainterPath::Element c2 = path.elementAt(i + 1);
                const QPainterPath::Element to = path.elementAt(i + 2);
                d += QStringLiteral("C%1 %2 %3 %4 %5 %6")
                         .arg(num(e.x), num(e.y), num(c2.x), num(c2.y), num(to.x), num(to.y));
                i += 2;
                break;
            }
            case QPainterPath::CurveToDataElement:
                break;
        }
    }
    const QRectF b = path.boundingRect();
    err << "bounds x " << b.left() << ".." << b.right() << " y " << b.top() << ".." << b.bottom()
        << " (resolved " << QFontInfo(f).family() << ")\n";
    out << d << "\n";
    return 0;
}

// --- Panel preview -----------------------------------------------------------------------

enum class Align { Left, Right, Centre };

struct Label {
    const char* name;
    QRect box;
    const char* caption;
    const char* family;
    double points;
    bool bold;
    QColor colour;
    bool opaque;
    Align align;
};

struct Line {
    QPoint from, to;
};

const QColor kCyan(0, 192, 192);
const QColor kLegend(128, 128, 128);
const QColor kOrange(255, 128, 0);

// Front to back, as the window stacks them (lines sit among the labels at their own rank).
struct Item {
    bool isLine;
    Label label;
    Line line;
};

std::vector<Item> labelsAndLines() {
    auto L = [](const char* n, QRect r, const char* c, double pt, bool bold, QColor col,
                bool opaque, Align a, const char* fam = "Arial") {
        return Item{false, Label{n, r, c, fam, pt, bold, col, opaque, a}, {}};
    };
    auto Ln = [](QPoint a, QPoint b) { return Item{true, {}, Line{a, b}}; };
    // Sample run-time texts stand in for the design-time captions of the display.
    return {
        L("Label8", {40, 408, 41, 17}, "Ch. A/B", 6.75, true, kLegend, false, Align::Left),
        Ln({32, 64}, {224, 64}),
        L("Hold_icon", {184, 102, 41, 17}, "", 9.75, true, kOrange, true, Align::Centre),
        L("Label12", {152, 248, 33, 17}, " Hold", 6.75, true, kLegend, false, Align::Centre),
        L("Rel_Label", {168, 64, 57, 17}, "absolute", 8.25, false, kCyan, true, Align::Centre),
        L("Label11", {129, 224, 57, 17}, "  Relativity", 6.75, true, kLegend, false, Align::Left),
        Ln({32, 152}, {224, 152}),
        L("Label4", {80, 136, 41, 17}, "-12.41", 8.25, false, kCyan, true, Align::Right),
        L("Label6", {152, 136, 41, 17}, "-12.18", 8.25, false, kCyan, true, Align::Right),
        L("Label2", {40, 136, 41, 17}, "Min/Max", 8.25, false, kCyan, true, Align::Centre),
        L("Label3", {120, 136, 33, 17}, "mV", 8.25, false, kCyan, true, Align::Centre),
        L("Label7", {192, 136, 33, 17}, "mV", 8.25, false, kCyan, true, Align::Centre),
        L("Label17", {88, 392, 33, 17}, "Input", 9, true, kLegend, false, Align::Left),
        L("Selection_Info5", {48, 176, 65, 17}, "Analogue", 8.25, false, kCyan, false, Align::Left),
        L("Function_Knob", {88, 296, 81, 65}, "", 8.25, false, kLegend, false, Align::Left),
        L("Label15", {88, 448, 41, 17}, "Input", 6.75, true, kLegend, false, Align::Left),
        L("Label14", {40, 448, 41, 17}, " Domain", 6.75, true, kLegend, false, Align::Left),
        L("Channel_Indicator", {88, 160, 17, 17}, "A", 8.25, false, kCyan, true, Align::Centre),
        L("Channel_Label", {48, 160, 57, 17}, "Channel", 8.25, false, kCyan, true, Align::Left),
        L("Other_Label", {192, 312, 41, 17}, "Other", 9, true, kLegend, false, Align::Left),
        L("THDN_function_button", {176, 288, 49, 17}, "THD+N", 9, true, kLegend, false,
          Align::Left),
        L("Noise_Function_button", {144, 264, 49, 17}, "Noise", 9, true, kLegend, false,
          Align::Left),
        L("Crosstalk_Function_Button", {56, 264, 65, 17}, "Cross-talk", 9, true, kLegend, false,
          Align::Left),
        L("Balance_Function_button", {40, 288, 49, 17}, "Balance", 9, true, kLegend, false,
          Align::Left),
        L("OFF_button", {48, 344, 25, 17}, "Off", 9, true, kLegend, false, Align::Left),
        L("Selection_Info4", {120, 176, 105, 17}, "", 8.25, false, kCyan, false, Align::Left),
        L("Selection_Info2", {120, 160, 97, 17}, "XLR balanced", 8.25, false, kCyan, false,
          Align::Left),
        L("Selection_Info1", {48, 40, 169, 25}, "Amplitude", 9.75, false, kCyan, true,
          Align::Centre),
        L("Level_Function_button", {40, 312, 41, 17}, "Ampl", 9, true, kLegend, false, Align::Left),
        L("Units_Label", {192, 224, 33, 17}, " Units", 6.75, true, kLegend, false, Align::Left),
        L("Weighting_Label", {72, 224, 57, 17}, "  Weighting", 6.75, true, kLegend, false,
          Align::Left),
        L("Response_Label", {24, 224, 57, 17}, "  Response", 6.75, true, kLegend, false,
          Align::Left),
        L("Reset_Label", {72, 248, 73, 17}, " Reset Min/Max", 6.75, true, kLegend, false,
          Align::Left),
        L("Label5", {104, 64, 57, 17}, "A weighted", 8.25, false, kCyan, true, Align::Centre),
        L("Label10", {40, 64, 57, 17}, "RMS", 8.25, false, kCyan, true, Align::Centre),
        L("Label9", {183, 85, 41, 17}, "mV", 9.75, true, kCyan, true, Align::Centre),
        L("Label1", {40, 88, 145, 41}, "-12.30", 24, false, kCyan, true, Align::Right,
          "LCD Display Grid"),
    };
}

struct Picture {
    const char* name;
    QPoint at;
    const char* file;  // raised picture; the pressed one adds "_pressed"
};

// Keys front to back; each picture button lies over its pressed picture.
const std::vector<Picture> kKeys = {
    {"Hold_button", {184, 240}, "key_orange"},  {"Relativity_button", {136, 200}, "key_grey"},
    {"InputSel_button", {80, 424}, "key_grey"}, {"AnaDig_button", {40, 424}, "key_grey"},
    {"Channel_button", {40, 384}, "key_grey"},  {"Units2_Button", {184, 200}, "key_grey"},
    {"Resp_button", {32, 200}, "key_grey"},     {"Reset_button", {32, 240}, "key_blue"},
    {"Weight_button", {80, 200}, "key_grey"},
};

const QPoint kLamps[6] = {{84, 313}, {94, 294}, {112, 282}, {130, 282}, {149, 294}, {158, 312}};

void drawLabel(QPainter& p, const Label& l) {
    p.save();
    p.setClipRect(l.box);
    if (l.opaque)
        p.fillRect(l.box, Qt::black);
    QFont f(QString::fromLatin1(l.family));
    f.setPointSizeF(l.points);
    f.setBold(l.bold);
    p.setFont(f);
    p.setPen(l.colour);
    const Qt::Alignment h = l.align == Align::Left    ? Qt::AlignLeft
                            : l.align == Align::Right ? Qt::AlignRight
                                                      : Qt::AlignHCenter;
    p.drawText(l.box, int(h | Qt::AlignVCenter), QString::fromLatin1(l.caption));
    p.restore();
}

int cmdPanel(const QString& dir, const QString& png, double scale, int lit,
             const QStringList& pressed) {
    const QString ttf = dir + QStringLiteral("/fonts/VantelSegment-Regular.ttf");
    const int id = QFontDatabase::addApplicationFont(ttf);
    if (id < 0) {
        err << "cannot load " << ttf << "\n";
        return 1;
    }
    QFont::insertSubstitution(QStringLiteral("LCD Display Grid"),
                              QFontDatabase::applicationFontFamilies(id).value(0));

    // The window's own background shows in the 4-pixel strip at the right.
    QImage img = canvas(QSizeF(271, 538), scale, QColor(0xf0, 0xf0, 0xf0));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    if (!renderSvg(dir + QStringLiteral("/panel.svg"), p, QRectF(0, 0, 267, 539)))
        return 1;

    // Labels and lines, back to front.
    const auto items = labelsAndLines();
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
        if (it->isLine) {
            QPen pen(QColor(64, 64, 64), 2);
            pen.setCapStyle(Qt::FlatCap);
            p.save();
            p.setRenderHint(QPainter::Antialiasing, false);
            p.setPen(pen);
            p.drawLine(it->line.from, it->line.to);
            p.restore();
        } else {
            drawLabel(p, it->label);
        }
    }

    // Picture boxes show their picture from the top-left corner, clipped to the box.
    auto picture = [&](QPoint at, QSize box, const QString& file, QSize picSize) {
        p.save();
        p.setClipRect(QRect(at, box));
        renderSvg(dir + QLatin1Char('/') + file + QStringLiteral(".svg"), p, QRectF(at, picSize));
        p.restore();
    };
    for (int i = 5; i >= 0; --i)
        if (lit < 0 || i == lit)
            picture(kLamps[i], QSize(17, 17), QStringLiteral("lamp"), QSize(18, 20));
    for (auto it = kKeys.rbegin(); it != kKeys.rend(); ++it) {
        const bool down = pressed.contains(QString::fromLatin1(it->name));
        picture(it->at, QSize(41, 25),
                QString::fromLatin1(it->file) + (down ? QStringLiteral("_pressed") : QString()),
                QSize(42, 25));
    }
    p.end();
    if (!img.save(png))
        return 1;
    out << "panel -> " << png << " @" << scale << "x\n";
    return 0;
}

// --- Artwork invariants ------------------------------------------------------------------
// The pictures only work together if some pixels are exactly right: a key's background is
// the panel behind it, a lamp's background is the dial plate, the display window is pure
// black, legends sit on plain panel. Colours as drawn by tools/art/draw_art.py.
const QRgb kFace = qRgb(0x2a, 0x2c, 0x2f);
const QRgb kPlate = qRgb(0x16, 0x17, 0x18);
const QRgb kSurround = qRgb(0xf0, 0xf0, 0xf0);

QImage renderAt1x(const QString& file, QSize expected, int& failures) {
    QSvgRenderer r(file);
    const QSize size = r.viewBoxF().size().toSize();
    if (!r.isValid() || size != expected) {
        err << file << ": expected " << expected.width() << " x " << expected.height() << ", got "
            << size.width() << " x " << size.height() << "\n";
        ++failures;
    }
    QImage img(expected, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    r.render(&p, QRectF(QPointF(0, 0), QSizeF(expected)));
    return img;
}

// Counts pixels of `img` inside `area` (optionally only its border) that are not `want`.
int mismatches(const QImage& img, QRect area, QRgb want, bool borderOnly) {
    int bad = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const bool border =
                x == area.left() || x == area.right() || y == area.top() || y == area.bottom();
            if (borderOnly && !border)
                continue;
            if ((img.pixel(x, y) | 0xff000000) != (want | 0xff000000) ||
                qAlpha(img.pixel(x, y)) != 255)
                ++bad;
        }
    return bad;
}

int check(const QString& what, int bad) {
    out << (bad == 0 ? "ok    " : "FAIL  ") << what;
    if (bad)
        out << " (" << bad << " pixels)";
    out << "\n";
    return bad ? 1 : 0;
}

int cmdVerify(const QString& dir) {
    int failures = 0;
    const QImage panel = renderAt1x(dir + QStringLiteral("/panel.svg"), QSize(267, 539), failures);

    failures +=
        check(QStringLiteral("display window x 39..223, y 36..193 is pure black"),
              mismatches(panel, QRect(QPoint(39, 36), QPoint(223, 193)), qRgb(0, 0, 0), false));
    failures += check(QStringLiteral("right edge x 265..266 is the surround colour"),
                      mismatches(panel, QRect(265, 0, 2, 539), kSurround, false));
    for (const Picture& k : kKeys)
        failures += check(QStringLiteral("panel is plain under %1").arg(QLatin1String(k.name)),
                          mismatches(panel, QRect(k.at, QSize(41, 25)), kFace, false));
    for (int i = 0; i < 6; ++i)
        failures += check(QStringLiteral("dial plate round Blip %1's box").arg(i),
                          mismatches(panel, QRect(kLamps[i], QSize(17, 17)), kPlate, true));

    for (const char* key : {"key_grey", "key_orange", "key_blue"})
        for (const char* state : {"", "_pressed"}) {
            const QString name = QLatin1String(key) + QLatin1String(state);
            const QImage img = renderAt1x(dir + QLatin1Char('/') + name + QStringLiteral(".svg"),
                                          QSize(42, 25), failures);
            failures += check(name + QStringLiteral(" edge is panel grey"),
                              mismatches(img, QRect(0, 0, 41, 25), kFace, true));
        }
    const QImage lamp = renderAt1x(dir + QStringLiteral("/lamp.svg"), QSize(18, 20), failures);
    failures += check(QStringLiteral("lamp edge is dial plate"),
                      mismatches(lamp, QRect(0, 0, 17, 17), kPlate, true));
    renderAt1x(dir + QStringLiteral("/icon.svg"), QSize(32, 32), failures);

    // Legend text, where the program prints it (top-aligned or centred), must fall on plain
    // panel so that grey on grey stays readable.
    for (const Item& it : labelsAndLines()) {
        if (it.isLine || it.label.colour != kLegend || !*it.label.caption)
            continue;
        const Label& l = it.label;
        QImage mask(panel.size(), QImage::Format_Grayscale8);
        mask.fill(0);
        QPainter p(&mask);
        QFont f(QString::fromLatin1(l.family));
        f.setPointSizeF(l.points);
        f.setBold(l.bold);
        p.setFont(f);
        p.setPen(Qt::white);
        const Qt::Alignment h = l.align == Align::Left    ? Qt::AlignLeft
                                : l.align == Align::Right ? Qt::AlignRight
                                                          : Qt::AlignHCenter;
        p.setClipRect(l.box);
        for (Qt::Alignment v : {Qt::AlignTop, Qt::AlignVCenter})
            p.drawText(l.box, int(h | v), QString::fromLatin1(l.caption));
        p.end();
        int bad = 0;
        QRect where;
        for (int y = l.box.top(); y <= l.box.bottom(); ++y)
            for (int x = l.box.left(); x <= l.box.right(); ++x) {
                const bool ink = qGray(mask.pixel(x, y)) > 0;
                if (ink && (panel.pixel(x, y) | 0xff000000) != (kFace | 0xff000000)) {
                    ++bad;
                    where |= QRect(x, y, 1, 1);
                }
            }
        failures += check(QStringLiteral("legend \"%1\" sits on plain panel%2")
                              .arg(QString::fromLatin1(l.caption).trimmed(),
                                   bad ? QStringLiteral(", not at x %1..%2 y %3..%4")
                                             .arg(where.left())
                                             .arg(where.right())
                                             .arg(where.top())
                                             .arg(where.bottom())
                                       : QString()),
                          bad);
    }
    out << (failures ? "artwork check failed\n" : "artwork check passed\n");
    return failures ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList a = app.arguments();
    const QString cmd = a.value(1);
    if (cmd == QLatin1String("render") && a.size() == 5)
        return cmdRender(a[2], a[3], a[4].toDouble());
    if (cmd == QLatin1String("fontcheck") && a.size() == 4)
        return cmdFontcheck(a[2], a[3]);
    if (cmd == QLatin1String("textpath") && a.size() >= 8)
        return cmdTextpath(a[2], a[3].toDouble(), a[4].toInt(), a[5].toDouble(), a[6].toDouble(),
                           a[7], a.value(8, QStringLiteral("0")).toDouble());
    if (cmd == QLatin1String("panel") && a.size() >= 5)
        return cmdPanel(a[2], a[3], a[4].toDouble(), a.value(5, QStringLiteral("0")).toInt(),
                        a.mid(6));
    if (cmd == QLatin1String("verify") && a.size() == 3)
        return cmdVerify(a[2]);
    err << "usage: art-preview render|fontcheck|textpath|panel|verify ...\n";
    return 2;
}
