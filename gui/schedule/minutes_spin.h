// The minutes field of a self-test with its up/down arrows. The arrows step within 1..99 while
// typing may accept a wider range (the entry editor takes 0, which the agent runs as its
// ten-second test).
#pragma once

#include <QSpinBox>

namespace kelvora::panel {

class MinutesSpin : public QSpinBox {
    Q_OBJECT

  public:
    MinutesSpin(int typedMinimum, int value, QWidget* parent = nullptr);

    static constexpr int kStepMinimum = 1;
    static constexpr int kMaximum = 99;

    void stepBy(int steps) override;

  protected:
    StepEnabled stepEnabled() const override;
};

}  // namespace kelvora::panel
