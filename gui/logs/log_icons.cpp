#include "gui/logs/log_icons.h"

#include <functional>

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include "gui/views/glyph_kit.h"

namespace kelvora::panel {

namespace {

// Designed on a 16-unit square with strokes of at least 1.5 units, so the 16-pixel size
// keeps every shape apart.
using Glyph = std::function<void(QPainter&)>;

QIcon MakeIcon(const Glyph& glyph) {
    QIcon icon;
    for (const int size : {16, 32}) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 16.0, size / 16.0);
        glyph(p);
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
}

QPen Stroke(const QColor& c, double w) {
    return QPen(c, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void Information(QPainter& p) {
    p.setPen(Stroke(QColor(20, 70, 150), 1));
    p.setBrush(QColor(50, 120, 210));
    p.drawEllipse(QRectF(1, 1, 14, 14));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(7, 3.5, 2, 2));
    p.drawRect(QRectF(7, 6.5, 2, 6));
}

void Warning(QPainter& p) {
    QPainterPath tri;
    tri.moveTo(8, 1);
    tri.lineTo(15, 14.5);
    tri.lineTo(1, 14.5);
    tri.closeSubpath();
    p.setPen(Stroke(QColor(150, 110, 0), 1));
    p.setBrush(QColor(250, 200, 30));
    p.drawPath(tri);
    p.setPen(Stroke(QColor(40, 30, 0), 2));
    p.drawLine(QPointF(8, 5.5), QPointF(8, 9.5));
    p.drawPoint(QPointF(8, 12.3));
}

void Error(QPainter& p) {
    p.setPen(Stroke(QColor(130, 20, 20), 1));
    p.setBrush(QColor(210, 40, 40));
    p.drawEllipse(QRectF(1, 1, 14, 14));
    p.setPen(Stroke(Qt::white, 2));
    p.drawLine(QPointF(5.5, 5.5), QPointF(10.5, 10.5));
    p.drawLine(QPointF(10.5, 5.5), QPointF(5.5, 10.5));
}

// A plug with a red cross: the utility power is gone.
void AcFail(QPainter& p) {
    gui::DrawPlug(p, QRectF(0, 3, 11, 8), QColor(70, 70, 80));
    p.setPen(Stroke(QColor(220, 30, 30), 2));
    p.drawLine(QPointF(9, 8), QPointF(15, 14));
    p.drawLine(QPointF(15, 8), QPointF(9, 14));
}

void BatteryLow(QPainter& p) {
    gui::DrawBattery(p, QRectF(0.5, 4, 15, 8), 0.2, QColor(220, 40, 40));
}

// The power symbol: the computer and the UPS are being turned off.
void Shutdown(QPainter& p) {
    p.setPen(Stroke(QColor(60, 60, 70), 2));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(2.5, 2.5, 11, 11), 120 * 16, -240 * 16);
    p.drawLine(QPointF(8, 1.5), QPointF(8, 7.5));
}

// A tick in a green circle: the UPS tested itself.
void SelfTest(QPainter& p) {
    p.setPen(Stroke(QColor(20, 110, 40), 1));
    p.setBrush(QColor(60, 170, 80));
    p.drawEllipse(QRectF(1, 1, 14, 14));
    p.setPen(Stroke(Qt::white, 2));
    p.setBrush(Qt::NoBrush);
    QPainterPath tick;
    tick.moveTo(4.5, 8.5);
    tick.lineTo(7, 11);
    tick.lineTo(11.5, 5);
    p.drawPath(tick);
}

}  // namespace

QIcon EventTypeIcon(int index) {
    static const QIcon icons[] = {MakeIcon(Information), MakeIcon(Warning), MakeIcon(Error)};
    return index >= 0 && index < 3 ? icons[index] : QIcon();
}

QIcon CalendarIcon(int kind) {
    static const QIcon icons[] = {MakeIcon(AcFail), MakeIcon(BatteryLow), MakeIcon(Shutdown),
                                  MakeIcon(SelfTest)};
    return kind >= 0 && kind < kCalKindCount ? icons[kind] : QIcon();
}

}  // namespace kelvora::panel
