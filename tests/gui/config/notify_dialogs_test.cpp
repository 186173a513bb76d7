// The three notification dialogs on their own: captions, what they keep, what OK reports.
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QtTest>
#include <optional>

#include "gui/config/email_dialog.h"
#include "gui/config/messages_dialog.h"
#include "gui/config/pager_dialog.h"
#include "suites.h"

namespace kelvora::panel::test {

namespace {

QStringList LabelTexts(const QWidget& w) {
    QStringList texts;
    for (QLabel* l : w.findChildren<QLabel*>()) texts << l->text();
    return texts;
}

QStringList ButtonTexts(const QWidget& w) {
    QStringList texts;
    for (QPushButton* b : w.findChildren<QPushButton*>()) texts << b->text();
    texts.sort();
    return texts;
}

NotifyTexts Numbered(const std::string& stem) {
    NotifyTexts t;
    for (std::size_t k = 0; k < t.size(); ++k) t[k] = stem + std::to_string(k);
    return t;
}

const QStringList kKinds = {"市電中斷",     "電池低電位",   "市電恢復", "電池低電位狀況解除",
                            "預定關機時間", "預定關機解除", "電池損壞"};

class NotifyDialogTest : public QObject {
    Q_OBJECT

  private slots:
    void messagesShowTheStoredTextsAndDropEditsOnDefaults() {
        CDlgMessages d;
        QCOMPARE(d.windowTitle(), QStringLiteral("設定警告與電子郵件訊息"));
        QVERIFY(d.isModal());
        QCOMPARE(LabelTexts(d), kKinds);
        QCOMPARE(ButtonTexts(d), QStringList({"取消", "確定", "預設值"}));
        std::optional<NotifyTexts> reported;
        connect(&d, &CDlgMessages::stored, this, [&](const NotifyTexts& t) { reported = t; });

        d.Load(Numbered("text "));
        QCOMPARE(d.field(ups::kUpsFailure)->text(), QStringLiteral("text 6"));
        d.field(ups::kBatteryLow)->setText(QStringLiteral("edited"));
        d.findChild<QPushButton*>(QStringLiteral("defaults"))->click();
        QCOMPARE(d.field(ups::kBatteryLow)->text(), QStringLiteral("text 1"));
        QVERIFY(!reported.has_value());

        d.field(ups::kBatteryLow)->setText(QStringLiteral("taken"));
        d.findChild<QPushButton*>(QStringLiteral("ok"))->click();
        QVERIFY(reported.has_value());
        NotifyTexts expected = Numbered("text ");
        expected[ups::kBatteryLow] = "taken";
        QVERIFY(*reported == expected);
        QVERIFY(d.texts() == expected);
        QCOMPARE(d.result(), int(QDialog::Accepted));
        // "預設值" now goes back to what OK stored, not to what was loaded.
        d.field(ups::kBatteryLow)->setText(QStringLiteral("again"));
        d.ShowStored();
        QCOMPARE(d.field(ups::kBatteryLow)->text(), QStringLiteral("taken"));
    }

    void cancelKeepsTheStoredTexts() {
        CDlgMessages d;
        d.Load(Numbered("t"));
        int reports = 0;
        connect(&d, &CDlgMessages::stored, this, [&] { ++reports; });
        d.field(0)->setText(QStringLiteral("dropped"));
        d.findChild<QPushButton*>(QStringLiteral("cancel"))->click();
        QCOMPARE(reports, 0);
        QVERIFY(d.texts() == Numbered("t"));
        QCOMPARE(d.field(0)->text(), QStringLiteral("t0"));
    }

    void longTextsAreKeptWhole() {
        // Longer than a line edit takes by default.
        NotifyTexts texts;
        texts[ups::kUtilityFailed] = std::string(40000, 'w');
        CDlgMessages d;
        d.Load(texts);
        std::optional<NotifyTexts> reported;
        connect(&d, &CDlgMessages::stored, this, [&](const NotifyTexts& t) { reported = t; });
        d.accept();
        QVERIFY(reported.has_value());
        QCOMPARE((*reported)[ups::kUtilityFailed].size(), std::size_t{40000});
    }

    void emailReportsTheServerAndTheAddresses() {
        CDlgEmail d;
        QCOMPARE(d.windowTitle(), QStringLiteral("電子郵件"));
        QVERIFY(d.isModal());
        QStringList expectedLabels = {"電子郵件伺服器IP地址 :", "電子郵件地址"};
        expectedLabels += kKinds;
        QCOMPARE(LabelTexts(d), expectedLabels);
        QCOMPARE(ButtonTexts(d), QStringList({"取消", "確定"}));
        d.LoadServer("smtp.example.net");
        d.LoadAddresses(Numbered("a"));
        QCOMPARE(d.serverField()->text(), QStringLiteral("smtp.example.net"));
        QCOMPARE(d.field(ups::kScheduledShutdownCancelled)->text(), QStringLiteral("a5"));
        std::optional<std::pair<std::string, NotifyTexts>> reported;
        connect(&d, &CDlgEmail::stored, this,
                [&](const std::string& s, const NotifyTexts& a) { reported.emplace(s, a); });
        d.serverField()->setText(QStringLiteral("10.0.0.25"));
        d.field(ups::kUtilityFailed)->setText(QStringLiteral("root@localhost"));
        d.findChild<QPushButton*>(QStringLiteral("ok"))->click();
        QVERIFY(reported.has_value());
        QCOMPARE(reported->first, std::string("10.0.0.25"));
        QCOMPARE(reported->second[ups::kUtilityFailed], std::string("root@localhost"));
        QCOMPARE(reported->second[ups::kUpsFailure], std::string("a6"));
        QCOMPARE(d.server(), std::string("10.0.0.25"));
    }

    void pagerReportsThePortIndexAndThePairs() {
        CDlgPager d;
        QCOMPARE(d.windowTitle(), QStringLiteral("設定呼叫器號碼與傳送碼"));
        QVERIFY(d.isModal());
        QStringList expectedLabels = {"數據機連接串列通訊埠", "呼叫器號碼", "傳送碼"};
        expectedLabels += kKinds;
        QCOMPARE(LabelTexts(d), expectedLabels);
        QCOMPARE(ButtonTexts(d), QStringList({"取消", "確定"}));
        QStringList ports;
        for (int i = 0; i < d.portList()->count(); ++i) ports << d.portList()->itemText(i);
        QCOMPARE(ports, QStringList({"COM 1", "COM 2", "COM 3", "COM 4"}));

        d.LoadPort(2);
        d.LoadPairs(Numbered("n"), Numbered("c"));
        QCOMPARE(d.portList()->currentText(), QStringLiteral("COM 3"));
        QCOMPARE(d.numberField(ups::kScheduledShutdownComing)->text(), QStringLiteral("n4"));
        QCOMPARE(d.codeField(ups::kBatteryLowCleared)->text(), QStringLiteral("c3"));
        for (int bad : {-1, 4, 1000}) {
            d.LoadPort(bad);
            QCOMPARE(d.port(), 0);
            QCOMPARE(d.portList()->currentIndex(), 0);
        }

        std::optional<int> port;
        NotifyTexts numbers, codes;
        connect(&d, &CDlgPager::stored, this,
                [&](int p, const NotifyTexts& n, const NotifyTexts& c) {
                    port = p;
                    numbers = n;
                    codes = c;
                });
        d.portList()->setCurrentIndex(1);
        d.codeField(ups::kUtilityRestored)->setText(QStringLiteral("77"));
        d.findChild<QPushButton*>(QStringLiteral("ok"))->click();
        QCOMPARE(port, std::optional<int>(1));
        QVERIFY(numbers == Numbered("n"));
        QCOMPARE(codes[ups::kUtilityRestored], std::string("77"));
        QCOMPARE(codes[ups::kUtilityFailed], std::string("c0"));
        QCOMPARE(d.port(), 1);

        // Cancel puts the stored port back.
        d.portList()->setCurrentIndex(3);
        d.reject();
        QCOMPARE(d.portList()->currentIndex(), 1);
    }
};

}  // namespace

int RunNotifyDialogTests(int argc, char** argv) {
    NotifyDialogTest t;
    return QTest::qExec(&t, argc, argv);
}

}  // namespace kelvora::panel::test

#include "notify_dialogs_test.moc"
