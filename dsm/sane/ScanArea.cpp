#include "dsm/sane/ScanArea.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

namespace sanebridge {

namespace {

const OptionDesc* FindAreaOption(const std::vector<OptionDesc>& options, const char* name) {
    for (const OptionDesc& option : options) {
        if (option.name != name)
            continue;
        const bool numeric = option.type == OptionType::Int || option.type == OptionType::Fixed;
        if (!numeric || !option.active || !option.settable ||
            option.constraint != Constraint::Range || option.numbers.empty() ||
            option.max < option.min)
            return nullptr;
        return &option;
    }
    return nullptr;
}

double Clamp(double value, double low, double high) {
    return std::max(low, std::min(value, high));
}

} // namespace

bool AreaFromOptions(const std::vector<OptionDesc>& options, QRectF* bed, QRectF* area) {
    const OptionDesc* left = FindAreaOption(options, "tl-x");
    const OptionDesc* top = FindAreaOption(options, "tl-y");
    const OptionDesc* right = FindAreaOption(options, "br-x");
    const OptionDesc* bottom = FindAreaOption(options, "br-y");
    if (!left || !top || !right || !bottom)
        return false;
    const QRectF bedRect(QPointF(left->min, top->min), QPointF(right->max, bottom->max));
    // A bed without extent cannot be drawn on, and every mapping into the view would divide by 0.
    if (!(bedRect.width() > 0) || !(bedRect.height() > 0))
        return false;
    // Devices report the area as they hold it, which may lie partly outside the ranges or have its
    // corners swapped; the pane shows what a scan would get.
    const QRectF areaRect = QRectF(QPointF(left->numbers.front(), top->numbers.front()),
                                   QPointF(right->numbers.front(), bottom->numbers.front()))
                                .normalized();
    if (bed)
        *bed = bedRect;
    if (area) {
        const QPointF topLeft(Clamp(areaRect.left(), bedRect.left(), bedRect.right()),
                              Clamp(areaRect.top(), bedRect.top(), bedRect.bottom()));
        const QPointF bottomRight(Clamp(areaRect.right(), bedRect.left(), bedRect.right()),
                                  Clamp(areaRect.bottom(), bedRect.top(), bedRect.bottom()));
        *area = QRectF(topLeft, bottomRight);
    }
    return true;
}

Grip GripAt(const QRectF& area, const QPointF& point, double tolerance) {
    if (area.isNull())
        return Grip::None;
    const QRectF rect = area.normalized();
    const double x = point.x(), y = point.y();
    const bool withinX = x >= rect.left() - tolerance && x <= rect.right() + tolerance;
    const bool withinY = y >= rect.top() - tolerance && y <= rect.bottom() + tolerance;
    if (!withinX || !withinY)
        return Grip::None;
    // On an area narrower than twice the tolerance both edges are in reach: the nearer one wins.
    const double toLeft = std::abs(x - rect.left()), toRight = std::abs(x - rect.right());
    const double toTop = std::abs(y - rect.top()), toBottom = std::abs(y - rect.bottom());
    const bool left = toLeft <= tolerance && toLeft <= toRight;
    const bool right = !left && toRight <= tolerance;
    const bool top = toTop <= tolerance && toTop <= toBottom;
    const bool bottom = !top && toBottom <= tolerance;
    if (top && left)
        return Grip::TopLeft;
    if (top && right)
        return Grip::TopRight;
    if (bottom && left)
        return Grip::BottomLeft;
    if (bottom && right)
        return Grip::BottomRight;
    if (left)
        return Grip::Left;
    if (right)
        return Grip::Right;
    if (top)
        return Grip::Top;
    if (bottom)
        return Grip::Bottom;
    if (rect.contains(point))
        return Grip::Inside;
    return Grip::None;
}

QRectF DraggedArea(const QRectF& start, Grip grip, const QPointF& from, const QPointF& to,
                   const QRectF& bed) {
    const QRectF b = bed.normalized();
    const auto clampX = [&](double x) { return Clamp(x, b.left(), b.right()); };
    const auto clampY = [&](double y) { return Clamp(y, b.top(), b.bottom()); };
    const double dx = to.x() - from.x(), dy = to.y() - from.y();
    const QRectF s = start.normalized();

    if (grip == Grip::None) {
        return QRectF(QPointF(clampX(from.x()), clampY(from.y())),
                      QPointF(clampX(to.x()), clampY(to.y())))
            .normalized();
    }
    if (grip == Grip::Inside) {
        // Shifted back rather than cut at the bed's edge, so the area keeps its size while it is
        // pushed against the edge.
        const double width = std::min(s.width(), b.width());
        const double height = std::min(s.height(), b.height());
        const double left = Clamp(s.left() + dx, b.left(), b.right() - width);
        const double top = Clamp(s.top() + dy, b.top(), b.bottom() - height);
        return QRectF(left, top, width, height);
    }

    double left = s.left(), top = s.top(), right = s.right(), bottom = s.bottom();
    if (grip == Grip::Left || grip == Grip::TopLeft || grip == Grip::BottomLeft)
        left = clampX(left + dx);
    if (grip == Grip::Right || grip == Grip::TopRight || grip == Grip::BottomRight)
        right = clampX(right + dx);
    if (grip == Grip::Top || grip == Grip::TopLeft || grip == Grip::TopRight)
        top = clampY(top + dy);
    if (grip == Grip::Bottom || grip == Grip::BottomLeft || grip == Grip::BottomRight)
        bottom = clampY(bottom + dy);
    // The untouched edges of an area that lay partly outside the bed are brought in as well.
    return QRectF(QPointF(clampX(left), clampY(top)), QPointF(clampX(right), clampY(bottom)))
        .normalized();
}

QRectF DocumentArea(const QImage& preview, const QRectF& bed, double margin) {
    const QRectF b = bed.normalized();
    if (preview.isNull() || !(b.width() > 0) || !(b.height() > 0))
        return QRectF();
    const QImage image =
        preview.format() == QImage::Format_RGB32 || preview.format() == QImage::Format_ARGB32
            ? preview
            : preview.convertToFormat(QImage::Format_RGB32);
    const int width = image.width(), height = image.height();

    // The bed's white per channel: a lid that is slightly grey or tinted, or a scanner that never
    // reaches 255, is still the background. A high percentile rather than the maximum, so that a
    // few overshooting pixels (JPEG ringing, dust glinting) do not set it.
    std::array<std::array<int, 256>, 3> histogram{};
    const int rowStep = height > 200 ? 2 : 1; // every other row estimates the white well enough
    int sampled = 0;
    for (int y = 0; y < height; y += rowStep) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            ++histogram[0][qRed(line[x])];
            ++histogram[1][qGreen(line[x])];
            ++histogram[2][qBlue(line[x])];
        }
        sampled += width;
    }
    // Up to 2 % of the bed may be brighter than its white.
    const int aboveWhite = sampled / 50;
    std::array<int, 3> white{};
    for (int c = 0; c < 3; ++c) {
        int count = 0, level = 255;
        while (level > 0 && count + histogram[c][level] <= aboveWhite)
            count += histogram[c][level--];
        white[c] = level;
    }

    // Clearly darker than the white in any channel: light but coloured marks (a yellow highlighter
    // only darkens blue) count; JPEG noise and an unevenly lit bed (some ten levels) do not.
    constexpr int Darker = 40;
    const int limitRed = white[0] - Darker, limitGreen = white[1] - Darker,
              limitBlue = white[2] - Darker;
    std::vector<int> columns(size_t(width), 0), rows(size_t(height), 0);
    for (int y = 0; y < height; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        int inRow = 0;
        for (int x = 0; x < width; ++x) {
            const QRgb pixel = line[x];
            if (qRed(pixel) < limitRed || qGreen(pixel) < limitGreen || qBlue(pixel) < limitBlue) {
                ++columns[size_t(x)];
                ++inRow;
            }
        }
        rows[size_t(y)] = inRow;
    }

    // Dust and specks on the glass are a few pixels: a row or column is the document's only
    // with more content than that.
    constexpr int MinContent = 4;
    const auto first = [](const std::vector<int>& counts) {
        const auto it = std::find_if(counts.begin(), counts.end(),
                                     [](int count) { return count >= MinContent; });
        return int(it - counts.begin());
    };
    const auto last = [](const std::vector<int>& counts) {
        const auto it = std::find_if(counts.rbegin(), counts.rend(),
                                     [](int count) { return count >= MinContent; });
        return int(counts.rend() - it) - 1;
    };
    const int left = first(columns), right = last(columns);
    const int top = first(rows), bottom = last(rows);
    if (left > right || top > bottom)
        return QRectF();

    const double scaleX = b.width() / width, scaleY = b.height() / height;
    const QRectF found(QPointF(b.left() + left * scaleX, b.top() + top * scaleY),
                       QPointF(b.left() + (right + 1) * scaleX, b.top() + (bottom + 1) * scaleY));
    return found.adjusted(-margin, -margin, margin, margin).intersected(b);
}

} // namespace sanebridge
