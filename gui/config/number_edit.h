// A number field with a spin control whose arrows keep to one range while the field takes any
// number typed into it: the dialog, not the field, decides on OK whether a value is accepted,
// so a value outside can be typed and is then refused with a message.
#pragma once

#include <QSpinBox>

namespace kelvora::panel {

class CNumberEdit : public QSpinBox {
    Q_OBJECT
  public:
    // What can be typed; wide enough for any value the record can sensibly hold.
    static constexpr int kTypedMin = -99999;
    static constexpr int kTypedMax = 99999;

    CNumberEdit(int arrowMin, int arrowMax, QWidget* parent = nullptr);

    int arrowMin() const { return arrowMin_; }
    int arrowMax() const { return arrowMax_; }

    void stepBy(int steps) override;

  protected:
    StepEnabled stepEnabled() const override;

  private:
    int arrowMin_;
    int arrowMax_;
};

}  // namespace kelvora::panel
