// The picture page: a diagram of the UPS's power path in its present mode beside the main
// readings, with the UPS's ratings underneath.
#pragma once

#include <array>

#include <QLabel>
#include <QStackedWidget>
#include <QString>
#include <QWidget>

#include "gui/views/animated_picture.h"

namespace kelvora::gui {

class PicturePage : public QWidget {
    Q_OBJECT

  public:
    explicit PicturePage(QWidget* parent = nullptr);

    // Shows the diagram of a UPS state: 1 on-line normal, 2 on-line on battery, 3 on-line
    // bypass, 4 standby normal, 5 standby on battery, 6 standby boosting; anything else shows
    // none. Asking for the state already shown does nothing at all, so the status poll can call
    // it every time without making the picture flicker.
    void SetMode(int state);
    int Mode() const { return mode_; }
    void StartAll();
    void StopAll();

    // Voltages and load in tenths, capacity in whole percent; typeCode 0 on-line, 1 standby.
    void UpdateValues(int inVoltage, int outVoltage, int capacity, int load, int typeCode);
    // Voltage and frequency in tenths, current in tenths of an ampere, battery voltage in
    // hundredths of a volt.
    void UpdateRatings(int voltage, int current, int batteryVoltage, int frequency);

    // The picture of a state 1..6, and the one on show (none outside 1..6).
    const AnimatedPicture& Picture(int state) const { return *pictures_.at(state - 1); }
    const AnimatedPicture* ShownPicture() const;

    QString TypeText() const { return type_->text(); }
    QString InputVoltageText() const { return input_->text(); }
    QString OutputVoltageText() const { return output_->text(); }
    QString CapacityText() const { return capacity_->text(); }
    QString LoadText() const { return load_->text(); }
    QString RatedVoltageText() const { return ratedVoltage_->text(); }
    QString RatedCurrentText() const { return ratedCurrent_->text(); }
    QString RatedBatteryVoltageText() const { return ratedBattery_->text(); }
    QString RatedFrequencyText() const { return ratedFrequency_->text(); }

  private:
    int mode_ = 0;
    QStackedWidget* stack_;
    std::array<AnimatedPicture*, 6> pictures_{};
    QLabel* type_;
    QLabel* input_;
    QLabel* output_;
    QLabel* capacity_;
    QLabel* load_;
    QLabel* ratedVoltage_;
    QLabel* ratedCurrent_;
    QLabel* ratedBattery_;
    QLabel* ratedFrequency_;
};

}  // namespace kelvora::gui
