// The control dialog: commands the UPS runs at once (self-tests, the beeper, shutting down),
// each behind a picture the user clicks and a question the user confirms. The main dialog
// sends the confirmed command to the agent.
#pragma once

#include <QDialog>
#include <QString>
#include <QToolButton>
#include <functional>

#include "gui/schedule/control_icons.h"
#include "gui/schedule/minutes_spin.h"

namespace kelvora::panel {

class CDlgControl : public QDialog {
    Q_OBJECT

  public:
    explicit CDlgControl(QWidget* parent = nullptr);

    // Asks a Yes/No question; true for Yes. Tests answer it without a screen.
    std::function<bool(const QString&)> ask;

    // The question a command asks before it is sent.
    static QString Question(int command);

    QToolButton* iconButton(int command) const;
    MinutesSpin* minutesSpin() const { return spin_; }

  signals:
    void test10Seconds();
    void testMinutes(int minutes);
    void testUntilLow();
    void cancelTest();
    void toggleBeeper();
    void shutDown();

  public slots:
    // What a click on a command's picture does.
    void run(int command);

  private:
    QToolButton* icons_[kControlCommandCount];
    MinutesSpin* spin_;
};

}  // namespace kelvora::panel
