// The frames of the small status pictures: the link to the agent (a turning globe, or a pulled
// plug) and the UPS's alarms.
#pragma once

#include <QPainter>
#include <QRectF>

#include "gui/views/animated_picture.h"

namespace kelvora::gui {

// Draws frame `frame` of a status kind (Earth .. UpsTest), fitted into target.
void PaintStatusGlyph(QPainter& p, AnimatedPicture::Kind kind, int frame, const QRectF& target);

}  // namespace kelvora::gui
