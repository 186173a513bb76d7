#include "gui/config/number_edit.h"

#include <algorithm>

namespace kelvora::panel {

CNumberEdit::CNumberEdit(int arrowMin, int arrowMax, QWidget* parent)
    : QSpinBox(parent), arrowMin_(arrowMin), arrowMax_(arrowMax) {
    setRange(kTypedMin, kTypedMax);
    setAccelerated(true);
}

void CNumberEdit::stepBy(int steps) {
    // A typed value outside the arrows' range comes back into it with the first step.
    const long long next = static_cast<long long>(value()) + steps;
    setValue(static_cast<int>(std::clamp<long long>(next, arrowMin_, arrowMax_)));
    selectAll();
}

QAbstractSpinBox::StepEnabled CNumberEdit::stepEnabled() const {
    if (isReadOnly()) return StepNone;
    StepEnabled enabled = StepNone;
    if (value() < arrowMax_) enabled |= StepUpEnabled;
    if (value() > arrowMin_) enabled |= StepDownEnabled;
    return enabled;
}

}  // namespace kelvora::panel
