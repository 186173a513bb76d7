// Drawing pieces shared by the animated pictures and the icons, so the UPS and its battery look
// the same wherever they appear.
#pragma once

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QRectF>

namespace kelvora::gui {

// A tower UPS seen from the front: a dark cabinet with a display and a row of lamps. The lamp
// colour tells its state (green normal, amber on battery, red fault).
void DrawUpsTower(QPainter& p, const QRectF& box, const QColor& lamp);

// A battery lying on its side, terminal to the right, filled to `level` (0..1) with `fill`.
void DrawBattery(QPainter& p, const QRectF& box, double level, const QColor& fill);

// A two-pin plug facing right, its cable leaving to the left edge of box.
void DrawPlug(QPainter& p, const QRectF& box, const QColor& body);

// The caption of a gauge or a bar: bold navy text in a light, rounded strip along the bottom of
// a w x h widget, as wide as the text plus `padding` but at least `minWidth`, and never wider
// than the widget.
void DrawCaptionStrip(QPainter& p, QFont font, const QString& caption, double w, double h,
                      double stripHeight, double minWidth, double padding);

// Sets up p so that a design drawn in a w x h square or rectangle fills target, centred and with
// its proportions kept. Returns the scale used.
double FitDesign(QPainter& p, const QRectF& target, double w, double h);

}  // namespace kelvora::gui
