#include "gui/schedule/control_icons.h"

#include <QPainter>
#include <QPainterPath>

#include "gui/views/glyph_kit.h"

namespace kelvora::panel {

namespace {

// Every picture is designed on a 32 x 32 grid.
constexpr double kGrid = 32;

const QColor kInk(40, 40, 48);
const QColor kTestBlue(30, 90, 200);
const QColor kStopRed(200, 30, 30);

// A stopwatch face: the crown on top, the dial below it.
void DrawStopwatch(QPainter& p, const QColor& rim) {
    p.setPen(Qt::NoPen);
    p.setBrush(rim);
    p.drawRect(QRectF(14, 2, 4, 4));
    p.setPen(QPen(rim, 2.5));
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(5, 6, 22, 22));
}

void DrawTenSeconds(QPainter& p) {
    DrawStopwatch(p, kTestBlue);
    QFont f = p.font();
    f.setPixelSize(11);
    f.setBold(true);
    p.setFont(f);
    p.setPen(kInk);
    p.drawText(QRectF(5, 6, 22, 22), Qt::AlignCenter, QStringLiteral("10"));
}

void DrawMinutes(QPainter& p) {
    DrawStopwatch(p, kTestBlue);
    p.setPen(QPen(kInk, 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(16, 17), QPointF(16, 10));
    p.drawLine(QPointF(16, 17), QPointF(21, 20));
    p.setPen(QPen(kInk, 1));
    for (int i = 0; i < 12; ++i) {
        p.save();
        p.translate(16, 17);
        p.rotate(30.0 * i);
        p.drawLine(QPointF(0, -9.5), QPointF(0, -8));
        p.restore();
    }
}

void DrawUntilLow(QPainter& p) {
    gui::DrawBattery(p, QRectF(2, 9, 26, 14), 0.15, kStopRed);
    // A downward arrow: the test runs the battery down.
    QPainterPath arrow;
    arrow.moveTo(22, 24);
    arrow.lineTo(30, 24);
    arrow.lineTo(26, 31);
    arrow.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(kStopRed);
    p.drawPath(arrow);
}

void DrawCancel(QPainter& p) {
    DrawStopwatch(p, QColor(120, 120, 130));
    p.setPen(QPen(kStopRed, 3.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(9, 10), QPointF(23, 24));
    p.drawLine(QPointF(23, 10), QPointF(9, 24));
}

void DrawBeeper(QPainter& p) {
    QPainterPath speaker;
    speaker.moveTo(4, 12);
    speaker.lineTo(9, 12);
    speaker.lineTo(16, 6);
    speaker.lineTo(16, 26);
    speaker.lineTo(9, 20);
    speaker.lineTo(4, 20);
    speaker.closeSubpath();
    p.setPen(QPen(kInk, 1.2));
    p.setBrush(QColor(240, 190, 40));
    p.drawPath(speaker);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kInk, 2, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(14, 10, 8, 12), -60 * 16, 120 * 16);
    p.drawArc(QRectF(14, 6, 14, 20), -60 * 16, 120 * 16);
}

void DrawShutDown(QPainter& p) {
    p.setPen(QPen(kStopRed, 3.5, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(6, 7, 20, 20), 120 * 16, 300 * 16);
    p.drawLine(QPointF(16, 4), QPointF(16, 16));
}

}  // namespace

QPixmap ControlPicture(int command, bool pressed, qreal pixelRatio) {
    if (command < 0 || command >= kControlCommandCount) return {};
    const int side = qRound(kControlIconSize * pixelRatio);
    QPixmap pixmap(side, side);
    pixmap.setDevicePixelRatio(pixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    gui::FitDesign(p, QRectF(0, 0, kControlIconSize, kControlIconSize), kGrid, kGrid);
    if (pressed) {
        // Pushed in: a sunken grey plate, the picture a little down and to the right.
        p.setPen(QPen(QColor(90, 90, 90), 1));
        p.setBrush(QColor(200, 200, 205));
        p.drawRect(QRectF(0.5, 0.5, kGrid - 1, kGrid - 1));
        p.translate(1.5, 1.5);
        p.scale(0.92, 0.92);
    }
    switch (command) {
        case kControlTest10Seconds:
            DrawTenSeconds(p);
            break;
        case kControlTestMinutes:
            DrawMinutes(p);
            break;
        case kControlTestUntilLow:
            DrawUntilLow(p);
            break;
        case kControlCancelTest:
            DrawCancel(p);
            break;
        case kControlToggleBeeper:
            DrawBeeper(p);
            break;
        default:
            DrawShutDown(p);
            break;
    }
    return pixmap;
}

}  // namespace kelvora::panel
