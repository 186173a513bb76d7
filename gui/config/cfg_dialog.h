// CDlgCfg, "參數設定": the agent's configuration record in four groups, the buttons to the three
// notification dialogs, and the checks a record must pass before the panel sends it. The main
// dialog shows it modelessly, loads it when the record arrives and sends what OK gives it.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <array>
#include <functional>
#include <string>

#include "gui/config/email_dialog.h"
#include "gui/config/messages_dialog.h"
#include "gui/config/number_edit.h"
#include "gui/config/pager_dialog.h"
#include "ups_lib/config.h"
#include "ups_lib/msg_tab.h"

class QCloseEvent;

namespace kelvora::panel {

class CDlgCfg : public QDialog {
    Q_OBJECT
  public:
    explicit CDlgCfg(QWidget* parent = nullptr);

    // A configuration arrived: show it. Fields the dialog has no control for are kept as they
    // came and go back with OK.
    void LoadFromRecord(const ups::CConfig& config);
    // What the dialog holds (after OK: the edit).
    const ups::CConfig& record() const { return record_; }
    // The record as the controls hold it now, and as they held it right after the last load:
    // a control cannot hold every value a record can (a delay between two list entries, a
    // check box of 2), so what the user changed is the difference of these two, never a
    // comparison with the record loaded.
    ups::CConfig Collected() const;
    const ups::CConfig& shown() const { return shown_; }
    // The notification record arrived: fill the three sub-dialogs.
    void LoadNotifications(const ups::CMsgTab& tab, int pagerPort);

    CDlgMessages& messagesDialog() { return messages_; }
    CDlgEmail& emailDialog() { return email_; }
    CDlgPager& pagerDialog() { return pager_; }

    // "預設值": the usual settings, leaving the UPS type, data logging and the password alone.
    void SetDefaults();

    // The user's side of the dialog, replaceable so tests need no screen.
    // The message for a number outside its accepted range (or a text too long).
    std::function<void(QWidget* parent, const QString& text)> showRangeMessage;
    // The program to run before a shutdown: a chosen existing file, or empty when cancelled.
    std::function<QString(QWidget* parent, const QString& current)> chooseProgram;
    // Runs a notification dialog modally.
    std::function<int(QDialog& dialog)> runModal;

    void accept() override;  // "確定"
    void reject() override;  // "取消" (and Esc)

  signals:
    // OK with valid data (baud rule applied); the dialog then closes.
    void configAccepted(const ups::CConfig& config);
    // Cancel, or the title-bar close.
    void cancelled();
    void messagesAccepted(const std::array<std::string, 7>& texts);
    void emailAccepted(const std::string& server, const std::array<std::string, 7>& addresses);
    void pagerAccepted(int port, const std::array<std::string, 7>& numbers,
                       const std::array<std::string, 7>& codes);

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    struct Range {
        const char* field;  // the record field, as the accepted ranges name it
        CNumberEdit* edit;
        int min;
        int max;
    };

    void Build();
    QWidget* BuildGeneral();
    QWidget* BuildCommunication();
    QWidget* BuildShutdown();
    QWidget* BuildTiming();
    void Show(const ups::CConfig& config);
    void ApplyPortRule();
    void Browse();
    void RunSub(QDialog& dialog);
    // Checks every field; on the first bad one shows its message, focuses it and says false.
    bool Validate();
    bool CheckRange(const Range& range);
    std::array<Range, 4> Ranges() const;

    ups::CConfig record_;
    ups::CConfig shown_;
    CDlgMessages messages_;
    CDlgEmail email_;
    CDlgPager pager_;

    QComboBox* upsType_ = nullptr;
    QLabel* comPortLabel_ = nullptr;
    QComboBox* comPort_ = nullptr;
    QLineEdit* password_ = nullptr;
    QCheckBox* dataLogOn_ = nullptr;
    CNumberEdit* dataLogInterval_ = nullptr;
    QCheckBox* showWarnings_ = nullptr;
    QCheckBox* emailOn_ = nullptr;
    QCheckBox* pagerOn_ = nullptr;
    QCheckBox* runProgram_ = nullptr;
    QLineEdit* programCmdLine_ = nullptr;
    QCheckBox* closeApps_ = nullptr;
    QCheckBox* shutdownWindows_ = nullptr;
    QCheckBox* turnUpsOff_ = nullptr;
    QCheckBox* showLastShutdown_ = nullptr;
    CNumberEdit* acFailDelay_ = nullptr;
    CNumberEdit* batteryLowDelay_ = nullptr;
    QComboBox* upsOffDelay_ = nullptr;
    CNumberEdit* warnRepeat_ = nullptr;
};

}  // namespace kelvora::panel
