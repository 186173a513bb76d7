#include "gui/views/mode_diagram.h"

#include <cmath>
#include <initializer_list>
#include <numbers>
#include <vector>

#include <QLinearGradient>
#include <QPainterPath>

#include "gui/views/glyph_kit.h"

namespace kelvora::gui {

namespace {

using Kind = AnimatedPicture::Kind;
using Path = std::vector<QPointF>;

const QColor kMains(30, 165, 60);
const QColor kBattery(235, 135, 15);
const QColor kIdle(165, 170, 178);
const QColor kInk(40, 44, 52);
constexpr double kArrowSpacing = 14;

// Where the pieces sit in the 220 x 160 design.
constexpr double kFeedY = 64;              // mains in and load out
constexpr double kInX = 66, kOutX = 154;   // the UPS's input and output bus bars
constexpr double kTopY = 40, kMainY = 92;  // the line/bypass row and the converter row
const QRectF kSource(4, 46, 34, 36);
const QRectF kCabinet(58, 18, 104, 122);
const QRectF kBatteryBox(94, 116, 32, 16);

bool Online(Kind k) {
    return k == Kind::OnNormal || k == Kind::OnFail || k == Kind::OnBypass;
}
bool MainsFailed(Kind k) {
    return k == Kind::OnFail || k == Kind::OffFail;
}

void Polyline(QPainter& p, const Path& path, const QColor& colour, double width) {
    p.setPen(QPen(colour, width, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(path.data(), int(path.size()));
}

// A live conductor: the line in its colour with chevrons moving along it, one spacing per loop.
void Flow(QPainter& p, const Path& path, const QColor& colour, int frame) {
    Polyline(p, path, colour, 3);
    const double offset = kArrowSpacing * frame / AnimatedPicture::kFrameCount;
    p.setPen(Qt::NoPen);
    p.setBrush(colour.darker(150));
    double start = 0;  // distance along the path where the current segment begins
    double next = offset + kArrowSpacing / 2;
    for (size_t i = 1; i < path.size(); ++i) {
        const QPointF d = path[i] - path[i - 1];
        const double len = std::hypot(d.x(), d.y());
        if (len <= 0) continue;
        const QPointF u = d / len;
        const QPointF n(-u.y(), u.x());
        // Keep chevrons off the corners, where they would straddle two directions.
        while (next < start + len - 2) {
            if (next > start + 2) {
                const QPointF tip = path[i - 1] + u * (next - start);
                const QPointF pts[3] = {tip + u * 3, tip - u * 2 + n * 3.5, tip - u * 2 - n * 3.5};
                p.drawPolygon(pts, 3);
            }
            next += kArrowSpacing;
        }
        start += len;
    }
}

void Tilde(QPainter& p, QPointF c, double w) {
    QPainterPath wave;
    for (int i = 0; i <= 12; ++i) {
        const QPointF pt(c.x() - w / 2 + w * i / 12,
                         c.y() - w * 0.18 * std::sin(i / 12.0 * 2 * std::numbers::pi));
        if (i == 0) {
            wave.moveTo(pt);
        } else {
            wave.lineTo(pt);
        }
    }
    p.drawPath(wave);
}

void Equals(QPainter& p, QPointF c, double w) {
    p.drawLine(QPointF(c.x() - w / 2, c.y() - 1.5), QPointF(c.x() + w / 2, c.y() - 1.5));
    p.drawLine(QPointF(c.x() - w / 2, c.y() + 1.5), QPointF(c.x() + w / 2, c.y() + 1.5));
}

// A block of the UPS, tinted in the colour of the power passing through it, or grey when idle.
void Block(QPainter& p, const QRectF& r, const QColor& live, bool active) {
    p.setPen(QPen(active ? live.darker(140) : kIdle, 1.5));
    p.setBrush(active ? QColor::fromHsv(live.hue(), 40, 250) : QColor(240, 241, 243));
    p.drawRoundedRect(r, 3, 3);
}

// A converter: a diagonal split with AC (~) on one side and DC (=) on the other.
void Converter(QPainter& p, const QRectF& r, bool acToDc, const QColor& live, bool active) {
    Block(p, r, live, active);
    p.setPen(QPen(active ? kInk : kIdle, 1.2));
    p.setBrush(Qt::NoBrush);
    p.drawLine(r.bottomLeft() + QPointF(3, -3), r.topRight() + QPointF(-3, 3));
    const QPointF upper(r.left() + r.width() * 0.3, r.top() + r.height() * 0.3);
    const QPointF lower(r.left() + r.width() * 0.7, r.top() + r.height() * 0.7);
    const double w = r.width() * 0.3;
    if (acToDc) {
        Tilde(p, upper, w);
        Equals(p, lower, w);
    } else {
        Equals(p, upper, w);
        Tilde(p, lower, w);
    }
}

void Avr(QPainter& p, const QRectF& r, bool active) {
    Block(p, r, kMains, active);
    QFont f = p.font();
    f.setPixelSize(9);
    f.setBold(true);
    p.setFont(f);
    p.setPen(active ? kInk : kIdle);
    p.drawText(r, Qt::AlignCenter, QStringLiteral("AVR"));
}

// The mains: a sine wave in a box; dead mains are greyed and their line is cut.
void Source(QPainter& p, bool failed, int frame) {
    p.setPen(QPen(failed ? kIdle : kInk, 1.5));
    p.setBrush(failed ? QColor(236, 236, 236) : QColor(255, 248, 215));
    p.drawRoundedRect(kSource, 5, 5);
    p.setPen(QPen(failed ? kIdle : QColor(30, 90, 200), 2.5, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    Tilde(p, kSource.center(), kSource.width() * 0.7);
    if (!failed) return;
    Polyline(p, {{kSource.right(), kFeedY}, {44, kFeedY}}, kIdle, 2);
    Polyline(p, {{54, kFeedY}, {kInX, kFeedY}}, kIdle, 2);
    // The break blinks so the eye finds it.
    const bool on = frame < AnimatedPicture::kFrameCount / 2;
    p.setPen(
        QPen(on ? QColor(215, 35, 35) : QColor(215, 35, 35, 90), 2.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(45, kFeedY - 5), QPointF(53, kFeedY + 5));
    p.drawLine(QPointF(53, kFeedY - 5), QPointF(45, kFeedY + 5));
}

void Load(QPainter& p) {
    const QRectF screen(184, 46, 32, 24);
    p.setPen(QPen(kInk, 1.5));
    p.setBrush(QColor(60, 64, 72));
    p.drawRoundedRect(screen, 2, 2);
    QLinearGradient glow(screen.topLeft(), screen.bottomRight());
    glow.setColorAt(0, QColor(170, 220, 250));
    glow.setColorAt(1, QColor(80, 150, 220));
    p.setPen(Qt::NoPen);
    p.setBrush(glow);
    p.drawRect(screen.adjusted(2.5, 2.5, -2.5, -2.5));
    p.setBrush(QColor(60, 64, 72));
    p.drawRect(QRectF(197, 70, 6, 7));
    p.drawRoundedRect(QRectF(190, 77, 20, 3), 1, 1);
}

void Cabinet(QPainter& p) {
    p.setPen(QPen(QColor(120, 126, 138), 1.5, Qt::DashLine));
    p.setBrush(QColor(250, 251, 253));
    p.drawRoundedRect(kCabinet, 6, 6);
    QFont f = p.font();
    f.setPixelSize(11);
    f.setBold(true);
    p.setFont(f);
    p.setPen(kInk);
    p.drawText(QRectF(kCabinet.left(), 2, kCabinet.width(), 15), Qt::AlignCenter,
               QStringLiteral("UPS"));
}

// On battery in either kind of UPS: from the battery up to the main line and out to the load.
Path BatteryToLoad() {
    return {
        {110, kBatteryBox.top()}, {110, kMainY}, {kOutX, kMainY}, {kOutX, kFeedY}, {184, kFeedY}};
}

void OnlineUps(QPainter& p, Kind kind, int frame) {
    const QRectF rectifier(74, 80, 24, 24);
    const QRectF inverter(122, 80, 24, 24);
    const bool bypass = kind == Kind::OnBypass;
    const bool fail = kind == Kind::OnFail;

    // Every conductor, idle first; the live ones are drawn over them.
    if (!fail) Polyline(p, {{kSource.right(), kFeedY}, {kInX, kFeedY}}, kIdle, 2);
    Polyline(p, {{kInX, kTopY}, {kInX, kMainY}, {kOutX, kMainY}, {kOutX, kTopY}}, kIdle, 2);
    Polyline(p, {{kInX, kTopY}, {104, kTopY}}, kIdle, 2);
    Polyline(p, {{116, kTopY}, {kOutX, kTopY}}, kIdle, 2);
    Polyline(p, {{110, kMainY}, {110, kBatteryBox.top()}}, kIdle, 2);
    Polyline(p, {{kOutX, kFeedY}, {184, kFeedY}}, kIdle, 2);

    if (bypass) {
        Flow(p,
             {{kSource.right(), kFeedY},
              {kInX, kFeedY},
              {kInX, kTopY},
              {kOutX, kTopY},
              {kOutX, kFeedY},
              {184, kFeedY}},
             kMains, frame);
        Flow(p, {{kInX, kFeedY}, {kInX, kMainY}, {110, kMainY}, {110, kBatteryBox.top()}}, kMains,
             frame);
    } else if (fail) {
        Flow(p, BatteryToLoad(), kBattery, frame);
    } else {
        Flow(p,
             {{kSource.right(), kFeedY},
              {kInX, kFeedY},
              {kInX, kMainY},
              {kOutX, kMainY},
              {kOutX, kFeedY},
              {184, kFeedY}},
             kMains, frame);
        Flow(p, {{110, kMainY}, {110, kBatteryBox.top()}}, kMains, frame);
    }

    // The static bypass switch: closed only in bypass.
    p.setPen(QPen(bypass ? kMains.darker(130) : kInk, 2, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(104, kTopY), 2, 2);
    p.drawEllipse(QPointF(116, kTopY), 2, 2);
    if (bypass) {
        p.drawLine(QPointF(106, kTopY), QPointF(114, kTopY));
    } else {
        p.drawLine(QPointF(106, kTopY - 1), QPointF(115, kTopY - 8));
    }

    Converter(p, rectifier, true, kMains, !fail);
    Converter(p, inverter, false, fail ? kBattery : kMains, !bypass);
}

void StandbyUps(QPainter& p, Kind kind, int frame) {
    const QRectF avr(96, kTopY - 9, 28, 18);
    const QRectF inverter(98, 80, 24, 24);
    const bool boost = kind == Kind::OffBoost;
    const bool fail = kind == Kind::OffFail;
    // The line path passes straight through the AVR block or goes round it above.
    const Path around = {{86, kTopY}, {86, 25}, {134, 25}, {134, kTopY}};

    if (!fail) Polyline(p, {{kSource.right(), kFeedY}, {kInX, kFeedY}}, kIdle, 2);
    Polyline(p, {{kInX, kTopY}, {kInX, kMainY}, {kOutX, kMainY}, {kOutX, kTopY}}, kIdle, 2);
    Polyline(p, {{kInX, kTopY}, {kOutX, kTopY}}, kIdle, 2);
    Polyline(p, around, kIdle, 2);
    Polyline(p, {{110, kMainY}, {110, kBatteryBox.top()}}, kIdle, 2);
    Polyline(p, {{kOutX, kFeedY}, {184, kFeedY}}, kIdle, 2);

    if (fail) {
        Flow(p, BatteryToLoad(), kBattery, frame);
    } else {
        Path line = {{kSource.right(), kFeedY}, {kInX, kFeedY}, {kInX, kTopY}};
        if (boost) {
            line.push_back({kOutX, kTopY});
        } else {
            line.insert(line.end(), around.begin(), around.end());
            line.push_back({kOutX, kTopY});
        }
        line.push_back({kOutX, kFeedY});
        line.push_back({184, kFeedY});
        Flow(p, line, kMains, frame);
        // The charger keeps the battery topped up from the mains.
        Flow(p, {{kInX, kFeedY}, {kInX, kMainY}, {110, kMainY}, {110, kBatteryBox.top()}}, kMains,
             frame);
    }

    Avr(p, avr, boost);
    Converter(p, inverter, false, fail ? kBattery : kMains, true);
}

}  // namespace

void PaintModeDiagram(QPainter& p, AnimatedPicture::Kind kind, int frame, const QRectF& target) {
    p.save();
    FitDesign(p, target, kModeDiagramWidth, kModeDiagramHeight);
    Cabinet(p);
    Load(p);
    if (Online(kind)) {
        OnlineUps(p, kind, frame);
    } else {
        StandbyUps(p, kind, frame);
    }
    Source(p, MainsFailed(kind), frame);
    const bool discharging = MainsFailed(kind);
    DrawBattery(p, kBatteryBox, discharging ? 0.55 : 0.9, discharging ? kBattery : kMains);
    p.restore();
}

}  // namespace kelvora::gui
