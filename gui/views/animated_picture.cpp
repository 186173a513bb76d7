#include "gui/views/animated_picture.h"

#include <QPainter>

#include "gui/views/mode_diagram.h"
#include "gui/views/status_glyphs.h"

namespace kelvora::gui {

AnimatedPicture::AnimatedPicture(Kind kind, QWidget* parent) : QWidget(parent), kind_(kind) {
    timer_.setInterval(kFrameIntervalMs);
    connect(&timer_, &QTimer::timeout, this, &AnimatedPicture::Advance);
    setSizePolicy(IsModeDiagram(kind) ? QSizePolicy::Expanding : QSizePolicy::Fixed,
                  IsModeDiagram(kind) ? QSizePolicy::Expanding : QSizePolicy::Fixed);
}

QSize AnimatedPicture::sizeHint() const {
    return IsModeDiagram(kind_) ? QSize(kModeDiagramWidth, kModeDiagramHeight) : QSize(48, 48);
}

void AnimatedPicture::Start() {
    timer_.start();
}

void AnimatedPicture::Stop() {
    timer_.stop();
}

void AnimatedPicture::Reset() {
    frame_ = 0;
    update();
}

void AnimatedPicture::Advance() {
    frame_ = (frame_ + 1) % kFrameCount;
    update();
}

void AnimatedPicture::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    if (IsModeDiagram(kind_)) {
        PaintModeDiagram(p, kind_, frame_, rect());
    } else {
        PaintStatusGlyph(p, kind_, frame_, rect());
    }
}

}  // namespace kelvora::gui
