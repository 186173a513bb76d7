// CGUI2Dlg, the panel's one long-lived window: the icon bar, the four status pages, the status
// panel with its labels, clocks, pictures and message list, and the connection to an agent (the
// one on this machine over TCP, or a remote one with its password). Everything runs on the GUI
// thread: records arrive through the link's socket notifications and the pages are refreshed by
// a one-second timer, so nothing is drawn from a record being replaced.
#pragma once

#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QTabWidget>
#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>

#include "gui/config/cfg_dialog.h"
#include "gui/logs/calendar_dialog.h"
#include "gui/logs/data_list_dialog.h"
#include "gui/logs/event_list_dialog.h"
#include "gui/logs/last_info_dialog.h"
#include "gui/panel/agent_link.h"
#include "gui/panel/local_agent_link.h"
#include "gui/panel/panel_state.h"
#include "gui/panel/record_merge.h"
#include "gui/panel/remote_list.h"
#include "gui/schedule/control_dialog.h"
#include "gui/schedule/schedule_dialog.h"

namespace kelvora::gui {
class AnimatedPicture;
class MeterPage;
class DigitalPage;
class PicturePage;
class ChartPage;
}  // namespace kelvora::gui

namespace kelvora::panel {

inline constexpr const char* kPanelTitle = "Kelvora 2000 for Windows";
// The password the panel on the agent's own machine logs on with.
inline constexpr const char* kLocalPassword = "Stavlen";

// The questions the dialog asks its user; tests answer them without a screen.
struct Prompts {
    std::function<bool(QWidget*)> retryConnect;         // "Can not connect server. Retry?"
    std::function<bool(QWidget*)> changeWrongPassword;  // "Wrong Password, modify ..."
    std::function<void(QWidget*)> cannotConnectLocal;   // "Cannot connect to local agent"
    std::function<bool(QWidget*)> chooseUps;            // the UPS selection; true on OK
    static Prompts Interactive();
};

class CGUI2Dlg : public QWidget {
    Q_OBJECT
  public:
    // How the agent on this machine is reached: over TCP with the fixed password, or by
    // copy-data messages (for the agent's own user and root).
    enum class LocalTransport { Tcp, CopyData };

    // `registry`: the panel's own settings (MakePanelRegistry()).
    CGUI2Dlg(std::unique_ptr<ups::platform::Registry> registry, Prompts prompts,
             LocalTransport local = LocalTransport::Tcp, QWidget* parent = nullptr);
    ~CGUI2Dlg() override;

    const PanelState& state() const { return state_; }
    bool linked() const;
    // Sends by the sending rule; nothing when there is no link.
    void Send(const std::vector<std::uint8_t>& message);
    // Monitor the local agent (0) or the remote one at `address` with `password` (1).
    void Select(int localRemote, const QString& address, const QString& password);
    // The icon bar's item `index` (0..9), as a click does.
    void Activate(int index);

    // For tests and screenshots.
    QTabWidget* tabs() const { return tabs_; }
    QListWidget* messageList() const { return messages_; }
    QString LabelText(Label l) const;
    bool LabelEnabled(Label l) const;
    QString OnBatteryClockText() const;
    QString CountdownClockText() const;
    const gui::PicturePage* picturePage() const { return picture_; }
    bool PictureRunning(Picture p) const;
    // The icon bar's dialogs while their windows are open, else null.
    CDlgCfg* configDialog() const { return cfg_; }
    CDlgSchedule* scheduleDialog() const { return schedule_; }
    CDlgControl* controlDialog() const { return control_; }
    CDlgDataList* dataListDialog() const { return dataList_; }
    CDlgLog* eventListDialog() const { return eventList_; }
    CDlgEv2* calendarDialog() const { return calendar_; }
    CDlgLastInfo* lastInfoDialog() const { return lastInfo_; }

  signals:
    // Every record handled (tests wait for it).
    void recordHandled(int code);
    void linkChanged(bool linked);

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void BuildIconBar();
    void BuildPages();
    QWidget* BuildStatusPanel();
    void OnMessage(const ups::link::Message& message, Via via);
    void ShowState();
    void Refresh();
    void StartUp();
    void RetryTick();
    bool ConnectLocal();
    void ConnectRemote();
    void InitializeClient();
    void DropLinks();
    void OpenLink(const QString& host, std::uint16_t port, const QString& password);
    void ChooseUps();
    std::uint16_t AgentPort() const;

    // The icon bar's dialogs (dialog_windows.cpp).
    void OpenConfig();
    void OpenSchedule();
    void OpenControl();
    void OpenDataList();
    void OpenEventList();
    void OpenCalendar();
    void OpenLastInfo();
    void FillDialogs(const Effects& e);
    void SaveConfig(const ups::CConfig& read, const ups::CConfig& edited);
    void SendMerged(const ups::CConfig& read, const ups::CConfig& edited);
    void SaveMsgTab(const ups::CMsgTab& edited);
    void SaveSchedule();
    void ShowSchedule();
    void DropPendingSaves();

    std::unique_ptr<ups::platform::Registry> registry_;
    Prompts prompts_;
    PanelState state_;
    LocalTransport transport_;
    std::unique_ptr<AgentLink> link_;
    std::unique_ptr<LocalAgentLink> local_;
    int localRemote_ = 0;
    QString address_ = QStringLiteral("127.0.0.1");
    QString password_;
    bool connecting_ = false;
    // Why the current attempt was made: its failure is answered differently.
    enum class Attempt { StartUp, Retry, Initialize } attempt_ = Attempt::StartUp;

    QListWidget* bar_ = nullptr;
    QTabWidget* tabs_ = nullptr;
    gui::MeterPage* meter_ = nullptr;
    gui::DigitalPage* digital_ = nullptr;
    gui::PicturePage* picture_ = nullptr;
    gui::ChartPage* chart_ = nullptr;
    std::array<QLabel*, kLabelCount> labels_{};
    QLabel* onBatteryClock_ = nullptr;
    QLabel* countdownClock_ = nullptr;
    std::array<gui::AnimatedPicture*, kPictureCount> pictures_{};
    std::array<QLabel*, 3> basicFields_{};  // manufacturer, model, version
    QListWidget* messages_ = nullptr;
    std::uint64_t messagesShown_ = 0;  // of state_.messagesAdded()

    QPointer<CDlgCfg> cfg_;
    QPointer<CDlgSchedule> schedule_;
    QPointer<CDlgControl> control_;
    QPointer<CDlgDataList> dataList_;
    QPointer<CDlgLog> eventList_;
    QPointer<CDlgEv2> calendar_;
    QPointer<CDlgLastInfo> lastInfo_;
    // Which view asked for the event log last: it gets the next one.
    enum class EventAsker { None, Calendar, List } eventAsker_ = EventAsker::None;
    // Saves wait for the record as the agent has it now (record_merge.h).
    struct PendingConfig {
        ups::CConfig read, edited;
    };
    struct PendingMsgTab {
        ups::CMsgTab read, edited;
    };
    std::optional<PendingConfig> pendingConfig_;
    std::optional<PendingMsgTab> pendingMsgTab_;
    bool configWanted_ = false;  // the configuration dialog waits for the agent's record
    ScheduleEdits scheduleEdits_;
    bool scheduleSavePending_ = false;

    QTimer startUp_;    // 113
    QTimer retry_;      // 112
    QTimer onBattery_;  // 115
    QTimer refresh_;
};

}  // namespace kelvora::panel
