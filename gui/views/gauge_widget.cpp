#include "gui/views/gauge_widget.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include "gui/views/glyph_kit.h"

namespace kelvora::gui {

namespace {

constexpr double kStartDeg = 225;  // where the scale's minimum sits, counter-clockwise from east
constexpr double kSweepDeg = 270;  // clockwise extent of the scale
constexpr int kMaxTicks = 400;     // a mistaken tiny interval must not stall painting

const QColor kLowZone(240, 170, 30);
const QColor kMiddleZone(60, 170, 75);
const QColor kHighZone(215, 50, 45);
const QColor kSecondScale(30, 80, 160);

// Fraction of the way along [from, to], held to the ends.
double Fraction(double v, double from, double to) {
    if (!(to > from)) return 0;
    return std::clamp((v - from) / (to - from), 0.0, 1.0);
}

double AngleDeg(double fraction) {
    return kStartDeg - kSweepDeg * fraction;
}

QPointF Polar(QPointF centre, double radius, double deg) {
    const double rad = deg * std::numbers::pi / 180;
    return {centre.x() + radius * std::cos(rad), centre.y() - radius * std::sin(rad)};
}

// Calls f for each tick value of the set that lies within [lo, hi].
template <typename F>
void ForEachTick(const TickSet& ticks, double lo, double hi, F f) {
    if (!(ticks.interval > 0)) return;
    const double eps = ticks.interval * 1e-6;
    for (int i = 0; i < kMaxTicks; ++i) {
        const double t = ticks.from + i * ticks.interval;
        if (t > ticks.to + eps) break;
        if (t < lo - eps || t > hi + eps) continue;
        f(t);
    }
}

bool OnTick(const TickSet& ticks, double v) {
    if (!(ticks.interval > 0)) return false;
    const double eps = ticks.interval * 1e-6;
    if (v < ticks.from - eps || v > ticks.to + eps) return false;
    const double steps = (v - ticks.from) / ticks.interval;
    return std::abs(steps - std::round(steps)) < 1e-6;
}

// A round step (1, 2 or 5 times a power of ten) giving about `count` intervals over span.
double NiceStep(double span, int count) {
    const double raw = span / count;
    const double mag = std::pow(10, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0}) {
        if (m * mag >= raw) return m * mag;
    }
    return 10 * mag;
}

QString Label(double v) {
    return QString::number(v, 'g', 6);
}

void DrawTextAt(QPainter& p, QPointF centre, const QString& text) {
    const QFontMetricsF fm(p.font());
    const QRectF box(centre.x() - fm.horizontalAdvance(text) / 2, centre.y() - fm.height() / 2,
                     fm.horizontalAdvance(text), fm.height());
    p.drawText(box, Qt::AlignCenter, text);
}

}  // namespace

GaugeWidget::GaugeWidget(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void GaugeWidget::SetRange(double min, double max) {
    range_ = {min, max};
    update();
}

void GaugeWidget::SetMajorTicks(double from, double to, double interval) {
    major_ = {from, to, interval};
    update();
}

void GaugeWidget::SetMinorTicks(double from, double to, double interval) {
    minor_ = {from, to, interval};
    update();
}

void GaugeWidget::SetZones(Span low, Span middle, Span high) {
    low_ = low;
    middle_ = middle;
    high_ = high;
    update();
}

void GaugeWidget::SetSecondScale(double min, double max) {
    second_ = Span{min, max};
    update();
}

void GaugeWidget::SetValue(double value) {
    value_ = value;
    update();
}

void GaugeWidget::SetCaption(const QString& caption) {
    caption_ = caption;
    update();
}

void GaugeWidget::mousePressEvent(QMouseEvent* event) {
    event->accept();
    emit clicked();
}

void GaugeWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    // The caption strip takes the bottom; the dial is as large as fits above it. The arc leaves
    // the lower quarter open, so the dial needs only about 1.75 radii of height.
    const double w = width();
    const double h = height();
    const double captionH = std::clamp(h * 0.14, 18.0, 30.0);
    const double dialH = h - captionH - 4;
    const double radius = std::max(10.0, std::min(w / 2 - 3, dialH / 1.75));
    const QPointF c(w / 2, 3 + radius);

    // Face and rim.
    QRadialGradient face(c, radius, QPointF(c.x() - radius * 0.3, c.y() - radius * 0.4));
    face.setColorAt(0, QColor(255, 255, 255));
    face.setColorAt(1, QColor(222, 226, 232));
    p.setPen(QPen(QColor(70, 75, 85), std::max(1.5, radius * 0.035)));
    p.setBrush(face);
    p.drawEllipse(c, radius, radius);

    const double lo = range_.from;
    const double hi = range_.to;
    auto angle = [&](double v) { return AngleDeg(Fraction(v, lo, hi)); };

    // Zones: a band just inside the rim, under the ticks.
    const double bandOuter = radius * 0.92;
    const double bandInner = radius * 0.82;
    const double bandMid = (bandOuter + bandInner) / 2;
    const QRectF bandRect(c.x() - bandMid, c.y() - bandMid, 2 * bandMid, 2 * bandMid);
    auto drawZone = [&](Span z, const QColor& colour) {
        if (!(z.to > z.from)) return;
        const double a0 = angle(z.from);
        const double a1 = angle(z.to);
        if (a0 - a1 <= 0) return;
        p.setPen(QPen(colour, bandOuter - bandInner, Qt::SolidLine, Qt::FlatCap));
        p.setBrush(Qt::NoBrush);
        p.drawArc(bandRect, qRound(a0 * 16), qRound((a1 - a0) * 16));
    };
    drawZone(low_, kLowZone);
    drawZone(middle_, kMiddleZone);
    drawZone(high_, kHighZone);

    // Minor then major ticks, with the major values inside them.
    const QColor ink(35, 38, 45);
    p.setPen(QPen(ink, std::max(1.0, radius * 0.012), Qt::SolidLine, Qt::FlatCap));
    ForEachTick(minor_, lo, hi, [&](double t) {
        if (OnTick(major_, t)) return;
        const double a = angle(t);
        p.drawLine(Polar(c, radius * 0.86, a), Polar(c, bandOuter, a));
    });
    p.setPen(QPen(ink, std::max(1.5, radius * 0.03), Qt::SolidLine, Qt::FlatCap));
    ForEachTick(major_, lo, hi, [&](double t) {
        const double a = angle(t);
        p.drawLine(Polar(c, radius * 0.76, a), Polar(c, bandOuter, a));
    });
    QFont font = this->font();
    font.setPixelSize(std::max(8, qRound(radius * 0.14)));
    p.setFont(font);
    p.setPen(ink);
    ForEachTick(major_, lo, hi,
                [&](double t) { DrawTextAt(p, Polar(c, radius * 0.60, angle(t)), Label(t)); });

    // The inner scale: same arc, its own round steps, in blue so it reads as a second unit.
    if (second_ && second_->to > second_->from) {
        const Span s = *second_;
        const double step = NiceStep(s.to - s.from, 5);
        const double first = std::ceil(s.from / step) * step;
        auto secondAngle = [&](double v) { return AngleDeg(Fraction(v, s.from, s.to)); };
        p.setPen(QPen(kSecondScale, std::max(1.0, radius * 0.012)));
        p.setBrush(Qt::NoBrush);
        const double arcR = radius * 0.44;
        p.drawArc(QRectF(c.x() - arcR, c.y() - arcR, 2 * arcR, 2 * arcR), qRound(kStartDeg * 16),
                  qRound(-kSweepDeg * 16));
        QFont small = font;
        small.setPixelSize(std::max(7, qRound(radius * 0.10)));
        p.setFont(small);
        ForEachTick({first, s.to, step / 2}, s.from, s.to, [&](double t) {
            const double a = secondAngle(t);
            const bool labelled = OnTick({first, s.to, step}, t);
            p.drawLine(Polar(c, arcR, a), Polar(c, arcR - radius * (labelled ? 0.07 : 0.04), a));
            if (labelled) DrawTextAt(p, Polar(c, radius * 0.30, a), Label(t));
        });
    }

    // Needle: a tapered blade from behind the hub to the ticks, then the hub over its root.
    {
        const double a = angle(value_);
        const double rad = a * std::numbers::pi / 180;
        const QPointF dir(std::cos(rad), -std::sin(rad));
        const QPointF side(-dir.y(), dir.x());
        const double base = radius * 0.035;
        QPainterPath blade;
        blade.moveTo(c + dir * radius * 0.86);
        blade.lineTo(c + side * base - dir * radius * 0.12);
        blade.lineTo(c - side * base - dir * radius * 0.12);
        blade.closeSubpath();
        p.setPen(QPen(QColor(120, 10, 10), 1));
        p.setBrush(QColor(205, 30, 30));
        p.drawPath(blade);
        QRadialGradient hub(c, radius * 0.08, c - QPointF(radius * 0.03, radius * 0.03));
        hub.setColorAt(0, QColor(120, 125, 135));
        hub.setColorAt(1, QColor(30, 32, 38));
        p.setPen(Qt::NoPen);
        p.setBrush(hub);
        p.drawEllipse(c, radius * 0.08, radius * 0.08);
    }

    // Caption in a sunken strip across the bottom.
    DrawCaptionStrip(p, this->font(), caption_, w, h, captionH, radius * 1.5, captionH);
}

}  // namespace kelvora::gui
