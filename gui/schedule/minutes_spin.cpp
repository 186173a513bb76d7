#include "gui/schedule/minutes_spin.h"

#include <algorithm>

namespace kelvora::panel {

MinutesSpin::MinutesSpin(int typedMinimum, int value, QWidget* parent) : QSpinBox(parent) {
    setRange(typedMinimum, kMaximum);
    setValue(value);
    setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("0000")) + 30);
}

void MinutesSpin::stepBy(int steps) {
    setValue(std::clamp(value() + steps, kStepMinimum, kMaximum));
    selectAll();
}

QAbstractSpinBox::StepEnabled MinutesSpin::stepEnabled() const {
    StepEnabled e = StepNone;
    if (value() > kStepMinimum) e |= StepDownEnabled;
    if (value() < kMaximum) e |= StepUpEnabled;
    return e;
}

}  // namespace kelvora::panel
