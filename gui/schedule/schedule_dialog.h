// The schedule dialog: the agent's timed switch-on, shutdown and self-test entries for one day
// (or all of them), the next time each kind falls due, and adding and removing entries. The
// main dialog holds the schedule itself; this dialog shows its copy and reports every change.
#pragma once

#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <vector>

#include "gui/schedule/select_sched.h"
#include "ups_lib/schedule.h"

namespace kelvora::panel {

class CDlgSchedule : public QDialog {
    Q_OBJECT

  public:
    // now gives the current calendar time; the system clock when empty.
    explicit CDlgSchedule(std::function<std::int64_t()> now = nullptr, QWidget* parent = nullptr);

    // The main dialog's copy changed: both lists, the next times, and the viewed date's list.
    void Rebuild(const ups::CSchedule& schedule);

    // The day being viewed, at 00:00 local time.
    std::int64_t viewedDay() const { return viewed_; }
    // The list box's lines, top to bottom.
    QStringList shownLines() const;
    // The next-time field of an event (0 switch on, 1 shutdown, 2 self-test).
    QString nextText(int event) const;

    QLineEdit* dateEdit() const { return date_; }
    QListWidget* listBox() const { return list_; }

    // Runs the entry editor; true on OK. Tests answer it without a screen.
    std::function<bool(CSelectSched&)> runEditor;

  signals:
    void entryAdded(const ups::CScheduleDetail& entry);
    void entryRemoved(const ups::CScheduleDetail& entry);
    // Save, cancel or the title-bar close: the main dialog sends the schedule to the agent.
    // Emitted before the window goes.
    void closing();

  public slots:
    void showPrevious();
    void showNext();
    void listAll();
    void addEntry();
    void removeEntry();
    // Save, cancel, Escape and the title-bar close all come here: each sends the schedule.
    void done(int result) override;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void ReadDateEdit();
    void Step(int days);
    void RefreshViewedDay();
    void Append(const ups::CScheduleDetail& entry);
    void SetNextTimes(const ups::CSchedule& schedule);

    std::function<std::int64_t()> now_;
    std::int64_t viewed_;
    std::vector<ups::CScheduleDetail> all_;
    // One entry per list-box line, in line order.
    std::vector<ups::CScheduleDetail> shown_;

    QLineEdit* date_;
    QListWidget* list_;
    QLineEdit* next_[3];
};

}  // namespace kelvora::panel
