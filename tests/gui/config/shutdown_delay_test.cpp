// The UPS shutdown delay's list and conversions, the baud rule and the serial-port rule.
#include <QtTest>

#include "gui/config/shutdown_delay.h"
#include "suites.h"

namespace kelvora::panel::test {

namespace {

class ShutdownDelayTest : public QObject {
    Q_OBJECT

  private slots:
    void theListRunsFromFifthsToNinetyNineMinutes() {
        const QStringList list = ShutdownDelayList();
        QCOMPARE(list.size(), kDelayEntries);
        QCOMPARE(list.first(), QStringLiteral(".2"));
        QCOMPARE(list.at(7), QStringLiteral(".9"));
        QCOMPARE(list.at(8), QStringLiteral("1"));
        QCOMPARE(list.last(), QStringLiteral("99"));
    }

    void storedSecondsShowTheirEntry_data() {
        QTest::addColumn<int>("seconds");
        QTest::addColumn<QString>("shown");
        QTest::newRow("12") << 12 << ".2";
        QTest::newRow("0") << 0 << ".2";
        QTest::newRow("negative") << -40 << ".2";
        QTest::newRow("13") << 13 << ".3";
        QTest::newRow("30") << 30 << ".5";
        QTest::newRow("33 between steps") << 33 << ".5";
        QTest::newRow("35") << 35 << ".5";
        QTest::newRow("36") << 36 << ".6";
        QTest::newRow("54") << 54 << ".9";
        QTest::newRow("57 past the short ones") << 57 << ".2";
        QTest::newRow("60") << 60 << "1";
        QTest::newRow("119 rounds down") << 119 << "1";
        QTest::newRow("120") << 120 << "2";
        QTest::newRow("5940") << 5940 << "99";
        QTest::newRow("past the list") << 100000 << "99";
        QTest::newRow("largest") << INT_MAX << "99";
    }
    void storedSecondsShowTheirEntry() {
        QFETCH(int, seconds);
        QFETCH(QString, shown);
        const int index = DelaySecondsToIndex(seconds);
        QVERIFY(index >= 0 && index < kDelayEntries);
        QCOMPARE(ShutdownDelayList().at(index), shown);
    }

    void entriesStoreTheirSeconds() {
        const QStringList list = ShutdownDelayList();
        QCOMPARE(DelayIndexToSeconds(int(list.indexOf(".2"))), 12);
        QCOMPARE(DelayIndexToSeconds(int(list.indexOf(".5"))), 30);
        QCOMPARE(DelayIndexToSeconds(int(list.indexOf(".9"))), 54);
        QCOMPARE(DelayIndexToSeconds(int(list.indexOf("1"))), 60);
        QCOMPARE(DelayIndexToSeconds(int(list.indexOf("2"))), 120);
        QCOMPARE(DelayIndexToSeconds(int(list.indexOf("99"))), 5940);
        QCOMPARE(DelayIndexToSeconds(-1), 0);  // no selection
        QCOMPARE(DelayIndexToSeconds(INT_MIN), 0);
        QCOMPARE(DelayIndexToSeconds(kDelayEntries), 5940);
        QCOMPARE(DelayIndexToSeconds(INT_MAX), 5940);
    }

    void everyEntryComesBackAsItself() {
        for (int i = 0; i < kDelayEntries; ++i) {
            const int seconds = DelayIndexToSeconds(i);
            QVERIFY2(seconds >= 12 && seconds <= 5940, qPrintable(QString::number(i)));
            QCOMPARE(DelaySecondsToIndex(seconds), i);
        }
    }

    void theSerialTypesSetTheirSpeed() {
        ups::CConfig c;
        const std::pair<int, int> cases[] = {
            {ups::CConfig::kStavlen, 2400}, {ups::CConfig::kDemo, 1200},
            {ups::CConfig::kStavUsb, 1200}, {ups::CConfig::kSec24, 2400},
            {ups::CConfig::kSec96, 9600},   {7, 1200}};
        for (const auto& [type, baud] : cases) {
            c.upsType = type;
            c.baudRate = 1200;
            ApplyBaudRule(c);
            QCOMPARE(c.baudRate, baud);
        }
    }

    void onlyTheSerialTypesUseThePort() {
        QVERIFY(SerialPortEnabled(ups::CConfig::kStavlen));
        QVERIFY(!SerialPortEnabled(ups::CConfig::kDemo));
        QVERIFY(!SerialPortEnabled(ups::CConfig::kStavUsb));
        QVERIFY(SerialPortEnabled(ups::CConfig::kSec24));
        QVERIFY(SerialPortEnabled(ups::CConfig::kSec96));
        QVERIFY(!SerialPortEnabled(-1));
        QVERIFY(!SerialPortEnabled(5));
    }
};

}  // namespace

int RunShutdownDelayTests(int argc, char** argv) {
    ShutdownDelayTest t;
    return QTest::qExec(&t, argc, argv);
}

}  // namespace kelvora::panel::test

#include "shutdown_delay_test.moc"
