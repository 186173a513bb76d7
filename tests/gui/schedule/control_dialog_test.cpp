// The control dialog: each picture asks its own question, and only a Yes sends its command.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>
#include <memory>

#include "gui/schedule/control_dialog.h"
#include "suites.h"

namespace kelvora::panel::test {

namespace {

QImage Shown(const QToolButton* button) {
    return button->icon().pixmap(QSize(kControlIconSize, kControlIconSize)).toImage();
}

QImage Picture(int command, bool pressed) {
    return ControlPicture(command, pressed).toImage();
}

// One spy per command signal, in ControlCommand order.
struct Spies {
    explicit Spies(CDlgControl& d)
        : all{std::make_shared<QSignalSpy>(&d, &CDlgControl::test10Seconds),
              std::make_shared<QSignalSpy>(&d, &CDlgControl::testMinutes),
              std::make_shared<QSignalSpy>(&d, &CDlgControl::testUntilLow),
              std::make_shared<QSignalSpy>(&d, &CDlgControl::cancelTest),
              std::make_shared<QSignalSpy>(&d, &CDlgControl::toggleBeeper),
              std::make_shared<QSignalSpy>(&d, &CDlgControl::shutDown)} {}
    int Total() const {
        int n = 0;
        for (const auto& s : all) n += static_cast<int>(s->count());
        return n;
    }
    std::shared_ptr<QSignalSpy> all[kControlCommandCount];
};

class ControlDialogTest : public QObject {
    Q_OBJECT

  private slots:
    void eachPictureAsksItsQuestion_data() {
        QTest::addColumn<int>("command");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("question");
        QTest::newRow("10 s") << int(kControlTest10Seconds) << "UPS自我測試10秒鐘"
                              << "Perform 10 Seconds UPS Self-Test?";
        QTest::newRow("minutes") << int(kControlTestMinutes) << "UPS自我測試"
                                 << "Perform UPS Self-Test?";
        QTest::newRow("battery low") << int(kControlTestUntilLow) << "UPS自我測試到低電位後停止"
                                     << "UPS Self-Test till Battery Low.\nContinue?";
        QTest::newRow("cancel") << int(kControlCancelTest) << "取消UPS自我測試"
                                << "Cancel UPS Self-Test?";
        QTest::newRow("beeper") << int(kControlToggleBeeper) << "UPS嗶聲關/開"
                                << "Toggle Beep?";
        QTest::newRow("shut down") << int(kControlShutDown) << "關閉Windows"
                                   << "Shutdown Windows and UPS?";
    }
    void eachPictureAsksItsQuestion() {
        QFETCH(int, command);
        QFETCH(QString, label);
        QFETCH(QString, question);
        CDlgControl dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("對UPS直接控制"));
        QToolButton* icon = dialog.iconButton(command);
        QVERIFY(icon);
        bool labelled = false;
        for (const QLabel* l : dialog.findChildren<QLabel*>())
            labelled = labelled || (l->text() == label && l->buddy() == icon);
        QVERIFY(labelled);

        Spies spies(dialog);
        QStringList asked;
        bool pressedWhileAsking = false;
        bool answer = false;
        dialog.ask = [&](const QString& q) {
            asked << q;
            pressedWhileAsking = Shown(icon) == Picture(command, true);
            return answer;
        };
        QCOMPARE(Shown(icon), Picture(command, false));

        icon->click();
        QCOMPARE(asked, QStringList{question});
        QVERIFY(pressedWhileAsking);
        QCOMPARE(Shown(icon), Picture(command, false));
        QCOMPARE(spies.Total(), 0);

        answer = true;
        icon->click();
        QCOMPARE(asked.size(), 2);
        QCOMPARE(Shown(icon), Picture(command, false));
        QCOMPARE(spies.Total(), 1);
        QCOMPARE(spies.all[command]->count(), 1);
    }

    void minutesTestSendsTheEditsValue() {
        CDlgControl dialog;
        MinutesSpin* spin = dialog.minutesSpin();
        QCOMPARE(spin->value(), 2);
        QCOMPARE(spin->minimum(), 1);
        QCOMPARE(spin->maximum(), 99);
        dialog.ask = [](const QString&) { return true; };
        QSignalSpy minutes(&dialog, &CDlgControl::testMinutes);
        dialog.iconButton(kControlTestMinutes)->click();
        spin->setValue(45);
        dialog.iconButton(kControlTestMinutes)->click();
        // Typed and not yet confirmed: still what the user means.
        spin->findChild<QLineEdit*>()->setText(QStringLiteral("17"));
        dialog.iconButton(kControlTestMinutes)->click();
        QCOMPARE(minutes.count(), 3);
        QCOMPARE(minutes.at(0).at(0).toInt(), 2);
        QCOMPARE(minutes.at(1).at(0).toInt(), 45);
        QCOMPARE(minutes.at(2).at(0).toInt(), 17);
    }

    void picturesAreDistinct() {
        QList<QImage> seen;
        for (int c = 0; c < kControlCommandCount; ++c) {
            for (bool pressed : {false, true}) {
                const QImage image = Picture(c, pressed);
                QCOMPARE(image.size(), QSize(kControlIconSize, kControlIconSize));
                QVERIFY2(!seen.contains(image), qPrintable(QString::number(c)));
                seen << image;
            }
        }
        // Sharp on dense screens: drawn at the ratio's size, not scaled up.
        QCOMPARE(ControlPicture(0, false, 2.0).size(), QSize(64, 64));
    }

    void okCloses() {
        CDlgControl dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QPushButton* ok = nullptr;
        for (auto* b : dialog.findChildren<QPushButton*>())
            if (b->text() == QStringLiteral("確定")) ok = b;
        QVERIFY(ok);
        SaveArtifact(dialog, QStringLiteral("control_dialog"));
        ok->click();
        QVERIFY(!dialog.isVisible());
        dialog.adjustSize();
        QVERIFY(dialog.width() <= 1024 && dialog.height() <= 700);
    }
};

}  // namespace

int RunControlDialogTests(int argc, char** argv) {
    ControlDialogTest t;
    return QTest::qExec(&t, argc, argv);
}

}  // namespace kelvora::panel::test

#include "control_dialog_test.moc"
