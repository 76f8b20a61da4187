// SPDX-License-Identifier: MIT
// panel_picture_compare LINUX.png WINDOWS.png [DIFFERENCE.png]
//
// The panel under wine against the Linux panel, both at rest on the built-in analyser and
// grabbed from the same X server (wine_tests.sh). The artwork, keys, lamps and lines must
// match pixel for pixel, within rounding. Inside each label the two systems' font rasterisers
// differ in anti-aliasing, hinting and spacing, so there the text is compared blurred, and by
// where its ink lies: it must have the same face, size and colour, on the same line; another
// face (a serif fallback), a missing caption or text moved up or down does not pass. The readings
// (main, minimum and maximum), which move between two runs, are left out. Prints one line per label
// that fails and the figures; exits 1 on any failure. DIFFERENCE.png, when given, shows where the
// two differ.
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

#include "panel/layout_table.h"

namespace {

using namespace vantel;

// A channel may differ by this much outside the labels: rounding in two builds of one renderer.
constexpr int kArtworkTolerance = 8;
// ...on at most this share of the artwork's pixels (edges of anti-aliased curves).
constexpr double kArtworkShare = 0.002;
// Inside a label, after a 5 x 5 box blur, the mean difference of a channel, of 255. Measured on
// Liberation Sans under wine (DirectWrite) against Linux (FreeType): at most 4.9; one legend set
// in a serif face gives 12.1, a missing caption 16.9.
constexpr double kTextMeanTolerance = 8.0;
// The two rasterisers space small bold legends differently (up to 4 px sideways), but set text
// on the same baseline at the same height: within 0.3 px and 1 px measured.
constexpr double kTextRiseTolerance_px = 1.5;
constexpr int kTextHeightTolerance_px = 2;

bool is_reading(Role role) {
    return role == Role::MainReading || role == Role::Minimum || role == Role::Maximum;
}

// The label rectangles in the window's coordinates.
std::vector<const ControlSpec*> labels() {
    std::vector<const ControlSpec*> found;
    for (const ControlSpec& c : panel_controls()) {
        if (c.kind == ControlKind::Label && c.parent.empty())
            found.push_back(&c);
    }
    return found;
}

int channel_difference(QRgb a, QRgb b) {
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                     std::abs(qBlue(a) - qBlue(b))});
}

// The mean over `rect` of each channel's difference after a 5 x 5 box blur of both (the blur
// clamped to `rect`).
double blurred_difference(const QImage& a, const QImage& b, const QRect& rect) {
    double total = 0.0;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x) {
            int difference[3] = {0, 0, 0};  // of the sums over the box, a's less b's
            for (int dy = -2; dy <= 2; ++dy) {
                for (int dx = -2; dx <= 2; ++dx) {
                    const QPoint p(std::clamp(x + dx, rect.left(), rect.right()),
                                   std::clamp(y + dy, rect.top(), rect.bottom()));
                    const QRgb pa = a.pixel(p), pb = b.pixel(p);
                    difference[0] += qRed(pa) - qRed(pb);
                    difference[1] += qGreen(pa) - qGreen(pb);
                    difference[2] += qBlue(pa) - qBlue(pb);
                }
            }
            for (const int d : difference)
                total += std::abs(d) / 25.0;
        }
    }
    const double count = 3.0 * rect.width() * rect.height();
    return count > 0 ? total / count : 0.0;
}

// Where a label's text lies: the pixels that differ from the label's own background (the
// commonest colour in its rectangle) by more than a quarter of full scale.
struct Ink {
    QRect box;            // empty when there is no text
    double amount = 0.0;  // the sum of the differences, of 255
    QPointF centre;       // weighted by the differences
};

Ink ink_of(const QImage& image, const QRect& rect) {
    std::map<QRgb, int> counts;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            ++counts[image.pixel(x, y)];
    const QRgb background =
        std::max_element(counts.begin(), counts.end(), [](const auto& a, const auto& b) {
            return a.second < b.second;
        })->first;
    Ink ink;
    double sx = 0.0, sy = 0.0;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x) {
            const int d = channel_difference(image.pixel(x, y), background);
            if (d < 64)
                continue;
            ink.box |= QRect(x, y, 1, 1);
            ink.amount += d / 255.0;
            sx += x * d / 255.0;
            sy += y * d / 255.0;
        }
    }
    if (ink.amount > 0.0)
        ink.centre = QPointF(sx / ink.amount, sy / ink.amount);
    return ink;
}

}  // namespace

int main(int argc, char** argv) {
    // Pictures only: no display needed.
    qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
    QGuiApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s LINUX.png WINDOWS.png [DIFFERENCE.png]\n", argv[0]);
        return 2;
    }
    const auto load = [](const char* path) {
        return QImage(QString::fromLocal8Bit(path)).convertToFormat(QImage::Format_RGB32);
    };
    const QImage linux_panel = load(argv[1]), windows_panel = load(argv[2]);
    const QSize client(kClientWidth, kClientHeight);
    if (linux_panel.size() != client || windows_panel.size() != client) {
        std::printf("the pictures are %dx%d and %dx%d, the window's client area %dx%d\n",
                    linux_panel.width(), linux_panel.height(), windows_panel.width(),
                    windows_panel.height(), kClientWidth, kClientHeight);
        return 1;
    }

    bool failed = false;
    QImage in_labels(client, QImage::Format_Grayscale8);
    in_labels.fill(0);
    {
        QPainter mark(&in_labels);
        for (const ControlSpec* label : labels())
            mark.fillRect(label->rect, Qt::white);
    }

    int artwork = 0, artwork_off = 0;
    QImage difference = windows_panel.copy();
    for (int y = 0; y < client.height(); ++y) {
        for (int x = 0; x < client.width(); ++x) {
            if (qGray(in_labels.pixel(x, y)) != 0)
                continue;
            ++artwork;
            if (channel_difference(linux_panel.pixel(x, y), windows_panel.pixel(x, y)) >
                kArtworkTolerance) {
                ++artwork_off;
                difference.setPixel(x, y, qRgb(255, 0, 255));
            }
        }
    }
    const double artwork_share = static_cast<double>(artwork_off) / artwork;
    std::printf("artwork: %d of %d pixels differ by more than %d (%.4f %%)\n", artwork_off, artwork,
                kArtworkTolerance, 100.0 * artwork_share);
    if (artwork_share > kArtworkShare)
        failed = true;

    QPainter outline(&difference);
    double worst = 0.0;
    for (const ControlSpec* label : labels()) {
        if (is_reading(label->role)) {
            outline.fillRect(label->rect, QColor(128, 128, 128));
            continue;
        }
        const double mean = blurred_difference(linux_panel, windows_panel, label->rect);
        worst = std::max(worst, mean);
        const Ink a = ink_of(linux_panel, label->rect);
        const Ink b = ink_of(windows_panel, label->rect);
        std::string wrong;
        if (mean > kTextMeanTolerance)
            wrong = "blurred, a mean difference of " + std::to_string(mean) + " of 255";
        else if (a.box.isEmpty() != b.box.isEmpty())
            wrong = a.box.isEmpty() ? "text where Linux has none" : "no text where Linux has some";
        else if (std::abs(b.centre.y() - a.centre.y()) > kTextRiseTolerance_px ||
                 std::abs(b.box.height() - a.box.height()) > kTextHeightTolerance_px)
            wrong = "text " + std::to_string(b.box.height()) + " px high, its middle at " +
                    std::to_string(b.centre.y()) + ", where Linux has " +
                    std::to_string(a.box.height()) + " px at " + std::to_string(a.centre.y());
        if (!wrong.empty()) {
            failed = true;
            outline.setPen(Qt::red);
            outline.drawRect(label->rect.adjusted(0, 0, -1, -1));
            std::printf("label %s \"%s\": %s\n", std::string(label->name).c_str(),
                        std::string(label->caption).c_str(), wrong.c_str());
        }
    }
    outline.end();
    std::printf("labels: the largest blurred mean difference is %.1f of 255 (at most %.1f)\n",
                worst, kTextMeanTolerance);
    if (argc > 3)
        difference.save(QString::fromLocal8Bit(argv[3]));
    return failed ? 1 : 0;
}
