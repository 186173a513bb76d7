#include "gui/views/glyph_kit.h"

#include <algorithm>

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainterPath>

namespace kelvora::gui {

void DrawUpsTower(QPainter& p, const QRectF& box, const QColor& lamp) {
    const double r = box.width() * 0.12;
    QLinearGradient body(box.topLeft(), box.topRight());
    body.setColorAt(0, QColor(70, 76, 88));
    body.setColorAt(0.5, QColor(46, 50, 60));
    body.setColorAt(1, QColor(28, 30, 36));
    p.setPen(QPen(QColor(15, 16, 20), std::max(1.0, box.width() * 0.05)));
    p.setBrush(body);
    p.drawRoundedRect(box, r, r);

    // Display window in the upper third.
    const QRectF screen(box.left() + box.width() * 0.2, box.top() + box.height() * 0.14,
                        box.width() * 0.6, box.height() * 0.2);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(140, 200, 235));
    p.drawRoundedRect(screen, r * 0.4, r * 0.4);

    // Status lamp and a vent grille below it.
    const double lampR = box.width() * 0.1;
    p.setBrush(lamp);
    p.drawEllipse(QPointF(box.center().x(), box.top() + box.height() * 0.48), lampR, lampR);
    p.setPen(QPen(QColor(95, 100, 112), std::max(0.8, box.height() * 0.025), Qt::SolidLine,
                  Qt::RoundCap));
    for (int i = 0; i < 3; ++i) {
        const double y = box.top() + box.height() * (0.64 + i * 0.1);
        p.drawLine(QPointF(box.left() + box.width() * 0.25, y),
                   QPointF(box.right() - box.width() * 0.25, y));
    }
}

void DrawBattery(QPainter& p, const QRectF& box, double level, const QColor& fill) {
    const double tip = box.width() * 0.08;
    const QRectF shell(box.left(), box.top(), box.width() - tip, box.height());
    const double line = std::max(1.0, box.height() * 0.1);
    p.setPen(QPen(QColor(40, 42, 48), line));
    p.setBrush(QColor(250, 250, 250));
    p.drawRoundedRect(shell, line, line);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 42, 48));
    p.drawRect(QRectF(shell.right() + line / 2, box.center().y() - box.height() * 0.2,
                      tip - line / 2, box.height() * 0.4));
    level = std::clamp(level, 0.0, 1.0);
    if (level > 0) {
        const QRectF inner = shell.adjusted(line * 1.5, line * 1.5, -line * 1.5, -line * 1.5);
        p.setBrush(fill);
        p.drawRect(QRectF(inner.left(), inner.top(), inner.width() * level, inner.height()));
    }
}

void DrawPlug(QPainter& p, const QRectF& box, const QColor& body) {
    const double h = box.height();
    const QRectF head(box.left() + box.width() * 0.35, box.top() + h * 0.15, box.width() * 0.4,
                      h * 0.7);
    p.setPen(QPen(QColor(30, 30, 34), std::max(1.0, h * 0.12), Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(box.left(), box.center().y()), QPointF(head.left(), box.center().y()));
    p.setPen(QPen(QColor(30, 30, 34), std::max(1.0, h * 0.06)));
    p.setBrush(body);
    p.drawRoundedRect(head, h * 0.12, h * 0.12);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(200, 170, 60));
    const double pinH = h * 0.1;
    for (double y : {head.top() + head.height() * 0.25, head.bottom() - head.height() * 0.25}) {
        p.drawRect(QRectF(head.right(), y - pinH / 2, box.right() - head.right(), pinH));
    }
}

double FitDesign(QPainter& p, const QRectF& target, double w, double h) {
    const double scale = std::min(target.width() / w, target.height() / h);
    p.translate(target.center().x() - w * scale / 2, target.center().y() - h * scale / 2);
    p.scale(scale, scale);
    return scale;
}

void DrawCaptionStrip(QPainter& p, QFont font, const QString& caption, double w, double h,
                      double stripHeight, double minWidth, double padding) {
    font.setBold(true);
    font.setPixelSize(std::max(9, qRound(stripHeight * 0.6)));
    const double textW = QFontMetricsF(font).horizontalAdvance(caption);
    const double stripW = std::min(w - 2, std::max(minWidth, textW + padding));
    const QRectF strip((w - stripW) / 2, h - stripHeight - 1, stripW, stripHeight);
    p.setPen(QPen(QColor(120, 125, 135), 1));
    p.setBrush(QColor(250, 250, 245));
    p.drawRoundedRect(strip, 3, 3);
    p.setFont(font);
    p.setPen(QColor(0, 0, 128));
    p.drawText(strip, Qt::AlignCenter, caption);
}

}  // namespace kelvora::gui
