#include "gui/views/field_style.h"

namespace kelvora::gui {

namespace {

// The colours are set through the palette rather than a style sheet, so the fonts and metrics
// the rest of the panel uses stay in charge.
void Colour(QLabel* label, const QColor& text, const QColor* background) {
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, text);
    if (background) {
        pal.setColor(QPalette::Window, *background);
        label->setAutoFillBackground(true);
    }
    label->setPalette(pal);
}

QLabel* Field(const QColor& text, const QColor& background, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setMargin(2);
    label->setMinimumWidth(
        label->fontMetrics().horizontalAdvance(QStringLiteral("000.0 C  000.0 F")) + 12);
    Colour(label, text, &background);
    return label;
}

}  // namespace

QLabel* MakeColumnTitle(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignCenter);
    QFont f = label->font();
    f.setBold(true);
    label->setFont(f);
    Colour(label, QColor(0, 0, 255), nullptr);
    return label;
}

QLabel* MakeGroupTitle(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignCenter);
    label->setMargin(3);
    label->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    QFont f = label->font();
    f.setBold(true);
    label->setFont(f);
    const QColor grey(192, 192, 192);
    Colour(label, QColor(0, 0, 128), &grey);
    return label;
}

QLabel* MakeRowLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Colour(label, QColor(0, 0, 255), nullptr);
    return label;
}

QLabel* MakeCurrentField(QWidget* parent) {
    return Field(QColor(0, 0, 128), QColor(0, 255, 255), parent);
}

QLabel* MakeValueField(QWidget* parent) {
    return Field(QColor(0, 0, 0), QColor(255, 255, 255), parent);
}

}  // namespace kelvora::gui
