// The voltage dial's bands and the chart's axis steps.
#include <QtTest>

#include "gui/views/view_rules.h"
#include "suites.h"

namespace kelvora::gui::test {

namespace {

class ViewRulesTest : public QObject {
    Q_OBJECT

  private slots:
    void voltageBands_data() {
        QTest::addColumn<double>("volts");
        QTest::addColumn<double>("from");
        QTest::addColumn<double>("to");
        QTest::addColumn<double>("majorStep");
        QTest::addColumn<bool>("setsMinorSpan");
        QTest::addColumn<double>("minorStep");  // 0: the gauge keeps its own
        QTest::addColumn<double>("lowTo");
        QTest::addColumn<double>("highFrom");

        QTest::newRow("nothing") << 0.0 << 0.0 << 60.0 << 10.0 << false << 0.0 << 60.0 << 0.0;
        QTest::newRow("just below 60")
            << 59.9 << 0.0 << 60.0 << 10.0 << false << 0.0 << 60.0 << 0.0;
        QTest::newRow("60 is 110 V band")
            << 60.0 << 60.0 << 160.0 << 20.0 << true << 0.0 << 80.0 << 140.0;
        QTest::newRow("just below 160")
            << 159.9 << 60.0 << 160.0 << 20.0 << true << 0.0 << 80.0 << 140.0;
        QTest::newRow("160 is 220 V band")
            << 160.0 << 160.0 << 260.0 << 20.0 << true << 10.0 << 180.0 << 240.0;
        QTest::newRow("230") << 230.0 << 160.0 << 260.0 << 20.0 << true << 10.0 << 180.0 << 240.0;
        QTest::newRow("260 is 380 V band")
            << 260.0 << 260.0 << 460.0 << 40.0 << true << 10.0 << 300.0 << 420.0;
        QTest::newRow("just below 460")
            << 459.9 << 260.0 << 460.0 << 40.0 << true << 10.0 << 300.0 << 420.0;
    }

    void voltageBands() {
        QFETCH(double, volts);
        QFETCH(double, from);
        QFETCH(double, to);
        QFETCH(double, majorStep);
        QFETCH(bool, setsMinorSpan);
        QFETCH(double, minorStep);
        QFETCH(double, lowTo);
        QFETCH(double, highFrom);

        const std::optional<VoltageScale> s = SelectVoltageScale(volts);
        QVERIFY(s.has_value());
        QCOMPARE(s->range, (Span{from, to}));
        QCOMPARE(s->major, (TickSet{from, to, majorStep}));
        QCOMPARE(s->minorSpan.has_value(), setsMinorSpan);
        if (setsMinorSpan) QCOMPARE(*s->minorSpan, (Span{from, to}));
        QCOMPARE(s->minorInterval.value_or(0), minorStep);
        QCOMPARE(s->low, (Span{from, lowTo}));
        if (from == 0) {
            // The lowest band has no green and no upper warning.
            QCOMPARE(s->middle, (Span{0, 0}));
            QCOMPARE(s->high, (Span{0, 0}));
        } else {
            QCOMPARE(s->middle, (Span{lowTo, highFrom}));
            QCOMPARE(s->high, (Span{highFrom, to}));
        }
    }

    void voltageAboveBandsLeavesScale() {
        QVERIFY(!SelectVoltageScale(460).has_value());
        QVERIFY(!SelectVoltageScale(1000).has_value());
        QVERIFY(!SelectVoltageScale(6553.5).has_value());
    }

    void axisMax_data() {
        QTest::addColumn<int>("current");
        QTest::addColumn<int>("volts");
        QTest::addColumn<int>("expected");

        QTest::newRow("110 V from nothing") << 0 << 100 << 120;
        QTest::newRow("230 V from nothing") << 0 << 230 << 250;
        QTest::newRow("300 V from nothing") << 0 << 300 << 400;
        QTest::newRow("exactly 120 keeps 0") << 0 << 120 << 0;
        QTest::newRow("just over 120") << 0 << 121 << 250;
        QTest::newRow("exactly 250") << 0 << 250 << 250;
        QTest::newRow("just over 250") << 0 << 251 << 400;
        QTest::newRow("zero volts") << 0 << 0 << 0;
        QTest::newRow("fits under 250") << 250 << 230 << 250;
        QTest::newRow("never shrinks") << 400 << 100 << 400;
        QTest::newRow("120 grows to 250") << 120 << 230 << 250;
        QTest::newRow("250 grows to 400") << 250 << 380 << 400;
        QTest::newRow("beyond 400 stays 400") << 400 << 500 << 400;
    }

    void axisMax() {
        QFETCH(int, current);
        QFETCH(int, volts);
        QFETCH(int, expected);
        QCOMPARE(NextAxisMax(current, volts), expected);
    }
};

}  // namespace

int RunViewRulesTests(int argc, char** argv) {
    ViewRulesTest t;
    return QTest::qExec(&t, argc, argv);
}

}  // namespace kelvora::gui::test

#include "view_rules_test.moc"
