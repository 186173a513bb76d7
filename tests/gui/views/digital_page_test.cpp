// The digital page: its formats and when its extremes start and move.
#include <QtTest>

#include "gui/views/digital_page.h"
#include "suites.h"

namespace kelvora::gui::test {

namespace {

using Q = DigitalPage::Quantity;
using R = DigitalPage::Row;

class DigitalPageTest : public QObject {
    Q_OBJECT

  private slots:
    void init() { DigitalPage::ResetFirstSampleForTests(); }

    void startsAtZero() {
        DigitalPage page;
        for (R row : {R::Current, R::Minimum, R::Maximum}) {
            QCOMPARE(page.Text(Q::InputVoltage, row), QStringLiteral(" 0.0 v"));
            QCOMPARE(page.Text(Q::OutputVoltage, row), QStringLiteral(" 0.0 v"));
            QCOMPARE(page.Text(Q::Frequency, row), QStringLiteral(" 0.0 Hz"));
            QCOMPARE(page.Text(Q::Capacity, row), QStringLiteral("0 %"));
            QCOMPARE(page.Text(Q::Load, row), QStringLiteral(" 0.0 %"));
            QCOMPARE(page.Text(Q::Temperature, row), QStringLiteral(" 0.0 C   0.0 F"));
        }
    }

    void currentFormats() {
        DigitalPage page;
        page.Update(2300, 2295, 600, 85, 123, 253);
        QCOMPARE(page.Text(Q::InputVoltage, R::Current), QStringLiteral("230.0 v"));
        QCOMPARE(page.Text(Q::OutputVoltage, R::Current), QStringLiteral("229.5 v"));
        QCOMPARE(page.Text(Q::Frequency, R::Current), QStringLiteral("60.0 Hz"));
        QCOMPARE(page.Text(Q::Capacity, R::Current), QStringLiteral("85 %"));
        QCOMPARE(page.Text(Q::Load, R::Current), QStringLiteral("12.3 %"));
        QCOMPARE(page.Text(Q::Temperature, R::Current), QStringLiteral("25.3 C  77.5 F"));
    }

    void extremesWaitForAVoltage() {
        DigitalPage page;
        // A UPS that reports no voltage yet: the readings show, the extremes stay at zero.
        page.Update(0, 0, 500, 90, 100, 250);
        QCOMPARE(page.Text(Q::Frequency, R::Current), QStringLiteral("50.0 Hz"));
        QCOMPARE(page.Text(Q::Frequency, R::Minimum), QStringLiteral(" 0.0 Hz"));
        QCOMPARE(page.Text(Q::Frequency, R::Maximum), QStringLiteral(" 0.0 Hz"));
        QCOMPARE(page.Text(Q::Capacity, R::Maximum), QStringLiteral("0 %"));
        // Output voltage alone is enough to start them, all from this reading.
        page.Update(0, 2200, 500, 90, 100, 250);
        for (R row : {R::Minimum, R::Maximum}) {
            QCOMPARE(page.Text(Q::InputVoltage, row), QStringLiteral(" 0.0 v"));
            QCOMPARE(page.Text(Q::OutputVoltage, row), QStringLiteral("220.0 v"));
            QCOMPARE(page.Text(Q::Frequency, row), QStringLiteral("50.0 Hz"));
            QCOMPARE(page.Text(Q::Capacity, row), QStringLiteral("90 %"));
            QCOMPARE(page.Text(Q::Load, row), QStringLiteral("10.0 %"));
            QCOMPARE(page.Text(Q::Temperature, row), QStringLiteral("25.0 C  77.0 F"));
        }
    }

    void extremesTrackEveryQuantity() {
        DigitalPage page;
        page.Update(2300, 2200, 500, 90, 120, 250);
        page.Update(2100, 2250, 498, 85, 300, 310);
        page.Update(2400, 2100, 502, 95, 50, 200);
        QCOMPARE(page.Text(Q::InputVoltage, R::Minimum), QStringLiteral("210.0 v"));
        QCOMPARE(page.Text(Q::InputVoltage, R::Maximum), QStringLiteral("240.0 v"));
        QCOMPARE(page.Text(Q::OutputVoltage, R::Minimum), QStringLiteral("210.0 v"));
        QCOMPARE(page.Text(Q::OutputVoltage, R::Maximum), QStringLiteral("225.0 v"));
        QCOMPARE(page.Text(Q::Frequency, R::Minimum), QStringLiteral("49.8 Hz"));
        QCOMPARE(page.Text(Q::Frequency, R::Maximum), QStringLiteral("50.2 Hz"));
        QCOMPARE(page.Text(Q::Capacity, R::Minimum), QStringLiteral("85 %"));
        QCOMPARE(page.Text(Q::Capacity, R::Maximum), QStringLiteral("95 %"));
        QCOMPARE(page.Text(Q::Load, R::Minimum), QStringLiteral(" 5.0 %"));
        QCOMPARE(page.Text(Q::Load, R::Maximum), QStringLiteral("30.0 %"));
        QCOMPARE(page.Text(Q::Temperature, R::Minimum), QStringLiteral("20.0 C  68.0 F"));
        QCOMPARE(page.Text(Q::Temperature, R::Maximum), QStringLiteral("31.0 C  87.8 F"));
        QCOMPARE(page.Text(Q::InputVoltage, R::Current), QStringLiteral("240.0 v"));
    }

    void laterZeroReadingsCount() {
        // Once started, every reading is an extreme candidate, even one without voltage.
        DigitalPage page;
        page.Update(2300, 2300, 500, 90, 120, 250);
        page.Update(0, 0, 0, 0, 0, 0);
        QCOMPARE(page.Text(Q::InputVoltage, R::Minimum), QStringLiteral(" 0.0 v"));
        QCOMPARE(page.Text(Q::InputVoltage, R::Maximum), QStringLiteral("230.0 v"));
        QCOMPARE(page.Text(Q::Temperature, R::Minimum), QStringLiteral(" 0.0 C  32.0 F"));
    }

    void firstSampleIsProgramWide() {
        DigitalPage first;
        first.Update(2300, 2300, 500, 90, 120, 250);
        // A page made afterwards does not start over: its zeros are already extremes.
        DigitalPage second;
        second.Update(2300, 2300, 500, 90, 120, 250);
        QCOMPARE(second.Text(Q::InputVoltage, R::Minimum), QStringLiteral(" 0.0 v"));
        QCOMPARE(second.Text(Q::InputVoltage, R::Maximum), QStringLiteral("230.0 v"));
        QCOMPARE(second.Text(Q::Temperature, R::Maximum), QStringLiteral("25.0 C  77.0 F"));
    }
};

}  // namespace

int RunDigitalPageTests(int argc, char** argv) {
    DigitalPageTest t;
    return QTest::qExec(&t, argc, argv);
}

}  // namespace kelvora::gui::test

#include "digital_page_test.moc"
