// The meter page: what its dials and bars show for a status reading.
#include <QSignalSpy>
#include <QtTest>

#include "gui/views/meter_page.h"
#include "suites.h"

namespace kelvora::gui::test {

namespace {

void ExpectScale(const GaugeWidget& g, Span range, double majorStep, Span low, Span middle,
                 Span high) {
    QCOMPARE(g.Range(), range);
    QCOMPARE(g.MajorTicks(), (TickSet{range.from, range.to, majorStep}));
    QCOMPARE(g.LowZone(), low);
    QCOMPARE(g.MiddleZone(), middle);
    QCOMPARE(g.HighZone(), high);
}

class MeterPageTest : public QObject {
    Q_OBJECT

  private slots:
    void startsAtZero() {
        MeterPage page;
        for (const GaugeWidget* g : {&page.InputGauge(), &page.OutputGauge()}) {
            QCOMPARE(g->Value(), 0.0);
            QCOMPARE(g->Caption(), QStringLiteral("0.0 Vac"));
            ExpectScale(*g, {0, 60}, 10, {0, 60}, {0, 0}, {0, 0});
        }
        QCOMPARE(page.FrequencyGauge().Caption(), QStringLiteral("0.0 Hz"));
        QCOMPARE(page.TemperatureGauge().Caption(), QStringLiteral("0.0 C    32.0 F"));
        QCOMPARE(page.CapacityBar().Caption(), QStringLiteral("0 %"));
        QCOMPARE(page.LoadBar().Caption(), QStringLiteral("0 %"));
    }

    void fixedScales() {
        MeterPage page;
        QCOMPARE(page.FrequencyGauge().Range(), (Span{0, 70}));
        QCOMPARE(page.TemperatureGauge().Range(), (Span{0, 100}));
        QCOMPARE(page.TemperatureGauge().SecondScale(), std::optional<Span>(Span{32, 212}));
        QVERIFY(!page.InputGauge().SecondScale().has_value());
    }

    void captionsAndNeedles() {
        MeterPage page;
        page.Update(2300, 2295, 500, 85, 123, 253);
        QCOMPARE(page.InputGauge().Caption(), QStringLiteral("230.0 Vac"));
        QCOMPARE(page.InputGauge().Value(), 230.0);
        QCOMPARE(page.OutputGauge().Caption(), QStringLiteral("229.5 Vac"));
        QCOMPARE(page.OutputGauge().Value(), 229.5);
        QCOMPARE(page.FrequencyGauge().Caption(), QStringLiteral("50.0 Hz"));
        QCOMPARE(page.FrequencyGauge().Value(), 50.0);
        // The needle reads Celsius; the caption gives both, four spaces apart.
        QCOMPARE(page.TemperatureGauge().Value(), 25.3);
        QCOMPARE(page.TemperatureGauge().Caption(), QStringLiteral("25.3 C    77.5 F"));
        QCOMPARE(page.CapacityBar().Value(), 85.0);
        QCOMPARE(page.CapacityBar().Caption(), QStringLiteral("85 %"));
        QCOMPARE(page.LoadBar().Value(), 12.3);
        QCOMPARE(page.LoadBar().Caption(), QStringLiteral("12 %"));
    }

    void fahrenheitBelowFreezing() {
        MeterPage page;
        page.Update(0, 0, 0, 0, 0, -400);
        QCOMPARE(page.TemperatureGauge().Caption(), QStringLiteral("-40.0 C    -40.0 F"));
        page.Update(0, 0, 0, 0, 0, 1000);
        QCOMPARE(page.TemperatureGauge().Caption(), QStringLiteral("100.0 C    212.0 F"));
    }

    void voltageScaleFollowsEachSide() {
        MeterPage page;
        page.Update(1150, 2300, 600, 100, 0, 300);
        ExpectScale(page.InputGauge(), {60, 160}, 20, {60, 80}, {80, 140}, {140, 160});
        ExpectScale(page.OutputGauge(), {160, 260}, 20, {160, 180}, {180, 240}, {240, 260});
        // The 110 V band moves the minor ticks but keeps their spacing; 220 V sets it.
        QCOMPARE(page.InputGauge().MinorTicks(), (TickSet{60, 160, 5}));
        QCOMPARE(page.OutputGauge().MinorTicks(), (TickSet{160, 260, 10}));
        page.Update(3800, 500, 600, 100, 0, 300);
        ExpectScale(page.InputGauge(), {260, 460}, 40, {260, 300}, {300, 420}, {420, 460});
        ExpectScale(page.OutputGauge(), {0, 60}, 10, {0, 60}, {0, 0}, {0, 0});
        // Dropping below 60 V leaves the minor ticks where the last band put them.
        QCOMPARE(page.OutputGauge().MinorTicks(), (TickSet{160, 260, 10}));
    }

    void minorSpacingCarriesIntoLowerBand() {
        MeterPage page;
        page.Update(2300, 0, 0, 0, 0, 0);
        page.Update(1100, 0, 0, 0, 0, 0);
        QCOMPARE(page.InputGauge().MinorTicks(), (TickSet{60, 160, 10}));
    }

    void wildReadingsKeepScale() {
        MeterPage page;
        page.Update(2300, 2300, 500, 100, 0, 250);
        const TickSet minor = page.InputGauge().MinorTicks();
        for (int reading : {4600, 10000}) {
            page.Update(reading, reading, 500, 100, 0, 250);
            ExpectScale(page.InputGauge(), {160, 260}, 20, {160, 180}, {180, 240}, {240, 260});
            ExpectScale(page.OutputGauge(), {160, 260}, 20, {160, 180}, {180, 240}, {240, 260});
            QCOMPARE(page.InputGauge().MinorTicks(), minor);
            QCOMPARE(page.InputGauge().Value(), reading / 10.0);
        }
        QCOMPARE(page.InputGauge().Caption(), QStringLiteral("1000.0 Vac"));
    }

    void temperatureClick() {
        MeterPage page;
        page.resize(700, 430);
        QSignalSpy spy(&page, &MeterPage::temperatureClicked);
        auto* input = const_cast<GaugeWidget*>(&page.InputGauge());
        auto* temperature = const_cast<GaugeWidget*>(&page.TemperatureGauge());
        QTest::mouseClick(input, Qt::LeftButton);
        QCOMPARE(spy.count(), 0);
        QTest::mouseClick(temperature, Qt::LeftButton);
        QCOMPARE(spy.count(), 1);
    }
};

}  // namespace

int RunMeterPageTests(int argc, char** argv) {
    MeterPageTest t;
    return QTest::qExec(&t, argc, argv);
}

}  // namespace kelvora::gui::test

#include "meter_page_test.moc"
