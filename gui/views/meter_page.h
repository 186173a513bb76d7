// The meter page: the input and output voltage and the frequency on dials across the top; the
// battery capacity, the UPS load as bars and the temperature on a dial across the bottom.
#pragma once

#include <QWidget>

#include "gui/views/gauge_widget.h"
#include "gui/views/percent_bar.h"

namespace kelvora::gui {

class MeterPage : public QWidget {
    Q_OBJECT

  public:
    explicit MeterPage(QWidget* parent = nullptr);

    // Shows one status reading, in the units the UPS status record carries: voltages,
    // frequency, load and temperature in tenths, capacity in whole percent.
    void Update(int inVoltage, int outVoltage, int frequency, int capacity, int load,
                int temperature);

    const GaugeWidget& InputGauge() const { return *input_; }
    const GaugeWidget& OutputGauge() const { return *output_; }
    const GaugeWidget& FrequencyGauge() const { return *frequency_; }
    const GaugeWidget& TemperatureGauge() const { return *temperature_; }
    const PercentBar& CapacityBar() const { return *capacity_; }
    const PercentBar& LoadBar() const { return *load_; }

  signals:
    // The temperature dial was clicked (the panel offers to switch the unit setting there).
    void temperatureClicked();

  private:
    GaugeWidget* input_;
    GaugeWidget* output_;
    GaugeWidget* frequency_;
    GaugeWidget* temperature_;
    PercentBar* capacity_;
    PercentBar* load_;
};

}  // namespace kelvora::gui
