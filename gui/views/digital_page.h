// The digital page: each quantity's present value with the lowest and highest seen since the
// program's first real reading.
#pragma once

#include <array>

#include <QLabel>
#include <QString>
#include <QWidget>

namespace kelvora::gui {

class DigitalPage : public QWidget {
    Q_OBJECT

  public:
    enum class Quantity { InputVoltage, OutputVoltage, Frequency, Capacity, Load, Temperature };
    enum class Row { Current, Minimum, Maximum };

    explicit DigitalPage(QWidget* parent = nullptr);

    // Shows one status reading (voltages, frequency, load, temperature in tenths; capacity in
    // whole percent) and widens the extremes.
    void Update(int inVoltage, int outVoltage, int frequency, int capacity, int load,
                int temperature);

    // The text shown in one field.
    QString Text(Quantity quantity, Row row) const;

    // The extremes start from the first reading with a voltage on either side; that moment is
    // remembered for the whole program, so tests need a way to forget it.
    static void ResetFirstSampleForTests();

  private:
    // The stored readings, Fahrenheit kept alongside Celsius so its extremes are its own.
    struct Reading {
        float in = 0, out = 0, freq = 0, capacity = 0, load = 0, celsius = 0, fahrenheit = 0;
    };

    void Show(Row row, const Reading& r);

    Reading current_;
    Reading min_;
    Reading max_;
    std::array<std::array<QLabel*, 3>, 6> fields_{};
};

}  // namespace kelvora::gui
