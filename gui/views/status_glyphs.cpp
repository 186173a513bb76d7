#include "gui/views/status_glyphs.h"

#include <cmath>
#include <numbers>

#include <QPainterPath>
#include <QRadialGradient>

#include "gui/views/glyph_kit.h"

namespace kelvora::gui {

namespace {

using Kind = AnimatedPicture::Kind;

constexpr double kSize = 48;  // the design square
const QColor kAlarm(215, 35, 35);
const QColor kGood(40, 190, 70);
const QColor kAmber(240, 160, 20);

// Alarms blink: on for the first half of the loop.
bool BlinkOn(int frame) {
    return frame < AnimatedPicture::kFrameCount / 2;
}

double Phase(int frame) {
    return double(frame) / AnimatedPicture::kFrameCount;
}

void Earth(QPainter& p, int frame) {
    const QPointF c(24, 24);
    const double r = 20;
    QRadialGradient sea(c, r, QPointF(17, 16));
    sea.setColorAt(0, QColor(120, 190, 250));
    sea.setColorAt(1, QColor(20, 80, 170));
    p.setPen(Qt::NoPen);
    p.setBrush(sea);
    p.drawEllipse(c, r, r);

    // Land drifts east to west across the face, clipped to the globe.
    QPainterPath globe;
    globe.addEllipse(c, r, r);
    p.save();
    p.setClipPath(globe);
    p.setBrush(QColor(70, 170, 80));
    const double shift = -Phase(frame) * 40;
    for (int copy = 0; copy < 2; ++copy) {
        const double x = shift + copy * 40;
        p.drawEllipse(QRectF(x + 8, 10, 14, 11));
        p.drawEllipse(QRectF(x + 14, 20, 9, 16));
        p.drawEllipse(QRectF(x + 30, 14, 10, 8));
        p.drawEllipse(QRectF(x + 33, 26, 7, 10));
    }
    // Meridians roll with the land.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(255, 255, 255, 110), 1));
    for (int m = 0; m < 4; ++m) {
        const double a = (Phase(frame) + m / 4.0) * std::numbers::pi;
        const double rx = r * std::cos(a);
        p.drawEllipse(c, std::abs(rx), r);
    }
    p.drawLine(QPointF(4, 24), QPointF(44, 24));
    p.drawEllipse(c, r, r * 0.45);
    p.restore();
    p.setPen(QPen(QColor(10, 40, 100), 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(c, r, r);
}

void Disconnected(QPainter& p, int frame) {
    // The plug pulls back from the socket and pushes in again, never reaching it.
    const double gap = 3 + 4 * std::sin(Phase(frame) * 2 * std::numbers::pi) + 4;
    p.save();
    p.translate(-gap, 0);
    DrawPlug(p, QRectF(0, 16, 22, 16), QColor(90, 95, 105));
    p.restore();
    // Socket on the right.
    p.setPen(QPen(QColor(30, 30, 34), 1.5));
    p.setBrush(QColor(235, 235, 230));
    p.drawRoundedRect(QRectF(28, 10, 16, 28), 3, 3);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 30, 34));
    p.drawRect(QRectF(30, 18, 5, 2));
    p.drawRect(QRectF(30, 28, 5, 2));
    if (BlinkOn(frame)) {
        p.setPen(QPen(kAlarm, 3, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(6, 42), QPointF(42, 6));
    }
}

void AcFail(QPainter& p, int frame) {
    // A mains sine wave, struck through while the alarm blinks.
    p.setPen(QPen(QColor(40, 40, 44), 1.5));
    p.setBrush(QColor(255, 245, 200));
    p.drawRoundedRect(QRectF(4, 8, 40, 32), 5, 5);
    QPainterPath wave;
    for (int i = 0; i <= 32; ++i) {
        const double x = 8 + i;
        const double y = 24 - 9 * std::sin(i / 32.0 * 2 * std::numbers::pi);
        if (i == 0) {
            wave.moveTo(x, y);
        } else {
            wave.lineTo(x, y);
        }
    }
    p.setPen(QPen(QColor(30, 90, 200), 2.5, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(wave);
    if (BlinkOn(frame)) {
        p.setPen(QPen(kAlarm, 4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(8, 10), QPointF(40, 38));
        p.drawLine(QPointF(40, 10), QPointF(8, 38));
    }
}

void BatteryLow(QPainter& p, int frame) {
    DrawBattery(p, QRectF(4, 14, 40, 20), BlinkOn(frame) ? 0.18 : 0, kAlarm);
}

void UpsWith(QPainter& p, const QColor& lamp) {
    DrawUpsTower(p, QRectF(6, 4, 22, 40), lamp);
}

void UpsBad(QPainter& p, int frame) {
    UpsWith(p, BlinkOn(frame) ? kAlarm : QColor(90, 20, 20));
    if (!BlinkOn(frame)) return;
    // A warning triangle beside the cabinet.
    QPainterPath tri;
    tri.moveTo(37, 14);
    tri.lineTo(46, 32);
    tri.lineTo(28, 32);
    tri.closeSubpath();
    p.setPen(QPen(QColor(120, 0, 0), 1.2, Qt::SolidLine, Qt::SquareCap, Qt::RoundJoin));
    p.setBrush(QColor(255, 210, 40));
    p.drawPath(tri);
    p.setPen(QPen(QColor(20, 20, 20), 2.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(37, 20), QPointF(37, 26));
    p.drawPoint(QPointF(37, 29.5));
}

void UpsAvr(QPainter& p, int frame) {
    UpsWith(p, kAmber);
    // An up arrow: the voltage being raised; it climbs with the frames.
    const double rise = 4 * Phase(frame);
    p.setPen(Qt::NoPen);
    p.setBrush(kAmber);
    QPainterPath arrow;
    arrow.moveTo(38, 12 - rise);
    arrow.lineTo(46, 22 - rise);
    arrow.lineTo(41, 22 - rise);
    arrow.lineTo(41, 36 - rise);
    arrow.lineTo(35, 36 - rise);
    arrow.lineTo(35, 22 - rise);
    arrow.lineTo(30, 22 - rise);
    arrow.closeSubpath();
    p.setPen(QPen(QColor(120, 70, 0), 1));
    p.drawPath(arrow);
}

void UpsTest(QPainter& p, int frame) {
    UpsWith(p, kGood);
    // A progress gauge filling beside the cabinet, with a tick once full.
    const QRectF tube(32, 8, 10, 34);
    p.setPen(QPen(QColor(40, 42, 48), 1.2));
    p.setBrush(QColor(245, 245, 245));
    p.drawRect(tube);
    const double level = double(frame + 1) / AnimatedPicture::kFrameCount;
    p.setPen(Qt::NoPen);
    p.setBrush(kGood);
    p.drawRect(QRectF(tube.left() + 1.5, tube.bottom() - 1.5 - (tube.height() - 3) * level,
                      tube.width() - 3, (tube.height() - 3) * level));
}

}  // namespace

void PaintStatusGlyph(QPainter& p, AnimatedPicture::Kind kind, int frame, const QRectF& target) {
    p.save();
    FitDesign(p, target, kSize, kSize);
    switch (kind) {
        case Kind::Earth:
            Earth(p, frame);
            break;
        case Kind::Disconnected:
            Disconnected(p, frame);
            break;
        case Kind::AcFail:
            AcFail(p, frame);
            break;
        case Kind::BatteryLow:
            BatteryLow(p, frame);
            break;
        case Kind::UpsBad:
            UpsBad(p, frame);
            break;
        case Kind::UpsAvr:
            UpsAvr(p, frame);
            break;
        case Kind::UpsTest:
            UpsTest(p, frame);
            break;
        default:
            break;
    }
    p.restore();
}

}  // namespace kelvora::gui
