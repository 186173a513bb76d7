// The icon bar's dialogs as the main dialog runs them: each is made when its item is clicked and
// goes when it closes; what a dialog changes reaches the agent only through the main dialog,
// and the records the agent sends are put into whichever dialogs are open.
#include <utility>

#include "gui/panel/main_dialog.h"
#include "ups_lib/config_fields.h"
#include "ups_lib/trace.h"

namespace kelvora::panel {

namespace lk = ups::link;

namespace {

// Modeless: the main window stays usable while the dialog is open. However it ends (its own
// buttons, Esc, the title bar), the dialog is deleted once it has finished, and the next click
// makes a fresh one that asks the agent again.
void ShowModeless(QDialog* dialog) {
    if (!dialog->isVisible()) {
        QObject::connect(dialog, &QDialog::finished, dialog, &QObject::deleteLater,
                         Qt::UniqueConnection);
    }
    dialog->setModal(false);
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

}  // namespace

// ---- configuration -----------------------------------------------------------------------------

void CGUI2Dlg::OpenConfig() {
    if (!cfg_) {
        cfg_ = new CDlgCfg(this);
        // Until the agent's record arrives the dialog shows the one the panel has.
        cfg_->LoadFromRecord(state_.config());
        cfg_->LoadNotifications(state_.msgTab(), state_.config().pagerPort);
        connect(cfg_, &CDlgCfg::configAccepted, this, [this](const ups::CConfig& edited) {
            ups::Trace("Saving configuration data\n");
            SaveConfig(cfg_->shown(), edited);
        });
        connect(cfg_, &CDlgCfg::messagesAccepted, this,
                [this](const std::array<std::string, 7>& texts) {
                    ups::Trace("update MESSAGES\n");
                    ups::CMsgTab edited = state_.msgTab();
                    for (std::size_t i = 0; i < texts.size(); ++i) edited.text[i] = texts[i];
                    SaveMsgTab(edited);
                });
        connect(cfg_, &CDlgCfg::emailAccepted, this,
                [this](const std::string& server, const std::array<std::string, 7>& addresses) {
                    ups::Trace(" SAVE EMAIL\n");
                    ups::CConfig config = state_.config();
                    config.mailServer = server;
                    ups::CMsgTab edited = state_.msgTab();
                    for (std::size_t i = 0; i < addresses.size(); ++i)
                        edited.address[i] = addresses[i];
                    SaveConfig(state_.config(), config);
                    SaveMsgTab(edited);
                });
        connect(cfg_, &CDlgCfg::pagerAccepted, this,
                [this](int port, const std::array<std::string, 7>& numbers,
                       const std::array<std::string, 7>& codes) {
                    ups::Trace(" SAVE PAGER\n");
                    ups::CConfig config = state_.config();
                    ups::Trace("SAVE  config - " + std::to_string(config.pagerPort) + ", pager - " +
                               std::to_string(port) + "\n");
                    config.pagerPort = port;
                    ups::CMsgTab edited = state_.msgTab();
                    for (std::size_t i = 0; i < numbers.size(); ++i) {
                        edited.number[i] = numbers[i];
                        edited.code[i] = codes[i];
                    }
                    SaveConfig(state_.config(), config);
                    SaveMsgTab(edited);
                });
    }
    ShowModeless(cfg_);
    configWanted_ = true;
    Send(lk::Encode(lk::kGetConfig));
}

void CGUI2Dlg::SaveConfig(const ups::CConfig& read, const ups::CConfig& edited) {
    if (!linked()) {
        state_.config() = MergeChanges(read, edited, state_.config());  // nothing is sent
        return;
    }
    // What this user changed since the record was read goes over the record as the agent has
    // it now: ask for it, and save when it comes. A second save before then joins the first.
    if (pendingConfig_) {
        pendingConfig_->edited = MergeChanges(read, edited, pendingConfig_->edited);
    } else {
        pendingConfig_ = PendingConfig{read, edited};
    }
    Send(lk::Encode(lk::kGetConfig));
}

void CGUI2Dlg::SendMerged(const ups::CConfig& read, const ups::CConfig& edited) {
    const ups::CConfig now = state_.config();
    const ups::CConfig merged = MergeChanges(read, edited, now);
    // The agent would refuse it without a word: say so here instead (a value the agent itself
    // holds may be one no panel could set).
    if (const std::string problem = ups::ConfigProblem(merged); !problem.empty()) {
        state_.AddMessage("Configuration not saved: " + problem);
        return;
    }
    if (!(now == read))
        state_.AddMessage("Configuration changed elsewhere: only your changes were saved");
    state_.config() = merged;
    Send(lk::EncodeRecord(lk::kConfig, state_.config()));
    Send(lk::Encode(lk::kGetConfig));  // an answer already on its way was older
}

void CGUI2Dlg::SaveMsgTab(const ups::CMsgTab& edited) {
    const ups::CMsgTab& read = state_.msgTab();
    if (!linked()) {
        state_.msgTab() = edited;
        return;
    }
    if (pendingMsgTab_) {
        pendingMsgTab_->edited = MergeChanges(read, edited, pendingMsgTab_->edited);
    } else {
        pendingMsgTab_ = PendingMsgTab{read, edited};
    }
    Send(lk::Encode(lk::kGetMsgTab));
}

// ---- schedule and control ----------------------------------------------------------------------

void CGUI2Dlg::OpenSchedule() {
    if (!schedule_) {
        schedule_ = new CDlgSchedule(nullptr, this);
        if (!scheduleSavePending_) scheduleEdits_.clear();
        connect(schedule_, &CDlgSchedule::entryAdded, this,
                [this](const ups::CScheduleDetail& entry) {
                    ups::Trace("SCHEDULE ADD\n");
                    state_.schedule().Add(entry);
                    scheduleEdits_.Added(entry);
                    ShowSchedule();
                });
        connect(schedule_, &CDlgSchedule::entryRemoved, this,
                [this](const ups::CScheduleDetail& entry) {
                    ups::Trace("SCHEDULE REMOVE\n");
                    ScheduleEdits one;
                    one.Removed(entry);
                    one.ApplyTo(state_.schedule());
                    scheduleEdits_.Removed(entry);
                    ShowSchedule();
                });
        connect(schedule_, &CDlgSchedule::closing, this, [this] {
            ups::Trace("SCHEDULE EXIT\n");
            SaveSchedule();
        });
    }
    ShowModeless(schedule_);
    ShowSchedule();
    Send(lk::Encode(lk::kGetSchedule));
}

void CGUI2Dlg::SaveSchedule() {
    if (!linked()) {
        scheduleEdits_.clear();  // the local copy has them; nothing is sent without a link
        return;
    }
    // Sent even when nothing changed, as a closing dialog always has; but only once the list
    // as the agent has it now has come, so that an unchanged list undoes nobody's entries.
    scheduleSavePending_ = true;
    Send(lk::Encode(lk::kGetSchedule));
}

void CGUI2Dlg::ShowSchedule() {
    if (schedule_) schedule_->Rebuild(state_.schedule());
}

void CGUI2Dlg::OpenControl() {
    if (!control_) {
        control_ = new CDlgControl(this);
        connect(control_, &CDlgControl::test10Seconds, this, [this] {
            ups::Trace("TEST 10 SEC\n");
            Send(lk::Encode(lk::kTest10s));
        });
        connect(control_, &CDlgControl::testMinutes, this, [this](int minutes) {
            ups::Trace("TEST " + std::to_string(minutes * 60) + " SEC\n");
            Send(lk::EncodeNumber(lk::kTestMinutes, minutes));
        });
        connect(control_, &CDlgControl::testUntilLow, this, [this] {
            ups::Trace("TEST BATT LOW\n");
            Send(lk::Encode(lk::kTestToLow));
        });
        connect(control_, &CDlgControl::cancelTest, this, [this] {
            ups::Trace("CANCEL TEST\n");
            Send(lk::Encode(lk::kCancelTest));
        });
        connect(control_, &CDlgControl::toggleBeeper, this, [this] {
            ups::Trace("TOGGLE BEEP\n");
            Send(lk::Encode(lk::kToggleBeeper));
        });
        connect(control_, &CDlgControl::shutDown, this, [this] {
            ups::Trace("SHUT WIN\n");
            Send(lk::Encode(lk::kCloseAndShutDown));
        });
    }
    ShowModeless(control_);
}

// ---- logs and reports --------------------------------------------------------------------------

void CGUI2Dlg::OpenDataList() {
    if (!dataList_) {
        dataList_ = new CDlgDataList(this);
        connect(dataList_, &CDlgDataList::refreshRequested, this, [this] {
            if (linked()) {
                Send(lk::Encode(lk::kGetDataLog));
            } else if (dataList_) {
                dataList_->StopWaiting();
            }
        });
        connect(dataList_, &CDlgDataList::clearRequested, this,
                [this] { Send(lk::Encode(lk::kClearDataLog)); });
    }
    ShowModeless(dataList_);
    dataList_->BeginWaiting();
    if (linked()) {
        Send(lk::Encode(lk::kGetDataLog));
    } else {
        dataList_->StopWaiting();
    }
}

void CGUI2Dlg::OpenEventList() {
    if (!eventList_) {
        eventList_ = new CDlgLog(this);
        connect(eventList_, &CDlgLog::clearRequested, this,
                [this] { Send(lk::Encode(lk::kClearEventLog)); });
    }
    ShowModeless(eventList_);
    eventList_->Reset();
    eventAsker_ = EventAsker::List;
    Send(lk::Encode(lk::kGetEventLog));
}

void CGUI2Dlg::OpenCalendar() {
    if (!calendar_) calendar_ = new CDlgEv2(nullptr, this);
    ShowModeless(calendar_);
    eventAsker_ = EventAsker::Calendar;
    Send(lk::Encode(lk::kGetEventLog));
}

void CGUI2Dlg::OpenLastInfo() {
    if (!lastInfo_) lastInfo_ = new CDlgLastInfo(this);
    ShowModeless(lastInfo_);
    Send(lk::Encode(lk::kCloseInfo));
}

// ---- records for the dialogs -------------------------------------------------------------------

void CGUI2Dlg::FillDialogs(const Effects& e) {
    if (e.configChanged) {
        if (pendingConfig_) {
            const PendingConfig pending = *std::exchange(pendingConfig_, std::nullopt);
            SendMerged(pending.read, pending.edited);
        } else if (cfg_ && configWanted_) {
            // The answer to the dialog's opening. Later ones (a sub-dialog's save) leave the
            // user's unsaved edits in it alone.
            configWanted_ = false;
            cfg_->LoadFromRecord(state_.config());
        }
    }
    if (e.msgTabChanged) {
        if (pendingMsgTab_) {
            const ups::CMsgTab now = state_.msgTab();
            if (!(now == pendingMsgTab_->read))
                state_.AddMessage("Messages changed elsewhere: only your changes were saved");
            state_.msgTab() = MergeChanges(pendingMsgTab_->read, pendingMsgTab_->edited, now);
            pendingMsgTab_.reset();
            Send(lk::EncodeRecord(lk::kMsgTab, state_.msgTab()));
            Send(lk::Encode(lk::kGetMsgTab));  // an answer already on its way was older
        }
        ups::Trace("UPDATE - config - " + std::to_string(state_.config().pagerPort) + ", pager - " +
                   std::to_string(state_.config().pagerPort) + "\n");
        if (cfg_) cfg_->LoadNotifications(state_.msgTab(), state_.config().pagerPort);
    }
    if (e.scheduleChanged) {
        // Edits not yet saved are made again on the agent's list as it now is.
        scheduleEdits_.ApplyTo(state_.schedule());
        if (scheduleSavePending_) {
            scheduleSavePending_ = false;
            scheduleEdits_.clear();
            if (const std::string problem = ups::ScheduleProblem(state_.schedule());
                !problem.empty()) {
                state_.AddMessage("Schedule not saved: " + problem);
            } else {
                Send(lk::EncodeRecord(lk::kSchedule, state_.schedule()));
                Send(lk::Encode(lk::kGetSchedule));  // an answer already on its way was older
            }
        }
        ShowSchedule();
    }
    if (e.dataLogChanged && dataList_) dataList_->Fill(state_.dataLog());
    if (e.eventLogChanged) {
        if (eventAsker_ == EventAsker::Calendar && calendar_) {
            calendar_->Fill(state_.eventLog());
        } else if (eventAsker_ == EventAsker::List && eventList_) {
            eventList_->Fill(state_.eventLog());
        }
    }
    if (e.closeInfoChanged) {
        if (!lastInfo_) {
            lastInfo_ = new CDlgLastInfo(this);
            ShowModeless(lastInfo_);
        }
        lastInfo_->Fill(state_.closeInfo());
    }
}

void CGUI2Dlg::DropPendingSaves() {
    if (pendingConfig_ || pendingMsgTab_ || scheduleSavePending_)
        state_.AddMessage("The agent went before your changes could be saved");
    pendingConfig_.reset();
    pendingMsgTab_.reset();
    scheduleSavePending_ = false;
}

}  // namespace kelvora::panel
