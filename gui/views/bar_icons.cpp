#include "gui/views/bar_icons.h"

#include <cmath>
#include <functional>
#include <numbers>

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include "gui/views/glyph_kit.h"

namespace kelvora::gui {

namespace {

// Every glyph is designed on a 64-unit square; strokes are at least 4 units so they survive
// being halved for the 32-pixel size.
using Glyph = std::function<void(QPainter&)>;

const QColor kInk(35, 40, 50);
const QColor kBlue(40, 110, 200);
const QColor kRed(210, 45, 40);
const QColor kGreen(40, 160, 70);
const QColor kPaper(252, 252, 248);

QPen Stroke(const QColor& c, double w = 4) {
    return QPen(c, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

QPixmap Render(const Glyph& glyph, int size) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    glyph(p);
    return pm;
}

QIcon MakeIcon(const Glyph& glyph) {
    QIcon icon;
    icon.addPixmap(Render(glyph, 32));
    icon.addPixmap(Render(glyph, 64));
    return icon;
}

void Page(QPainter& p, const QRectF& r) {
    p.setPen(Stroke(kInk, 3));
    p.setBrush(kPaper);
    p.drawRoundedRect(r, 4, 4);
}

// A tower UPS with a pointer arrow over its corner: pick the UPS to watch.
void SelectUps(QPainter& p) {
    DrawUpsTower(p, QRectF(8, 4, 30, 56), kGreen);
    QPainterPath arrow;
    arrow.moveTo(34, 26);
    arrow.lineTo(58, 44);
    arrow.lineTo(47, 46);
    arrow.lineTo(53, 58);
    arrow.lineTo(47, 61);
    arrow.lineTo(41, 49);
    arrow.lineTo(34, 56);
    arrow.closeSubpath();
    p.setPen(Stroke(kInk, 3));
    p.setBrush(Qt::white);
    p.drawPath(arrow);
}

// A gear.
void Settings(QPainter& p) {
    const QPointF c(32, 32);
    QPainterPath gear;
    const int teeth = 8;
    for (int i = 0; i < teeth * 4; ++i) {
        const double a = (i - 0.5) * std::numbers::pi * 2 / (teeth * 4);
        const double r = (i % 4 < 2) ? 28 : 21;
        const QPointF pt(c.x() + r * std::cos(a), c.y() + r * std::sin(a));
        if (i == 0) {
            gear.moveTo(pt);
        } else {
            gear.lineTo(pt);
        }
    }
    gear.closeSubpath();
    gear.addEllipse(c, 9, 9);
    gear.setFillRule(Qt::OddEvenFill);
    QLinearGradient metal(QPointF(4, 4), QPointF(60, 60));
    metal.setColorAt(0, QColor(150, 160, 175));
    metal.setColorAt(1, QColor(80, 88, 100));
    p.setPen(Stroke(kInk, 2.5));
    p.setBrush(metal);
    p.drawPath(gear);
}

// A clock face.
void Schedule(QPainter& p) {
    const QPointF c(32, 32);
    p.setPen(Stroke(kInk, 4));
    p.setBrush(kPaper);
    p.drawEllipse(c, 27, 27);
    for (int h = 0; h < 12; h += 3) {
        const double a = h * std::numbers::pi / 6;
        p.drawLine(c + QPointF(21 * std::sin(a), -21 * std::cos(a)),
                   c + QPointF(24 * std::sin(a), -24 * std::cos(a)));
    }
    p.setPen(Stroke(kInk, 5));
    p.drawLine(c, c + QPointF(0, -17));
    p.setPen(Stroke(kRed, 4));
    p.drawLine(c, c + QPointF(13, 8));
}

// A sheet with a line graph: the recorded readings.
void DataLog(QPainter& p) {
    Page(p, QRectF(6, 6, 52, 52));
    p.setPen(Stroke(kInk, 3));
    p.drawLine(QPointF(14, 14), QPointF(14, 50));
    p.drawLine(QPointF(14, 50), QPointF(52, 50));
    const QPointF pts[5] = {{16, 42}, {25, 30}, {34, 36}, {43, 20}, {52, 26}};
    p.setPen(Stroke(kBlue, 4.5));
    p.drawPolyline(pts, 5);
}

// A list with a warning mark: the events.
void EventLog(QPainter& p) {
    Page(p, QRectF(6, 4, 44, 56));
    p.setPen(Stroke(kInk, 4));
    for (int i = 0; i < 4; ++i) {
        const double y = 16 + i * 11;
        p.drawLine(QPointF(14, y), QPointF(i % 2 ? 32 : 40, y));
    }
    p.setPen(Stroke(QColor(120, 0, 0), 2.5));
    p.setBrush(QColor(255, 200, 40));
    QPainterPath tri;
    tri.moveTo(48, 30);
    tri.lineTo(62, 58);
    tri.lineTo(34, 58);
    tri.closeSubpath();
    p.drawPath(tri);
    p.setPen(Stroke(kInk, 4));
    p.drawLine(QPointF(48, 39), QPointF(48, 48));
    p.drawPoint(QPointF(48, 53.5));
}

// A month page: red header with rings, a grid of days, one marked.
void Calendar(QPainter& p) {
    Page(p, QRectF(6, 10, 52, 48));
    p.setPen(Qt::NoPen);
    p.setBrush(kRed);
    p.drawRect(QRectF(7.5, 11.5, 49, 11));
    p.setPen(Stroke(kInk, 4));
    p.drawLine(QPointF(20, 5), QPointF(20, 15));
    p.drawLine(QPointF(44, 5), QPointF(44, 15));
    p.setPen(Qt::NoPen);
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 4; ++col) {
            p.setBrush(row == 1 && col == 2 ? kBlue : QColor(150, 155, 165));
            p.drawRect(QRectF(12 + col * 11, 28 + row * 9, 7, 6));
        }
    }
}

// Three sliders: commands sent to the UPS.
void Control(QPainter& p) {
    const double knob[3] = {40, 20, 32};
    for (int i = 0; i < 3; ++i) {
        const double x = 14 + i * 18;
        p.setPen(Stroke(kInk, 4));
        p.drawLine(QPointF(x, 8), QPointF(x, 56));
        p.setPen(Stroke(kInk, 2.5));
        p.setBrush(i == 1 ? kRed : kBlue);
        p.drawRoundedRect(QRectF(x - 7, knob[i] - 5, 14, 10), 3, 3);
    }
}

// A document with a power symbol: what runs at shutdown.
void ShutdownFiles(QPainter& p) {
    QPainterPath sheet;
    sheet.moveTo(10, 4);
    sheet.lineTo(40, 4);
    sheet.lineTo(54, 18);
    sheet.lineTo(54, 60);
    sheet.lineTo(10, 60);
    sheet.closeSubpath();
    p.setPen(Stroke(kInk, 3));
    p.setBrush(kPaper);
    p.drawPath(sheet);
    p.drawLine(QPointF(40, 4), QPointF(40, 18));
    p.drawLine(QPointF(40, 18), QPointF(54, 18));
    p.setPen(Stroke(kRed, 5));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(19, 25, 26, 26), 120 * 16, 300 * 16);
    p.drawLine(QPointF(32, 22), QPointF(32, 37));
}

// An "i" in a blue disc.
void About(QPainter& p) {
    p.setPen(Stroke(QColor(20, 70, 150), 3));
    p.setBrush(kBlue);
    p.drawEllipse(QPointF(32, 32), 27, 27);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(32, 18), 4.5, 4.5);
    p.drawRoundedRect(QRectF(27.5, 27, 9, 24), 2, 2);
}

// An open door with an arrow leaving through it.
void Exit(QPainter& p) {
    p.setPen(Stroke(kInk, 3));
    p.setBrush(QColor(200, 170, 120));
    p.drawRect(QRectF(8, 6, 30, 52));
    QPainterPath leaf;
    leaf.moveTo(8, 6);
    leaf.lineTo(24, 12);
    leaf.lineTo(24, 62);
    leaf.lineTo(8, 58);
    leaf.closeSubpath();
    p.setBrush(QColor(140, 95, 50));
    p.drawPath(leaf);
    p.setPen(Stroke(kGreen, 6));
    p.drawLine(QPointF(32, 32), QPointF(56, 32));
    p.setPen(Stroke(kGreen, 5));
    p.drawLine(QPointF(56, 32), QPointF(47, 23));
    p.drawLine(QPointF(56, 32), QPointF(47, 41));
}

// A battery standing up, a lightning bolt on it and a plug beside it.
void App(QPainter& p) {
    QLinearGradient body(QPointF(8, 0), QPointF(40, 0));
    body.setColorAt(0, QColor(40, 150, 70));
    body.setColorAt(0.5, QColor(90, 200, 110));
    body.setColorAt(1, QColor(30, 120, 55));
    p.setPen(Stroke(kInk, 3));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(8, 10, 32, 50), 5, 5);
    p.setBrush(kInk);
    p.drawRect(QRectF(17, 4, 14, 6));
    QPainterPath bolt;
    bolt.moveTo(27, 16);
    bolt.lineTo(15, 38);
    bolt.lineTo(24, 38);
    bolt.lineTo(20, 54);
    bolt.lineTo(33, 31);
    bolt.lineTo(24, 31);
    bolt.closeSubpath();
    p.setPen(Stroke(QColor(120, 80, 0), 1.5));
    p.setBrush(QColor(255, 215, 40));
    p.drawPath(bolt);
    // The cable runs from the battery's foot to a plug at the right.
    p.setPen(Stroke(kInk, 3.5));
    p.setBrush(Qt::NoBrush);
    QPainterPath cable;
    cable.moveTo(40, 52);
    cable.cubicTo(50, 52, 46, 34, 52, 30);
    p.drawPath(cable);
    p.save();
    p.translate(52, 31);
    p.rotate(-90);  // the plug's pins point up, its cable down into the curve
    DrawPlug(p, QRectF(0, -7, 24, 14), QColor(70, 75, 85));
    p.restore();
}

}  // namespace

QIcon BarIcon(int item) {
    static const Glyph glyphs[kBarItemCount] = {SelectUps, Settings, Schedule, DataLog,
                                                EventLog,  Calendar, Control,  ShutdownFiles,
                                                About,     Exit};
    if (item < 0 || item >= kBarItemCount) return {};
    return MakeIcon(glyphs[item]);
}

QIcon AppIcon() {
    return MakeIcon(App);
}

}  // namespace kelvora::gui
