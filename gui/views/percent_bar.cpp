#include "gui/views/percent_bar.h"

#include <algorithm>

#include <QLinearGradient>
#include <QPainter>

#include "gui/views/glyph_kit.h"

namespace kelvora::gui {

PercentBar::PercentBar(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
}

void PercentBar::SetValue(double value) {
    value_ = value;
    update();
}

void PercentBar::SetCaption(const QString& caption) {
    caption_ = caption;
    update();
}

void PercentBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);

    const double w = width();
    const double h = height();
    const double captionH = std::clamp(h * 0.14, 18.0, 30.0);

    QFont scaleFont = font();
    scaleFont.setPixelSize(std::clamp(qRound(h * 0.06), 9, 14));
    const QFontMetricsF fm(scaleFont);
    const double labelW = fm.horizontalAdvance(QStringLiteral("100"));

    // The bar: a tube as tall as the space above the caption allows, with the scale at its left.
    const double barW = std::clamp(w * 0.28, 22.0, 48.0);
    const double top = fm.height() / 2 + 3;
    const double bottom = h - captionH - 6 - fm.height() / 2;
    const double left = (w - barW + labelW + 8) / 2;
    const QRectF tube(left, top, barW, std::max(10.0, bottom - top));

    p.setFont(scaleFont);
    p.setPen(QPen(QColor(35, 38, 45), 1));
    for (int v = 0; v <= 100; v += 10) {
        const double y = tube.bottom() - tube.height() * v / 100;
        const bool major = v % 20 == 0;
        p.drawLine(QPointF(tube.left() - (major ? 7 : 4), y), QPointF(tube.left() - 1, y));
        if (major) {
            p.drawText(QRectF(tube.left() - 10 - labelW, y - fm.height() / 2, labelW, fm.height()),
                       Qt::AlignRight | Qt::AlignVCenter, QString::number(v));
        }
    }

    p.setPen(QPen(QColor(70, 75, 85), 1.5));
    p.setBrush(QColor(235, 238, 242));
    p.drawRect(tube);

    const double level = std::clamp(value_, 0.0, 100.0) / 100;
    if (level > 0) {
        const QRectF fill(tube.left() + 2, tube.bottom() - 2 - (tube.height() - 4) * level,
                          tube.width() - 4, (tube.height() - 4) * level);
        QLinearGradient shade(fill.topLeft(), fill.topRight());
        shade.setColorAt(0, QColor(40, 120, 200));
        shade.setColorAt(0.45, QColor(110, 180, 245));
        shade.setColorAt(1, QColor(30, 95, 170));
        p.setPen(Qt::NoPen);
        p.setBrush(shade);
        p.drawRect(fill);
    }

    DrawCaptionStrip(p, font(), caption_, w, h, captionH, 90.0, 16);
}

}  // namespace kelvora::gui
