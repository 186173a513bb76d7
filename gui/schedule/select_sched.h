// The entry editor: the time, kind and frequency of one new schedule entry. Modal; the schedule
// dialog turns its results into an entry.
#pragma once

#include <QButtonGroup>
#include <QDialog>
#include <QLineEdit>
#include <QRadioButton>
#include <cstdint>

#include "gui/schedule/minutes_spin.h"

namespace kelvora::panel {

class CSelectSched : public QDialog {
    Q_OBJECT

  public:
    // The kind buttons, in the order of eventRadio().
    static constexpr int kEventButtons = 5;
    static constexpr int kFrequencyButtons = 4;

    // Opens on now's time of day, the first kind and frequency, and one minute.
    explicit CSelectSched(std::int64_t now, QWidget* parent = nullptr);

    // The results, valid after OK.
    int hour() const { return hour_; }
    int minute() const { return minute_; }
    int eventRadio() const { return events_->checkedId(); }
    int frequency() const { return frequencies_->checkedId(); }
    int minutes() const { return minutes_; }

    QLineEdit* timeEdit() const { return time_; }
    MinutesSpin* minutesSpin() const { return spin_; }
    QRadioButton* eventButton(int i) const;
    QRadioButton* frequencyButton(int i) const;

  public slots:
    // Reads the fields into the results, then closes with OK.
    void accept() override;

  private:
    QLineEdit* time_;
    MinutesSpin* spin_;
    QButtonGroup* events_;
    QButtonGroup* frequencies_;
    int hour_ = 0;
    int minute_ = 0;
    int minutes_ = 1;
};

}  // namespace kelvora::panel
