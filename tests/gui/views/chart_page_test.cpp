// The chart page: its points, the program-wide sample count and the axis tops.
#include <QRegularExpression>
#include <QtTest>

#include "gui/views/chart_page.h"
#include "suites.h"

namespace kelvora::gui::test {

namespace {

class ChartPageTest : public QObject {
    Q_OBJECT

  private slots:
    void appendsWholeVolts() {
        ChartPage page;
        const int start = ChartPage::SampleCounter();
        QCOMPARE(page.InputPointCount(), 0);
        page.Update(2304, 2299);
        page.Update(2310, 2281);
        QCOMPARE(page.InputPointCount(), 2);
        QCOMPARE(page.OutputPointCount(), 2);
        QCOMPARE(ChartPage::SampleCounter(), start + 2);
        // Tenths are dropped, not rounded.
        QCOMPARE(page.InputPoints().at(0), QPointF(start, 230));
        QCOMPARE(page.OutputPoints().at(0), QPointF(start, 229));
        QCOMPARE(page.InputPoints().at(1), QPointF(start + 1, 231));
        QCOMPARE(page.OutputPoints().at(1), QPointF(start + 1, 228));
        QVERIFY(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d$"))
                    .match(page.TimeText())
                    .hasMatch());
    }

    void counterIsProgramWide() {
        const int start = ChartPage::SampleCounter();
        {
            ChartPage a;
            a.Update(2300, 2300);
        }
        ChartPage b;
        b.Update(2300, 2300);
        QCOMPARE(b.InputPoints().at(0).x(), double(start + 1));
    }

    void axisTopPerTrace() {
        ChartPage page;
        QCOMPARE(page.InputAxisMax(), 0);
        page.Update(1000, 2300);
        QCOMPARE(page.InputAxisMax(), 120);
        QCOMPARE(page.OutputAxisMax(), 250);
        page.Update(3000, 1000);
        QCOMPARE(page.InputAxisMax(), 400);
        QCOMPARE(page.OutputAxisMax(), 250);
        page.Update(1200, 0);
        QCOMPARE(page.InputAxisMax(), 400);
        QCOMPARE(page.OutputAxisMax(), 250);
    }

    void exactly120LeavesAxisUnset() {
        ChartPage page;
        page.Update(1200, 1209);
        QCOMPARE(page.InputAxisMax(), 0);
        QCOMPARE(page.OutputAxisMax(), 0);
    }

    void scrollsAndDropsOldPoints() {
        ChartPage page;
        const int start = ChartPage::SampleCounter();
        const int n = ChartPage::kVisiblePoints + 25;
        for (int i = 0; i < n; ++i) page.Update(2300, 2300);
        QCOMPARE(page.InputPointCount(), ChartPage::kVisiblePoints);
        QCOMPARE(page.OutputPointCount(), ChartPage::kVisiblePoints);
        const int last = start + n - 1;
        QCOMPARE(page.InputPoints().last().x(), double(last));
        QCOMPARE(page.InputPoints().first().x(), double(last - ChartPage::kVisiblePoints + 1));
        QCOMPARE(page.VisibleSamples(),
                 (Span{double(last - ChartPage::kVisiblePoints + 1), double(last)}));
    }
};

}  // namespace

int RunChartPageTests(int argc, char** argv) {
    ChartPageTest t;
    return QTest::qExec(&t, argc, argv);
}

}  // namespace kelvora::gui::test

#include "chart_page_test.moc"
