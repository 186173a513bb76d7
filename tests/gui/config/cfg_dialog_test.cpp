// The configuration dialog: what it shows, what OK gives the main dialog, and what it refuses.
#include <QLabel>
#include <QPushButton>
#include <QtTest>
#include <optional>

#include "gui/config/cfg_dialog.h"
#include "gui/config/shutdown_delay.h"
#include "suites.h"

namespace kelvora::panel::test {

namespace {

template <class T>
T* Child(const QObject& parent, const char* name) {
    T* child = parent.findChild<T*>(QLatin1String(name));
    if (!child) qFatal("no control named %s", name);
    return child;
}

// A record with every field away from the dialog's starting values and defaults.
ups::CConfig Unusual() {
    ups::CConfig c;
    c.upsType = ups::CConfig::kSec24;
    c.comPort = 2;
    c.baudRate = 2400;
    c.reserved1 = 77;
    c.dataLogOn = 1;
    c.dataLogInterval = 120;
    c.acFailDelay = 45;
    c.batteryLowDelay = 7;
    c.upsOffDelay = 300;  // "5"
    c.runProgram = 1;
    c.programCmdLine = "/usr/local/bin/save-work --all";
    c.reserved2 = -5;
    c.scheduleWarnTime = 12;
    c.closeApps = 0;
    c.shutdownWindows = 0;
    c.showWarnings = 0;
    c.warnRepeat = 90;
    c.emailOn = 1;
    c.pagerOn = 1;
    c.mailServer = "mail.example.net";
    c.pagerPort = 3;
    c.agentPassword = "secret";
    c.turnUpsOff = 0;
    c.showLastShutdown = 0;
    return c;
}

// The dialog as the main dialog uses it, with the user's side answered by the test.
struct Harness {
    CDlgCfg dialog;
    QStringList messages;
    std::vector<ups::CConfig> accepted;
    int cancels = 0;

    Harness() {
        dialog.showRangeMessage = [this](QWidget*, const QString& text) { messages << text; };
        dialog.chooseProgram = [](QWidget*, const QString&) { return QString(); };
        dialog.runModal = [](QDialog&) { return int(QDialog::Rejected); };
        QObject::connect(&dialog, &CDlgCfg::configAccepted,
                         [this](const ups::CConfig& c) { accepted.push_back(c); });
        QObject::connect(&dialog, &CDlgCfg::cancelled, [this] { ++cancels; });
        dialog.show();
    }
    template <class T>
    T* get(const char* name) {
        return Child<T>(dialog, name);
    }
    CNumberEdit* number(const char* name) { return get<CNumberEdit>(name); }
    void type(const char* name, const QString& text) {
        CNumberEdit* edit = number(name);
        edit->selectAll();
        QTest::keyClicks(edit, text);
    }
    void clickOk() { get<QPushButton>("ok")->click(); }
};

class CfgDialogTest : public QObject {
    Q_OBJECT

  private slots:
    void everyCaptionIsShown() {
        Harness h;
        QCOMPARE(h.dialog.windowTitle(), QStringLiteral("參數設定"));
        QStringList titles;
        for (QLabel* title : h.dialog.findChildren<QLabel*>(QStringLiteral("groupTitle"))) {
            titles << title->text();
            QCOMPARE(title->palette().color(QPalette::WindowText), QColor(0, 0, 128));
        }
        QCOMPARE(titles, QStringList({"一般設定", "通訊設定", "關閉電腦設定", "關機時間參數"}));

        QStringList captions;
        for (QLabel* l : h.dialog.findChildren<QLabel*>()) captions << l->text();
        for (QAbstractButton* b : h.dialog.findChildren<QAbstractButton*>()) captions << b->text();
        for (const char* caption : {"通訊方式",
                                    "串列通訊埠",
                                    "密碼 :",
                                    "記錄UPS 數據",
                                    "間隔:",
                                    "秒",
                                    "啟動警告訊息顯示視窗",
                                    "啟動電子郵件傳送功能",
                                    "啟動呼叫器傳呼功能:",
                                    "關機前欲執行的外部程式:",
                                    "...",
                                    "自動存檔",
                                    "關閉Windows",
                                    "關閉 UPS",
                                    "程式啟動時顯示上次關機前存檔資料",
                                    "當市電中斷時,多少分鐘後開始關閉動作 :",
                                    "當電池低電位時,多少分鐘後開始關閉動作 :",
                                    "UPS 關機前的緩衝時間 :",
                                    "警告訊息間隔時間 :",
                                    "預設值",
                                    "確定",
                                    "取消",
                                    "設定警告與電子郵件訊息",
                                    "電子郵件",
                                    "設定呼叫器號碼與傳送碼"}) {
            QVERIFY2(captions.contains(QString::fromUtf8(caption)), caption);
        }

        auto* types = h.get<QComboBox>("upsType");
        QStringList typeItems;
        for (int i = 0; i < types->count(); ++i) typeItems << types->itemText(i);
        QCOMPARE(typeItems,
                 QStringList({"Stavlen", "Demo", "Stav(USB)", "SEC(24bps)", "SEC(96bps)"}));
        auto* ports = h.get<QComboBox>("comPort");
        QStringList portItems;
        for (int i = 0; i < ports->count(); ++i) portItems << ports->itemText(i);
        QCOMPARE(portItems, QStringList({"COM 1", "COM 2", "COM 3", "COM 4", "None"}));
        QCOMPARE(h.get<QComboBox>("upsOffDelay")->count(), kDelayEntries);
        QCOMPARE(h.get<QLineEdit>("agentPassword")->echoMode(), QLineEdit::Password);
        QCOMPARE(h.get<QLineEdit>("programCmdLine")->maxLength(), 300);
    }

    void itFitsASmallScreen() {
        Harness h;
        // Set ARTIFACT_DIR to keep pictures of the dialogs as drawn.
        const QString artifacts = qEnvironmentVariable("ARTIFACT_DIR");
        const std::pair<QDialog*, const char*> dialogs[] = {
            {&h.dialog, "cfg_dialog"},
            {&h.dialog.messagesDialog(), "messages_dialog"},
            {&h.dialog.emailDialog(), "email_dialog"},
            {&h.dialog.pagerDialog(), "pager_dialog"}};
        for (const auto& [dialog, name] : dialogs) {
            const QSize size = dialog->sizeHint();
            QVERIFY2(
                size.width() <= 1000 && size.height() <= 700,
                qPrintable(
                    QStringLiteral("%1 %2x%3").arg(name).arg(size.width()).arg(size.height())));
            if (!artifacts.isEmpty()) {
                dialog->resize(size);
                dialog->grab().save(artifacts + "/" + name + ".png");
            }
        }
    }

    void beforeAnyRecordItShowsItsStartingValues() {
        Harness h;
        QCOMPARE(h.get<QComboBox>("upsType")->currentText(), QStringLiteral("Demo"));
        QCOMPARE(h.get<QComboBox>("comPort")->currentText(), QStringLiteral("COM 1"));
        QVERIFY(!h.get<QComboBox>("comPort")->isEnabled());
        QVERIFY(!h.get<QCheckBox>("dataLogOn")->isChecked());
        QCOMPARE(h.number("dataLogInterval")->value(), 30);
        QVERIFY(h.get<QCheckBox>("showWarnings")->isChecked());
        QVERIFY(!h.get<QCheckBox>("emailOn")->isChecked());
        QVERIFY(h.get<QCheckBox>("turnUpsOff")->isChecked());
        QCOMPARE(h.number("acFailDelay")->value(), 0);
        QCOMPARE(h.number("batteryLowDelay")->value(), 1);
        QCOMPARE(h.get<QComboBox>("upsOffDelay")->currentText(), QStringLiteral("2"));
        QCOMPARE(h.number("warnRepeat")->value(), 30);
        // The utility-failure delay starts at 0, which the agent would not take.
        h.clickOk();
        QVERIFY(h.accepted.empty());
        QCOMPARE(h.messages, QStringList{"Please enter an integer between 1 and 2880."});
    }

    void aLoadedRecordComesBackWhole() {
        Harness h;
        const ups::CConfig loaded = Unusual();
        h.dialog.LoadFromRecord(loaded);
        QCOMPARE(h.get<QComboBox>("upsType")->currentText(), QStringLiteral("SEC(24bps)"));
        QCOMPARE(h.get<QComboBox>("comPort")->currentText(), QStringLiteral("COM 3"));
        QCOMPARE(h.get<QLineEdit>("agentPassword")->text(), QStringLiteral("secret"));
        QCOMPARE(h.get<QComboBox>("upsOffDelay")->currentText(), QStringLiteral("5"));
        QCOMPARE(h.number("acFailDelay")->value(), 45);
        QVERIFY(!h.get<QCheckBox>("showLastShutdown")->isChecked());
        h.clickOk();
        QCOMPARE(h.accepted.size(), std::size_t{1});
        QVERIFY(h.accepted[0] == loaded);
        QVERIFY(h.dialog.record() == loaded);
        QVERIFY(h.messages.isEmpty());
        QVERIFY(!h.dialog.isVisible());
        QCOMPARE(h.cancels, 0);
    }

    void okStoresEveryListAndFieldInItsPlace() {
        Harness h;
        ups::CConfig loaded = Unusual();
        h.dialog.LoadFromRecord(loaded);
        h.get<QComboBox>("upsType")->setCurrentIndex(ups::CConfig::kStavlen);
        h.get<QComboBox>("comPort")->setCurrentIndex(4);
        h.get<QLineEdit>("agentPassword")->setText(QStringLiteral("other"));
        h.type("dataLogInterval", QStringLiteral("45"));
        h.get<QLineEdit>("programCmdLine")->setText(QStringLiteral("/opt/關機.sh"));
        h.type("acFailDelay", QStringLiteral("2880"));
        h.type("batteryLowDelay", QStringLiteral("600"));
        h.get<QComboBox>("upsOffDelay")->setCurrentIndex(3);  // ".5"
        h.type("warnRepeat", QStringLiteral("10"));
        h.clickOk();
        QCOMPARE(h.accepted.size(), std::size_t{1});
        const ups::CConfig& c = h.accepted[0];
        QCOMPARE(c.upsType, 0);
        QCOMPARE(c.comPort, 4);
        QCOMPARE(c.agentPassword, std::string("other"));
        QCOMPARE(c.dataLogInterval, 45);
        QCOMPARE(c.programCmdLine, std::string("/opt/關機.sh"));
        QCOMPARE(c.acFailDelay, 2880);
        QCOMPARE(c.batteryLowDelay, 600);
        QCOMPARE(c.upsOffDelay, 30);
        QCOMPARE(c.warnRepeat, 10);
        // What the dialog has no control for went through as it came.
        QCOMPARE(c.reserved1, loaded.reserved1);
        QCOMPARE(c.reserved2, loaded.reserved2);
        QCOMPARE(c.scheduleWarnTime, loaded.scheduleWarnTime);
        QCOMPARE(c.mailServer, loaded.mailServer);
        QCOMPARE(c.pagerPort, loaded.pagerPort);
        QCOMPARE(c.baudRate, 2400);
    }

    void eachCheckBoxHasItsOwnField() {
        const std::pair<const char*, std::int32_t ups::CConfig::*> boxes[] = {
            {"dataLogOn", &ups::CConfig::dataLogOn},
            {"showWarnings", &ups::CConfig::showWarnings},
            {"emailOn", &ups::CConfig::emailOn},
            {"pagerOn", &ups::CConfig::pagerOn},
            {"runProgram", &ups::CConfig::runProgram},
            {"closeApps", &ups::CConfig::closeApps},
            {"shutdownWindows", &ups::CConfig::shutdownWindows},
            {"turnUpsOff", &ups::CConfig::turnUpsOff},
            {"showLastShutdown", &ups::CConfig::showLastShutdown},
        };
        for (const auto& [name, member] : boxes) {
            Harness h;
            const ups::CConfig loaded = Unusual();
            h.dialog.LoadFromRecord(loaded);
            h.get<QCheckBox>(name)->toggle();
            h.clickOk();
            QCOMPARE(h.accepted.size(), std::size_t{1});
            ups::CConfig expected = loaded;
            expected.*member = loaded.*member ? 0 : 1;
            QVERIFY2(h.accepted[0] == expected, name);
        }
    }

    void theTypeDecidesThePortAndTheSpeed() {
        Harness h;
        ups::CConfig loaded = Unusual();
        loaded.upsType = ups::CConfig::kDemo;
        loaded.baudRate = 2400;
        h.dialog.LoadFromRecord(loaded);
        auto* ports = h.get<QComboBox>("comPort");
        auto* portLabel = h.get<QLabel>("comPortLabel");
        QVERIFY(!ports->isEnabled());
        QVERIFY(!portLabel->isEnabled());
        auto* types = h.get<QComboBox>("upsType");
        types->setCurrentIndex(ups::CConfig::kSec96);
        QVERIFY(ports->isEnabled());
        QVERIFY(portLabel->isEnabled());
        types->setCurrentIndex(ups::CConfig::kStavUsb);
        QVERIFY(!ports->isEnabled());
        types->setCurrentIndex(ups::CConfig::kSec96);
        h.clickOk();
        QCOMPARE(h.accepted.size(), std::size_t{1});
        QCOMPARE(h.accepted[0].upsType, 4);
        QCOMPARE(h.accepted[0].baudRate, 9600);

        // A serial record arriving with the wrong speed is shown, and kept, with the right one.
        Harness again;
        loaded.upsType = ups::CConfig::kSec24;
        loaded.baudRate = 9600;
        again.dialog.LoadFromRecord(loaded);
        QCOMPARE(again.dialog.record().baudRate, 2400);
        QVERIFY(again.get<QComboBox>("comPort")->isEnabled());
    }

    void defaultsLeaveTypeLoggingAndPassword() {
        Harness h;
        h.dialog.LoadFromRecord(Unusual());
        h.get<QPushButton>("defaults")->click();
        QCOMPARE(h.get<QComboBox>("upsType")->currentText(), QStringLiteral("SEC(24bps)"));
        QVERIFY(h.get<QCheckBox>("dataLogOn")->isChecked());
        QCOMPARE(h.get<QLineEdit>("agentPassword")->text(), QStringLiteral("secret"));
        h.clickOk();
        QCOMPARE(h.accepted.size(), std::size_t{1});
        const ups::CConfig& c = h.accepted[0];
        QCOMPARE(c.upsType, ups::CConfig::kSec24);
        QCOMPARE(c.dataLogOn, 1);
        QCOMPARE(c.agentPassword, std::string("secret"));
        QCOMPARE(c.comPort, 0);
        QCOMPARE(c.dataLogInterval, 30);
        QCOMPARE(c.showWarnings, 1);
        QCOMPARE(c.emailOn, 0);
        QCOMPARE(c.pagerOn, 0);
        QCOMPARE(c.runProgram, 0);
        QCOMPARE(c.programCmdLine, std::string());
        QCOMPARE(c.closeApps, 1);
        QCOMPARE(c.shutdownWindows, 1);
        QCOMPARE(c.turnUpsOff, 1);
        QCOMPARE(c.showLastShutdown, 1);
        QCOMPARE(c.acFailDelay, 10);
        QCOMPARE(c.batteryLowDelay, 1);
        QCOMPARE(c.upsOffDelay, 120);
        QCOMPARE(c.warnRepeat, 30);
    }

    void valuesOutsideTheirRangeAreRefused_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("message");
        QTest::newRow("utility failure 2881") << "acFailDelay"
                                              << "2881"
                                              << "Please enter an integer between 1 and 2880.";
        QTest::newRow("utility failure 0") << "acFailDelay"
                                           << "0"
                                           << "Please enter an integer between 1 and 2880.";
        QTest::newRow("battery low 601") << "batteryLowDelay"
                                         << "601"
                                         << "Please enter an integer between 1 and 600.";
        QTest::newRow("interval 601") << "dataLogInterval"
                                      << "601"
                                      << "Please enter an integer between 0 and 600.";
        QTest::newRow("interval -1") << "dataLogInterval"
                                     << "-1"
                                     << "Please enter an integer between 0 and 600.";
        QTest::newRow("warning 9") << "warnRepeat"
                                   << "9"
                                   << "Please enter an integer between 10 and 600.";
        QTest::newRow("warning 601") << "warnRepeat"
                                     << "601"
                                     << "Please enter an integer between 10 and 600.";
    }
    void valuesOutsideTheirRangeAreRefused() {
        QFETCH(QString, field);
        QFETCH(QString, typed);
        QFETCH(QString, message);
        Harness h;
        const ups::CConfig loaded = Unusual();
        h.dialog.LoadFromRecord(loaded);
        h.type(qPrintable(field), typed);
        h.clickOk();
        QVERIFY(h.accepted.empty());
        QCOMPARE(h.messages, QStringList{message});
        QVERIFY(h.dialog.isVisible());
        QCOMPARE(h.dialog.focusWidget(), h.number(qPrintable(field)));
        QVERIFY(h.dialog.record() == loaded);
    }

    void zeroReachedWithTheBatteryLowArrowsIsRefused() {
        Harness h;
        h.dialog.LoadFromRecord(Unusual());
        CNumberEdit* edit = h.number("batteryLowDelay");
        edit->setValue(1);
        edit->stepBy(-1);
        QCOMPARE(edit->value(), 0);
        edit->stepBy(-5);
        QCOMPARE(edit->value(), 0);
        h.clickOk();
        QVERIFY(h.accepted.empty());
        QCOMPARE(h.messages, QStringList{"Please enter an integer between 1 and 600."});
        QVERIFY(h.dialog.isVisible());
        QCOMPARE(h.dialog.focusWidget(), edit);
        // Mended, it goes through.
        edit->stepBy(1);
        h.clickOk();
        QCOMPARE(h.accepted.size(), std::size_t{1});
        QCOMPARE(h.accepted[0].batteryLowDelay, 1);
    }

    void theArrowsKeepToTheirRangeButTypingDoesNot() {
        Harness h;
        h.dialog.LoadFromRecord(Unusual());
        CNumberEdit* interval = h.number("dataLogInterval");
        interval->setValue(1);
        interval->stepBy(-1);
        QCOMPARE(interval->value(), 1);
        // 0 cannot be reached with the arrows, but typed it is a valid interval.
        h.type("dataLogInterval", QStringLiteral("0"));
        QCOMPARE(interval->value(), 0);
        CNumberEdit* acFail = h.number("acFailDelay");
        acFail->setValue(2880);
        acFail->stepBy(1);
        QCOMPARE(acFail->value(), 2880);
        // A typed value outside comes back into the range with the first step.
        acFail->setValue(5000);
        acFail->stepBy(-1);
        QCOMPARE(acFail->value(), 2880);
        h.clickOk();
        QCOMPARE(h.accepted.size(), std::size_t{1});
        QCOMPARE(h.accepted[0].dataLogInterval, 0);
        QVERIFY(h.messages.isEmpty());
    }

    void aPathTooLongForTheRecordIsRefused() {
        Harness h;
        h.dialog.LoadFromRecord(Unusual());
        auto* path = h.get<QLineEdit>("programCmdLine");
        // 101 characters, each three bytes in the record.
        path->setText(QString(101, QChar(0x95DC)));
        h.clickOk();
        QVERIFY(h.accepted.empty());
        QCOMPARE(h.messages, QStringList{"Please enter no more than 300 characters."});
        QCOMPARE(h.dialog.focusWidget(), path);
        path->setText(QString(100, QChar(0x95DC)));
        h.clickOk();
        QCOMPARE(h.accepted.size(), std::size_t{1});
        QCOMPARE(h.accepted[0].programCmdLine.size(), std::size_t{300});
    }

    void theBrowserFillsThePath() {
        Harness h;
        h.dialog.LoadFromRecord(Unusual());
        QStringList asked;
        QString answer = QStringLiteral("/opt/ups/notify");
        h.dialog.chooseProgram = [&](QWidget*, const QString& current) {
            asked << current;
            return answer;
        };
        auto* path = h.get<QLineEdit>("programCmdLine");
        auto* browse = h.get<QPushButton>("browse");
        browse->click();
        QCOMPARE(asked, QStringList{"/usr/local/bin/save-work --all"});
        QCOMPARE(path->text(), answer);
        answer.clear();  // cancelled
        browse->click();
        QCOMPARE(path->text(), QStringLiteral("/opt/ups/notify"));
        answer = QStringLiteral("/") + QString(300, QLatin1Char('p'));
        browse->click();
        QCOMPARE(path->text(), QStringLiteral("/opt/ups/notify"));
        QCOMPARE(h.messages, QStringList{"Please enter no more than 300 characters."});
        QVERIFY(h.dialog.isVisible());
    }

    void aTypeTheListLacksMustBeChosen() {
        Harness h;
        ups::CConfig loaded = Unusual();
        loaded.upsType = 9;
        h.dialog.LoadFromRecord(loaded);
        auto* types = h.get<QComboBox>("upsType");
        QCOMPARE(types->currentIndex(), -1);
        QVERIFY(!h.get<QComboBox>("comPort")->isEnabled());
        h.clickOk();
        QVERIFY(h.accepted.empty());
        QCOMPARE(h.messages, QStringList{"Please enter an integer between 0 and 4."});
        types->setCurrentIndex(ups::CConfig::kSec96);
        h.clickOk();
        QCOMPARE(h.accepted.size(), std::size_t{1});
        QCOMPARE(h.accepted[0].upsType, 4);
    }

    void cancelAndTheTitleBarLeaveTheRecordAlone() {
        Harness h;
        const ups::CConfig loaded = Unusual();
        h.dialog.LoadFromRecord(loaded);
        h.type("acFailDelay", QStringLiteral("99"));
        h.get<QPushButton>("cancel")->click();
        QCOMPARE(h.cancels, 1);
        QVERIFY(h.accepted.empty());
        QVERIFY(!h.dialog.isVisible());
        QVERIFY(h.dialog.record() == loaded);

        h.dialog.show();
        QVERIFY(h.dialog.close());
        QCOMPARE(h.cancels, 2);
        QVERIFY(h.accepted.empty());
        QVERIFY(h.messages.isEmpty());
    }

    void theTitleBarWaitsForAWorkableBatteryDelayAndWarningInterval() {
        Harness h;
        h.dialog.LoadFromRecord(Unusual());
        h.type("batteryLowDelay", QStringLiteral("700"));
        QVERIFY(!h.dialog.close());
        QVERIFY(h.dialog.isVisible());
        QCOMPARE(h.cancels, 0);
        QCOMPARE(h.messages, QStringList{"Please enter an integer between 1 and 600."});
        QCOMPARE(h.dialog.focusWidget(), h.number("batteryLowDelay"));
        h.type("batteryLowDelay", QStringLiteral("5"));
        h.type("warnRepeat", QStringLiteral("5"));
        QVERIFY(!h.dialog.close());
        QCOMPARE(h.messages.size(), 2);
        QCOMPARE(h.messages.last(), QStringLiteral("Please enter an integer between 10 and 600."));
        // Other fields out of range do not hold it: their values are dropped anyway.
        h.type("warnRepeat", QStringLiteral("30"));
        h.type("acFailDelay", QStringLiteral("0"));
        QVERIFY(h.dialog.close());
        QCOMPARE(h.cancels, 1);
        QVERIFY(h.accepted.empty());
    }

    void theNotificationDialogsReportThroughTheConfigurationDialog() {
        Harness h;
        h.dialog.LoadFromRecord(Unusual());
        ups::CMsgTab tab;
        tab.address[ups::kBatteryLow] = "ops@example.net";
        tab.number[ups::kUpsFailure] = "5551234";
        tab.code[ups::kUpsFailure] = "99#";
        h.dialog.LoadNotifications(tab, 1);
        QCOMPARE(h.dialog.messagesDialog().field(ups::kUtilityFailed)->text(),
                 QStringLiteral("Attention! Utility Power Failure!"));
        QCOMPARE(h.dialog.emailDialog().serverField()->text(), QStringLiteral("mail.example.net"));
        QCOMPARE(h.dialog.emailDialog().field(ups::kBatteryLow)->text(),
                 QStringLiteral("ops@example.net"));
        QCOMPARE(h.dialog.pagerDialog().portList()->currentText(), QStringLiteral("COM 2"));
        QCOMPARE(h.dialog.pagerDialog().codeField(ups::kUpsFailure)->text(), QStringLiteral("99#"));

        std::optional<NotifyTexts> texts;
        std::optional<std::pair<std::string, NotifyTexts>> mail;
        std::optional<int> pagerPort;
        NotifyTexts numbers, codes;
        connect(&h.dialog, &CDlgCfg::messagesAccepted, this,
                [&](const NotifyTexts& t) { texts = t; });
        connect(&h.dialog, &CDlgCfg::emailAccepted, this,
                [&](const std::string& s, const NotifyTexts& a) { mail.emplace(s, a); });
        connect(&h.dialog, &CDlgCfg::pagerAccepted, this,
                [&](int port, const NotifyTexts& n, const NotifyTexts& c) {
                    pagerPort = port;
                    numbers = n;
                    codes = c;
                });

        QStringList ran;
        h.dialog.runModal = [&](QDialog& sub) {
            ran << sub.windowTitle();
            if (auto* m = qobject_cast<CDlgMessages*>(&sub)) {
                m->field(ups::kUtilityRestored)->setText(QStringLiteral("市電恢復了"));
            } else if (auto* e = qobject_cast<CDlgEmail*>(&sub)) {
                e->serverField()->setText(QStringLiteral("10.1.2.3"));
                e->field(ups::kUpsFailure)->setText(QStringLiteral("boss@example.net"));
            } else if (auto* p = qobject_cast<CDlgPager*>(&sub)) {
                p->portList()->setCurrentIndex(3);
                p->numberField(ups::kUtilityFailed)->setText(QStringLiteral("0912345678"));
            }
            sub.accept();
            return sub.result();
        };
        h.get<QPushButton>("messages")->click();
        h.get<QPushButton>("email")->click();
        h.get<QPushButton>("pager")->click();
        QCOMPARE(ran,
                 QStringList({"設定警告與電子郵件訊息", "電子郵件", "設定呼叫器號碼與傳送碼"}));

        QVERIFY(texts.has_value());
        QCOMPARE((*texts)[ups::kUtilityRestored], std::string("市電恢復了"));
        QCOMPARE((*texts)[ups::kBatteryLow], std::string("Attention! UPS Battery Low!"));
        QVERIFY(mail.has_value());
        QCOMPARE(mail->first, std::string("10.1.2.3"));
        QCOMPARE(mail->second[ups::kUpsFailure], std::string("boss@example.net"));
        QCOMPARE(mail->second[ups::kBatteryLow], std::string("ops@example.net"));
        QCOMPARE(pagerPort, std::optional<int>(3));
        QCOMPARE(numbers[ups::kUtilityFailed], std::string("0912345678"));
        QCOMPARE(codes[ups::kUpsFailure], std::string("99#"));
        QVERIFY(h.dialog.isVisible());  // the configuration dialog itself stays open

        // The server and the modem port belong to the configuration record: its OK later
        // sends the new ones, not those it was loaded with.
        h.clickOk();
        QCOMPARE(h.accepted.size(), std::size_t{1});
        QCOMPARE(h.accepted[0].mailServer, std::string("10.1.2.3"));
        QCOMPARE(h.accepted[0].pagerPort, 3);
    }

    void aCancelledNotificationDialogReportsNothing() {
        Harness h;
        int reports = 0;
        connect(&h.dialog, &CDlgCfg::messagesAccepted, this, [&] { ++reports; });
        connect(&h.dialog, &CDlgCfg::emailAccepted, this, [&] { ++reports; });
        connect(&h.dialog, &CDlgCfg::pagerAccepted, this, [&] { ++reports; });
        h.dialog.runModal = [](QDialog& sub) {
            for (QLineEdit* e : sub.findChildren<QLineEdit*>()) e->setText(QStringLiteral("x"));
            sub.reject();
            return sub.result();
        };
        for (const char* button : {"messages", "email", "pager"})
            h.get<QPushButton>(button)->click();
        QCOMPARE(reports, 0);
        QCOMPARE(h.dialog.emailDialog().server(), std::string());
        QCOMPARE(h.dialog.emailDialog().serverField()->text(), QString());
    }
};

}  // namespace

int RunCfgDialogTests(int argc, char** argv) {
    CfgDialogTest t;
    return QTest::qExec(&t, argc, argv);
}

}  // namespace kelvora::panel::test

#include "cfg_dialog_test.moc"
