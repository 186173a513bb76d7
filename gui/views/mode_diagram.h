// The frames of the power-path pictures: the mains, the UPS with its converters and battery, and
// the load, with arrows running along the path the power takes in the UPS's present mode.
#pragma once

#include <QPainter>
#include <QRectF>

#include "gui/views/animated_picture.h"

namespace kelvora::gui {

inline constexpr int kModeDiagramWidth = 220;
inline constexpr int kModeDiagramHeight = 160;

// Draws frame `frame` of a mode kind (OnNormal .. OffBoost), fitted into target.
void PaintModeDiagram(QPainter& p, AnimatedPicture::Kind kind, int frame, const QRectF& target);

}  // namespace kelvora::gui
