// The month calendar: the month shown, the cells of its days, the icons and the day details.
#include <QMouseEvent>
#include <QPushButton>
#include <QtTest>

#include "gui/logs/calendar_dialog.h"
#include "gui/logs/log_icons.h"
#include "suites.h"
#include "ups_lib/event_texts.h"

namespace kelvora::panel::test {

namespace {

// Seconds of a UTC date and time (the tests run in UTC).
std::int64_t At(int y, int m, int d, int hh = 12, int mm = 0, int ss = 0) {
    return QDateTime(QDate(y, m, d), QTime(hh, mm, ss), Qt::UTC).toSecsSinceEpoch();
}

std::function<std::int64_t()> Clock(std::int64_t t) {
    return [t] { return t; };
}

ups::CEventLogRecord Ev(std::uint32_t id, std::int64_t t) {
    return {id, ups::CEventLogRecord::kWarning, static_cast<std::uint32_t>(t)};
}

class CalendarTest : public QObject {
    Q_OBJECT

  private slots:
    void firstFillShowsTheCurrentMonth() {
        CDlgEv2 cal(Clock(At(2026, 7, 15)));
        QCOMPARE(cal.windowTitle(), QStringLiteral("每月事件記錄"));
        // Opening steps forward, so the first log steps back onto the current month.
        QCOMPARE(cal.monthTitle(), QStringLiteral("August 2026"));
        cal.Fill({});
        QCOMPARE(cal.monthTitle(), QStringLiteral("July 2026"));
        // Asking for the log again while open steps back once more.
        cal.Fill({});
        QCOMPARE(cal.monthTitle(), QStringLiteral("June 2026"));
    }

    void saturdayStartWith31Days() {
        CDlgEv2 cal(Clock(At(2026, 7, 15)));  // shows August 2026, which starts on a Saturday
        QCOMPARE(cal.firstCell(), 6);
        QCOMPARE(cal.endCell(), 37);
        QCOMPARE(cal.cellDay(5), 0);
        QCOMPARE(cal.cellDay(6), 1);
        QCOMPARE(cal.cellDay(36), 31);
        QCOMPARE(cal.cellDay(37), 0);
    }

    void monthLengths() {
        CDlgEv2 leap(Clock(At(2028, 1, 10)));  // February 2028: a leap year, starts Tuesday
        QCOMPARE(leap.monthTitle(), QStringLiteral("February 2028"));
        QCOMPARE(leap.firstCell(), 2);
        QCOMPARE(leap.endCell() - leap.firstCell(), 29);
        CDlgEv2 plain(Clock(At(2100, 1, 10)));  // 2100 is not a leap year
        QCOMPARE(plain.endCell() - plain.firstCell(), 28);
        plain.Next();  // March 2100, a Monday
        QCOMPARE(plain.firstCell(), 1);
        QCOMPARE(plain.endCell(), 32);
    }

    void yearWraps() {
        CDlgEv2 cal(Clock(At(2026, 12, 10)));
        QCOMPARE(cal.monthTitle(), QStringLiteral("January 2027"));
        cal.Prev();
        QCOMPARE(cal.monthTitle(), QStringLiteral("December 2026"));
        for (int i = 0; i < 11; ++i) cal.Prev();
        QCOMPARE(cal.monthTitle(), QStringLiteral("January 2026"));
        auto* prev = cal.findChild<QPushButton*>(QStringLiteral("prev"));
        QVERIFY(prev != nullptr);
        prev->click();
        QCOMPARE(cal.monthTitle(), QStringLiteral("December 2025"));
        QCOMPARE(cal.year(), 2025);
        QCOMPARE(cal.month(), 12);
    }

    void iconsAndDetails() {
        CDlgEv2 cal(Clock(At(2026, 8, 20)));
        // Shutdown logged before the failure although it happened earlier in the day: the
        // details follow the log's order.
        cal.Fill({Ev(ups::kEvAcFailure, At(2026, 8, 1, 13, 5, 9)),
                  Ev(ups::kEvSystemShutdown, At(2026, 8, 1, 9, 0, 0)),
                  Ev(ups::kEvServiceStarted, At(2026, 8, 1, 10, 0, 0)),
                  Ev(ups::kEvAcRestored, At(2026, 8, 15, 8, 0, 0)),
                  Ev(ups::kEvBatteryRecovered, At(2026, 8, 15, 8, 30, 0)),
                  Ev(ups::kEvSelfTest, At(2026, 8, 20, 23, 59, 59)),
                  Ev(ups::kEvBatteryLow, At(2026, 9, 20, 1, 0, 0))});
        QCOMPARE(cal.monthTitle(), QStringLiteral("August 2026"));
        QVERIFY(cal.cellHasIcon(6, kCalAcFail));
        QVERIFY(cal.cellHasIcon(6, kCalShutdown));
        QVERIFY(!cal.cellHasIcon(6, kCalBatteryLow));
        QVERIFY(!cal.cellHasIcon(6, kCalSelfTest));
        for (int k = 0; k < kCalKindCount; ++k) QVERIFY(!cal.cellHasIcon(6 + 14, k));
        QVERIFY(cal.cellHasIcon(6 + 19, kCalSelfTest));
        // September's low battery is not August the 20th's.
        QVERIFY(!cal.cellHasIcon(6 + 19, kCalBatteryLow));

        cal.ClickDay(1);
        QCOMPARE(cal.dayDate(), QStringLiteral("August 01 2026"));
        QCOMPARE(cal.dayDetails(), (QStringList{QStringLiteral("01:05:09 PM  AC Fail"),
                                                QStringLiteral("09:00:00 AM  SHUTDOWN")}));
        cal.ClickDay(15);
        QCOMPARE(cal.dayDate(), QStringLiteral("August 15 2026"));
        QVERIFY(cal.dayDetails().isEmpty());
        // A day the month lacks changes nothing.
        cal.ClickDay(32);
        cal.ClickDay(0);
        QCOMPARE(cal.dayDate(), QStringLiteral("August 15 2026"));

        cal.Next();
        QVERIFY(cal.cellHasIcon(cal.firstCell() + 19, kCalBatteryLow));
        QVERIFY(!cal.cellHasIcon(cal.firstCell() + 19, kCalSelfTest));
        QVERIFY(!cal.cellHasIcon(-1, 0));
        QVERIFY(!cal.cellHasIcon(42, 0));
        QVERIFY(!cal.cellHasIcon(10, 4));
    }

    void pointerAndClickOnTheGrid() {
        CDlgEv2 cal(Clock(At(2026, 8, 20)));
        cal.Fill({Ev(ups::kEvSelfTest, At(2026, 8, 20, 6, 30, 0))});
        cal.resize(800, 640);
        cal.show();
        QVERIFY(QTest::qWaitForWindowExposed(&cal));
        auto* grid = cal.findChild<QWidget*>(QStringLiteral("calendarGrid"));
        QVERIFY(grid != nullptr);
        const int w = grid->width() / CDlgEv2::kColumns;
        const int h = grid->height() / CDlgEv2::kRows;
        auto centre = [&](int cell) {
            return QPoint((cell % 7) * w + w / 2, (cell / 7) * h + h / 2);
        };
        auto move = [&](QPoint p) {
            QMouseEvent e(QEvent::MouseMove, p, grid->mapToGlobal(p), Qt::NoButton, Qt::NoButton,
                          Qt::NoModifier);
            QCoreApplication::sendEvent(grid, &e);
        };
        move(centre(25));
        QCOMPARE(grid->cursor().shape(), Qt::PointingHandCursor);
        move(centre(0));  // before August the 1st
        QCOMPARE(grid->cursor().shape(), Qt::ArrowCursor);
        move(centre(40));  // after the 31st
        QCOMPARE(grid->cursor().shape(), Qt::ArrowCursor);

        QTest::mouseClick(grid, Qt::LeftButton, {}, centre(0));
        QVERIFY(cal.dayDate().isEmpty());
        QTest::mouseClick(grid, Qt::LeftButton, {}, centre(25));
        QCOMPARE(cal.dayDate(), QStringLiteral("August 20 2026"));
        QCOMPARE(cal.dayDetails(), QStringList{QStringLiteral("06:30:00 AM  SELF-TEST")});
        SaveArtifact(&cal, QStringLiteral("calendar"));
    }
};

}  // namespace

int RunCalendarTests(int argc, char** argv) {
    CalendarTest t;
    return QTest::qExec(&t, argc, argv);
}

}  // namespace kelvora::panel::test

#include "calendar_test.moc"
