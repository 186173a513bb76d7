// The main dialog against a stand-in agent on a real socket: it logs on, the agent replays what a
// real one sends, and the panel must show it; damaged and cut records end the connection without
// harm; a wrong password and a closing agent are answered as the panel's users expect.
#include <QSpinBox>
#include <QTcpServer>
#include <QTcpSocket>
#include <QToolButton>
#include <QtTest>
#include <ctime>
#include <filesystem>
#include <memory>

#include "gui/panel/main_dialog.h"
#include "gui/views/picture_page.h"
#include "ups_lib/event_texts.h"

namespace kelvora::panel {

namespace lk = ups::link;
using Bytes = std::vector<std::uint8_t>;

// Accepts panels, reads their logon and answers with the bytes it was given.
class FakeAgent : public QObject {
    Q_OBJECT
  public:
    FakeAgent() {
        server_.listen(QHostAddress::LocalHost, 0);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (auto* s = server_.nextPendingConnection()) {
                ++connections;
                current = s;
                connect(s, &QTcpSocket::readyRead, this, [this, s] {
                    const QByteArray got = s->readAll();
                    received.insert(received.end(), got.begin(), got.end());
                    if (!answered && received.size() >= 8) {
                        answered = true;
                        Write(script);
                    }
                });
            }
        });
    }
    quint16 port() const { return server_.serverPort(); }
    void Write(const Bytes& bytes) {
        if (current)
            current->write(reinterpret_cast<const char*>(bytes.data()),
                           static_cast<qint64>(bytes.size()));
    }
    // The password of the first logon.
    std::string Password() const {
        if (received.size() < 5 || received[4] == 0xFF) return {};
        return std::string(received.begin() + 5, received.begin() + 5 + received[4]);
    }

    Bytes script;
    Bytes received;
    bool answered = false;
    int connections = 0;
    QTcpSocket* current = nullptr;

  private:
    QTcpServer server_;
};

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

Bytes StatusRecord() {
    ups::CUPSStatus status;
    ups::UPSStatusValues v;
    v.rawLine = "(000.0 230.0 230.0 021 50.0 2.10 25.0 10001000\r";
    v.outputVoltage = 2300;
    v.inputFrequency = 500;
    v.batteryCapacity = 85;
    status.Set(v);
    return lk::EncodeRecord(lk::kStatus, status);
}

// Everything the panel has sent the agent, message by message.
std::vector<lk::Message> Sent(const FakeAgent& agent) {
    std::vector<lk::Message> all;
    std::span<const std::uint8_t> rest(agent.received);
    while (!rest.empty()) {
        lk::Message m;
        std::size_t used = 0;
        if (lk::Decode(lk::Direction::ToAgent, rest, m, used) != lk::DecodeStatus::Complete) break;
        all.push_back(std::move(m));
        rest = rest.subspan(used);
    }
    return all;
}

int CountSent(const FakeAgent& agent, int code) {
    int n = 0;
    for (const auto& m : Sent(agent)) n += m.code == code;
    return n;
}

class MainDialogTest : public QObject {
    Q_OBJECT
  private:
    std::unique_ptr<CGUI2Dlg> Open(FakeAgent& agent) {
        qputenv("TORVANE_TCP_PORT", QByteArray::number(agent.port()));
        auto dialog = std::make_unique<CGUI2Dlg>(
            ups::platform::MakeFileRegistry(place_ / "registry"), prompts_);
        return dialog;
    }

    std::filesystem::path place_;
    Prompts prompts_;
    int retries_ = 0;
    int choices_ = 0;
    int wrongPasswords_ = 0;

  private slots:
    void init() {
        char dir[] = "/tmp/paneltestXXXXXX";
        QVERIFY(mkdtemp(dir) != nullptr);
        place_ = dir;
        qputenv("TZ", "UTC");
        retries_ = choices_ = wrongPasswords_ = 0;
        prompts_.retryConnect = [this](QWidget*) { return ++retries_, false; };
        prompts_.chooseUps = [this](QWidget*) { return ++choices_, false; };
        prompts_.changeWrongPassword = [this](QWidget*) { return ++wrongPasswords_, false; };
        prompts_.cannotConnectLocal = [](QWidget*) {};
    }
    void cleanup() { std::filesystem::remove_all(place_); }

    void logsOnWithTheLocalPasswordAndShowsWhatTheAgentSends() {
        FakeAgent agent;
        agent.script = Join({lk::Encode(lk::kConnected), lk::Encode(lk::kStandbyType),
                             lk::Encode(lk::kUtilityFailed), StatusRecord(),
                             lk::EncodeNumber(lk::kCountdown, 100), lk::Encode(lk::kBoosting)});
        auto dialog = Open(agent);
        QSignalSpy handled(dialog.get(), &CGUI2Dlg::recordHandled);
        QTRY_COMPARE_WITH_TIMEOUT(handled.count(), 6, 10000);
        QCOMPARE(agent.Password(), std::string(kLocalPassword));
        QCOMPARE(dialog->LabelText(Label::Connection), QString::fromUtf8("UPS和電腦連線"));
        QCOMPARE(dialog->LabelText(Label::Utility), QString::fromUtf8("市電中斷"));
        QCOMPARE(dialog->LabelText(Label::Avr), QString::fromUtf8("升壓"));
        QVERIFY(dialog->LabelEnabled(Label::OnBattery));
        QCOMPARE(dialog->CountdownClockText(), QString("00:01:40"));
        QVERIFY(dialog->PictureRunning(Picture::AcFail));
        QVERIFY(dialog->PictureRunning(Picture::Earth));
        QCOMPARE(dialog->picturePage()->Mode(), static_cast<int>(kStandbyAvr));
        QVERIFY(dialog->messageList()->item(0)->text().endsWith("  UPS on BOOST"));
        QVERIFY(dialog->messageList()->item(1)->text().endsWith("  Power Fail"));
        QCOMPARE(dialog->state().status().batteryCapacity, 85);
        // Power comes back: the on-battery clock reads zero and is greyed.
        agent.Write(Join({lk::Encode(lk::kUtilityRestored), lk::Encode(lk::kCountdownStopped)}));
        QTRY_COMPARE_WITH_TIMEOUT(handled.count(), 8, 5000);
        QCOMPARE(dialog->OnBatteryClockText(), QString("00:00:00"));
        QVERIFY(!dialog->LabelEnabled(Label::OnBattery));
        QVERIFY(!dialog->PictureRunning(Picture::AcFail));
    }

    void aDamagedRecordEndsTheConnectionAndNothingHalfReadIsShown() {
        FakeAgent agent;
        // A configuration whose first string claims four gigabytes.
        Bytes damaged = lk::Encode(lk::kConfig);
        for (int i = 0; i < 64; ++i) damaged.push_back(0xFF);
        agent.script = Join({lk::Encode(lk::kConnected), damaged});
        auto dialog = Open(agent);
        QSignalSpy handled(dialog.get(), &CGUI2Dlg::recordHandled);
        QSignalSpy link(dialog.get(), &CGUI2Dlg::linkChanged);
        QTRY_VERIFY_WITH_TIMEOUT(link.count() >= 2, 10000);  // up, then down
        QCOMPARE(link.last().at(0).toBool(), false);
        QCOMPARE(handled.count(), 1);
        QVERIFY(!dialog->linked());
        QVERIFY(!dialog->state().connected());
        QCOMPARE(dialog->state().config().acFailDelay, ups::CConfig{}.acFailDelay);
    }

    void aRecordCutShortByAClosingAgentIsDropped() {
        FakeAgent agent;
        ups::CConfig config;
        config.acFailDelay = 9;
        Bytes whole = lk::EncodeRecord(lk::kConfig, config);
        agent.script = Bytes(whole.begin(), whole.begin() + static_cast<long>(whole.size() / 2));
        auto dialog = Open(agent);
        QSignalSpy link(dialog.get(), &CGUI2Dlg::linkChanged);
        QTRY_VERIFY_WITH_TIMEOUT(agent.answered, 10000);
        agent.current->disconnectFromHost();
        QTRY_VERIFY_WITH_TIMEOUT(!dialog->linked(), 10000);
        QVERIFY(dialog->state().config().acFailDelay != 9);
    }

    void aWrongPasswordSaysGoodbyeAndAsks() {
        FakeAgent agent;
        agent.script = lk::Encode(lk::kWrongPassword);
        auto dialog = Open(agent);
        QTRY_COMPARE_WITH_TIMEOUT(wrongPasswords_, 1, 10000);
        QVERIFY(!dialog->linked());
        const Bytes goodbye = lk::Encode(lk::kGoodbye);
        QVERIFY(std::search(agent.received.begin(), agent.received.end(), goodbye.begin(),
                            goodbye.end()) != agent.received.end());
    }

    void anAgentThatClosesIsCalledAgainAtOnce() {
        FakeAgent agent;
        agent.script = Join({lk::Encode(lk::kConnected), lk::Encode(lk::kGoodbye)});
        auto dialog = Open(agent);
        QTRY_VERIFY_WITH_TIMEOUT(agent.connections >= 2, 10000);
        QVERIFY(dialog->messageList()->count() > 0);
    }

    // Two panels edit the same agent: the second saves over what the first saved meanwhile,
    // changing only what its own user changed.
    void aSavedConfigurationKeepsWhatAnotherPanelChangedMeanwhile() {
        FakeAgent agent;
        agent.script = lk::Encode(lk::kConnected);
        auto dialog = Open(agent);
        QTRY_VERIFY_WITH_TIMEOUT(dialog->state().connected(), 10000);
        dialog->Activate(1);
        QVERIFY(dialog->configDialog() != nullptr);
        QTRY_COMPARE_WITH_TIMEOUT(CountSent(agent, lk::kGetConfig), 1, 5000);
        ups::CConfig read;
        read.acFailDelay = 11;  // not the default the panel starts with
        read.upsOffDelay = 33;  // between two entries of the dialog's list
        agent.Write(lk::EncodeRecord(lk::kConfig, read));
        auto* field = dialog->configDialog()->findChild<QSpinBox*>("acFailDelay");
        QVERIFY(field != nullptr);
        QTRY_COMPARE_WITH_TIMEOUT(dialog->state().config().acFailDelay, 11, 5000);
        QCOMPARE(field->value(), 11);
        field->setValue(12);
        dialog->configDialog()->accept();
        // The panel asks again before it saves, and the agent has another panel's change.
        QTRY_COMPARE_WITH_TIMEOUT(CountSent(agent, lk::kGetConfig), 2, 5000);
        QCOMPARE(CountSent(agent, lk::kConfig), 0);
        ups::CConfig now = read;
        now.batteryLowDelay = 5;
        now.upsOffDelay = 90;
        agent.Write(lk::EncodeRecord(lk::kConfig, now));
        QTRY_COMPARE_WITH_TIMEOUT(CountSent(agent, lk::kConfig), 1, 5000);
        for (const auto& m : Sent(agent)) {
            if (m.code != lk::kConfig) continue;
            QCOMPARE(m.As<ups::CConfig>()->acFailDelay, 12);
            QCOMPARE(m.As<ups::CConfig>()->batteryLowDelay, 5);
            // What the dialog could only show rounded was not the user's change.
            QCOMPARE(m.As<ups::CConfig>()->upsOffDelay, 90);
        }
        QVERIFY(dialog->messageList()->item(0)->text().contains("changed elsewhere"));
        QTRY_VERIFY_WITH_TIMEOUT(dialog->configDialog() == nullptr, 5000);  // the window went
    }

    void aSaveTheAgentWouldRefuseIsNotSentAndTheUserIsTold() {
        FakeAgent agent;
        agent.script = lk::Encode(lk::kConnected);
        auto dialog = Open(agent);
        QTRY_VERIFY_WITH_TIMEOUT(dialog->state().connected(), 10000);
        dialog->Activate(1);
        ups::CConfig read;
        read.acFailDelay = 11;
        read.scheduleWarnTime = -5;  // no control shows it, and the agent refuses it
        agent.Write(lk::EncodeRecord(lk::kConfig, read));
        QTRY_COMPARE_WITH_TIMEOUT(dialog->state().config().acFailDelay, 11, 5000);
        dialog->configDialog()->findChild<QSpinBox*>("acFailDelay")->setValue(12);
        dialog->configDialog()->accept();
        QTRY_COMPARE_WITH_TIMEOUT(CountSent(agent, lk::kGetConfig), 2, 5000);
        agent.Write(lk::EncodeRecord(lk::kConfig, read));
        QTRY_VERIFY_WITH_TIMEOUT(
            dialog->messageList()->item(0)->text().contains("Configuration not saved: "
                                                            "scheduleWarnTime -5"),
            5000);
        QCOMPARE(CountSent(agent, lk::kConfig), 0);
    }

    void aClosedScheduleIsSavedWithItsEditsOverTheAgentsListAsItIsNow() {
        FakeAgent agent;
        agent.script = lk::Encode(lk::kConnected);
        auto dialog = Open(agent);
        QTRY_VERIFY_WITH_TIMEOUT(dialog->state().connected(), 10000);
        const ups::CScheduleDetail theirs(ups::kSwitchOn, ups::kDaily, 0, 2000000000);
        const ups::CScheduleDetail other(ups::kSelfTest, ups::kOnce, 0, 2000100000);
        dialog->Activate(2);
        QTRY_COMPARE_WITH_TIMEOUT(CountSent(agent, lk::kGetSchedule), 1, 5000);
        ups::CSchedule read;
        read.Add(theirs);
        agent.Write(lk::EncodeRecord(lk::kSchedule, read));
        QTRY_COMPARE_WITH_TIMEOUT(dialog->state().schedule().Count(), std::size_t{1}, 5000);
        CDlgSchedule& schedule = *dialog->scheduleDialog();
        schedule.dateEdit()->setText("2033/5/20");
        schedule.runEditor = [](CSelectSched& editor) {
            editor.timeEdit()->setText("10:30 PM");
            editor.eventButton(1)->setChecked(true);
            editor.frequencyButton(0)->setChecked(true);
            editor.accept();
            return editor.result() == QDialog::Accepted;
        };
        QMetaObject::invokeMethod(&schedule, "addEntry");
        QCOMPARE(dialog->state().schedule().Count(), std::size_t{2});
        schedule.reject();  // cancel: the schedule is still saved
        QTRY_COMPARE_WITH_TIMEOUT(CountSent(agent, lk::kGetSchedule), 2, 5000);
        ups::CSchedule now;  // another panel added one meanwhile
        now.Add(theirs);
        now.Add(other);
        agent.Write(lk::EncodeRecord(lk::kSchedule, now));
        QTRY_COMPARE_WITH_TIMEOUT(CountSent(agent, lk::kSchedule), 1, 5000);
        for (const auto& m : Sent(agent)) {
            if (m.code != lk::kSchedule) continue;
            const auto entries = m.As<ups::CSchedule>()->Entries();
            QCOMPARE(entries.size(), std::size_t{3});
            QVERIFY(entries[0] == theirs);
            QVERIFY(entries[1] == other);
            QCOMPARE(entries[2].event, std::uint16_t{ups::kShutdown});
        }
    }

    void theEventLogGoesToTheViewThatAskedAndTheControlsSendTheirCodes() {
        FakeAgent agent;
        agent.script = lk::Encode(lk::kConnected);
        auto dialog = Open(agent);
        QTRY_VERIFY_WITH_TIMEOUT(dialog->state().connected(), 10000);
        dialog->Activate(4);  // the event list
        dialog->Activate(5);  // then the calendar: it asked last
        QTRY_COMPARE_WITH_TIMEOUT(CountSent(agent, lk::kGetEventLog), 2, 5000);
        lk::EventLogRecords log("CEventLog");
        log.records.push_back(ups::CEventLogRecord{});
        log.records.back().eventId = ups::kEvAcFailure;
        log.records.back().time = static_cast<std::uint32_t>(std::time(nullptr));
        agent.Write(lk::EncodeRecord(lk::kEventLog, log));
        QTRY_COMPARE_WITH_TIMEOUT(dialog->state().eventLog().size(), std::size_t{1}, 5000);
        QCOMPARE(dialog->eventListDialog()->rowCount(), 0);
        dialog->Activate(4);
        agent.Write(lk::EncodeRecord(lk::kEventLog, log));
        QTRY_COMPARE_WITH_TIMEOUT(dialog->eventListDialog()->rowCount(), 1, 5000);

        dialog->Activate(6);
        CDlgControl& control = *dialog->controlDialog();
        control.ask = [](const QString&) { return true; };
        control.minutesSpin()->setValue(7);
        for (int command = 0; command < 6; ++command) control.iconButton(command)->click();
        const std::vector<int> wanted = {lk::kTest10s,    lk::kTestMinutes,  lk::kTestToLow,
                                         lk::kCancelTest, lk::kToggleBeeper, lk::kCloseAndShutDown};
        QTRY_VERIFY_WITH_TIMEOUT(CountSent(agent, lk::kCloseAndShutDown) == 1, 5000);
        std::vector<int> codes;
        for (const auto& m : Sent(agent)) {
            if (std::find(wanted.begin(), wanted.end(), m.code) != wanted.end())
                codes.push_back(m.code);
            if (m.code == lk::kTestMinutes) QCOMPARE(m.number, 7);
        }
        QCOMPARE(codes, wanted);
    }

    void withoutALinkTheDataListStopsWaitingAndChangesStayHere() {
        qputenv("TORVANE_TCP_PORT", "1");  // nobody there
        CGUI2Dlg dialog(ups::platform::MakeFileRegistry(place_ / "registry"), prompts_);
        dialog.Activate(3);
        QVERIFY(dialog.dataListDialog() != nullptr);
        QVERIFY(!dialog.dataListDialog()->waiting());
        dialog.Activate(1);
        auto* field = dialog.configDialog()->findChild<QSpinBox*>("acFailDelay");
        field->setValue(77);
        dialog.configDialog()->accept();
        QCOMPARE(dialog.state().config().acFailDelay, 77);
    }

    void noAgentAtStartUpOpensTheSelection() {
        QTcpServer closed;
        closed.listen(QHostAddress::LocalHost, 0);
        const quint16 port = closed.serverPort();
        closed.close();
        qputenv("TORVANE_TCP_PORT", QByteArray::number(port));
        CGUI2Dlg dialog(ups::platform::MakeFileRegistry(place_ / "registry"), prompts_);
        QTRY_COMPARE_WITH_TIMEOUT(choices_, 1, 10000);
        QCOMPARE(retries_, 1);  // asked once, answered No
        QVERIFY(!dialog.linked());
    }
};

}  // namespace kelvora::panel

QTEST_MAIN(kelvora::panel::MainDialogTest)
#include "main_dialog_test.moc"
