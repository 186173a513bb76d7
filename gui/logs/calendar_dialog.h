// The event log as a month calendar: each day shows an icon for a power failure, a low
// battery, a shutdown and a self-test on that day; clicking a day lists those events.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include <QDialog>
#include <QString>
#include <QStringList>

#include "ups_lib/log_records.h"

QT_BEGIN_NAMESPACE
class QLabel;
class QListWidget;
QT_END_NAMESPACE

namespace kelvora::panel {

class CalendarGrid;

class CDlgEv2 : public QDialog {
    Q_OBJECT

  public:
    static constexpr int kRows = 6;
    static constexpr int kColumns = 7;
    static constexpr int kCells = kRows * kColumns;

    // now gives the current time (seconds since 1970); the system clock when empty.
    explicit CDlgEv2(std::function<std::int64_t()> now = nullptr, QWidget* parent = nullptr);

    // A new event log: kept, and the calendar moves one month back. Opening moved it one month
    // forward, so the first log after opening shows the current month.
    void Fill(const std::vector<ups::CEventLogRecord>& records);
    void Prev();
    void Next();

    // The cell of the month's first day (Sunday = column 0) and one past its last day.
    int firstCell() const { return first_; }
    int endCell() const { return end_; }
    QString monthTitle() const;
    int year() const { return year_; }
    int month() const { return month_; }
    // Shows the events of a day of the displayed month; a day outside it is ignored.
    void ClickDay(int day);
    QString dayDate() const;
    QStringList dayDetails() const;
    bool cellHasIcon(int cell, int kind) const;
    int cellDay(int cell) const;

  signals:
    void closed();

  public slots:
    void done(int result) override;

  private:
    void Redraw();

    std::function<std::int64_t()> now_;
    int year_ = 1970;
    int month_ = 1;
    int first_ = 0;
    int end_ = 0;
    std::array<std::uint8_t, kCells> icons_{};
    std::vector<ups::CEventLogRecord> records_;
    CalendarGrid* grid_;
    QLabel* title_;
    QLabel* date_;
    QListWidget* details_;
};

}  // namespace kelvora::panel
