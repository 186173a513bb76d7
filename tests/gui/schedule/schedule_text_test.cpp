// The reading of the time and date fields, the entries they build and the list's lines.
#include <QtTest>
#include <string>

#include "gui/schedule/schedule_text.h"
#include "suites.h"

namespace kelvora::panel {

inline char* toString(const TimeOfDay& t) {
    return qstrdup(QByteArray::number(t.hour) + ":" + QByteArray::number(t.minute));
}

}  // namespace kelvora::panel

Q_DECLARE_METATYPE(kelvora::panel::TimeOfDay)

namespace kelvora::panel::test {

namespace {

class ScheduleTextTest : public QObject {
    Q_OBJECT

  private slots:
    void timeEdit_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<TimeOfDay>("expected");
        QTest::newRow("noon") << "12:30 PM" << TimeOfDay{12, 30};
        QTest::newRow("midnight") << "12:30 AM" << TimeOfDay{0, 30};
        QTest::newRow("24-hour") << "14:30" << TimeOfDay{14, 30};
        QTest::newRow("no suffix after 12") << "14:30 PM" << TimeOfDay{14, 30};
        QTest::newRow("hour 25") << "25:00" << TimeOfDay{0, 0};
        QTest::newRow("minute 60") << "10:60" << TimeOfDay{0, 0};
        QTest::newRow("small pm") << "7:05pm" << TimeOfDay{19, 5};
        QTest::newRow("spaced pm") << "7:05   PM  " << TimeOfDay{19, 5};
        QTest::newRow("small am") << "7:05 am" << TimeOfDay{7, 5};
        QTest::newRow("other separator") << "07.45 PM" << TimeOfDay{19, 45};
        QTest::newRow("zero pm") << "0:15 PM" << TimeOfDay{12, 15};
        QTest::newRow("other suffix") << "7:05 XM" << TimeOfDay{7, 5};
        QTest::newRow("negative pm") << "-1:30 PM" << TimeOfDay{0, 0};
        QTest::newRow("letters") << "noon" << TimeOfDay{0, 0};
        QTest::newRow("empty") << "" << TimeOfDay{0, 0};
        QTest::newRow("huge hour") << "99999999999999999999:00" << TimeOfDay{0, 0};
        QTest::newRow("huge minute") << "1:99999999999999999999 PM" << TimeOfDay{0, 0};
        // Only the first 30 characters are read: the suffix past them is not seen.
        QTest::newRow("suffix past 30") << "1:05" + QString(26, ' ') + "PM" << TimeOfDay{1, 5};
        QTest::newRow("suffix within 30") << "1:05" + QString(24, ' ') + "PM" << TimeOfDay{13, 5};
    }
    void timeEdit() {
        QFETCH(QString, text);
        QFETCH(TimeOfDay, expected);
        QCOMPARE(ParseTimeEdit(text.toStdString()), expected);
    }

    void dateEdit_data() {
        const std::int64_t today = Utc(2026, 12, 11);
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("expected");
        QTest::newRow("month and day") << "5/21" << qint64(Utc(2026, 5, 21));
        QTest::newRow("full date") << "2024/2/29" << qint64(Utc(2024, 2, 29));
        QTest::newRow("padded") << "2024/02/09" << qint64(Utc(2024, 2, 9));
        QTest::newRow("dashes") << "2025-7-4" << qint64(Utc(2025, 7, 4));
        QTest::newRow("no such day") << "2000/2/30" << qint64(today);
        QTest::newRow("not a leap year") << "2023/2/29" << qint64(today);
        QTest::newRow("month 13") << "2024/13/1" << qint64(today);
        QTest::newRow("zero month stops") << "2024/0/5" << qint64(today);
        QTest::newRow("one number") << "21" << qint64(today);
        QTest::newRow("empty") << "" << qint64(today);
        QTest::newRow("letters") << "yesterday" << qint64(today);
        QTest::newRow("negative") << "2024/-3/5" << qint64(today);
        QTest::newRow("before 1970") << "1969/12/31" << qint64(today);
        QTest::newRow("past 32 bits") << "2106/12/31" << qint64(today);
        QTest::newRow("last storable") << "2106/2/6" << qint64(Utc(2106, 2, 6));
        QTest::newRow("huge year") << "99999999/1/1" << qint64(today);
        // Only 11 characters are read: the last digit of the day is cut off.
        QTest::newRow("past 11") << "   2024/2/29" << qint64(Utc(2024, 2, 2));
    }
    void dateEdit() {
        QFETCH(QString, text);
        QFETCH(qint64, expected);
        QCOMPARE(ParseDateEdit(text.toStdString(), kNow), expected);
    }

    void dateEditKeepsToLocalMidnight() {
        ScopedZone zone(kCentralEurope);
        // 00:00 local in summer is 22:00 UTC the day before.
        QCOMPARE(ParseDateEdit("2026/7/1", kNow), Utc(2026, 6, 30, 22));
        // 23:30 UTC on the 11th is already the 12th here: that is "today".
        QCOMPARE(ParseDateEdit("", Utc(2026, 12, 11, 23, 30)), Utc(2026, 12, 11, 23));
    }

    void entriesFromTheEditor() {
        const std::int64_t day = Utc(2026, 12, 11);
        struct Case {
            int radio;
            int minutes;
            std::uint16_t event;
            std::int32_t length;
        };
        const Case cases[] = {{0, 7, 0, 0}, {1, 7, 1, 0}, {2, 7, 2, -1},
                              {3, 7, 2, 0}, {4, 7, 2, 7}, {4, 0, 2, 0}};
        for (const Case& c : cases) {
            const ups::CScheduleDetail e = BuildEntry(c.radio, 2, c.minutes, day, 21, 5);
            QCOMPARE(e.event, c.event);
            QCOMPARE(e.testLength, c.length);
            QCOMPARE(e.frequency, std::uint16_t{2});
            QCOMPARE(std::int64_t{e.time}, Utc(2026, 12, 11, 21, 5));
        }
        // The viewed day's own clock time does not matter, only its date.
        QCOMPARE(std::int64_t{BuildEntry(0, 0, 1, kNow, 6, 0).time}, Utc(2026, 12, 11, 6, 0));
    }

    void entryTimeFollowsTheLocalClockChange() {
        ScopedZone zone(kCentralEurope);
        // 21:05 local is 20:05 UTC in winter and 19:05 UTC in summer.
        QCOMPARE(std::int64_t{BuildEntry(0, 0, 1, Utc(2026, 3, 28, 12), 21, 5).time},
                 Utc(2026, 3, 28, 20, 5));
        QCOMPARE(std::int64_t{BuildEntry(0, 0, 1, Utc(2026, 3, 29, 12), 21, 5).time},
                 Utc(2026, 3, 29, 19, 5));
    }

    void lineOfEachKind_data() {
        QTest::addColumn<int>("event");
        QTest::addColumn<int>("frequency");
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("line");
        const QString at = QStringLiteral("09:05 PM  2026/12/11  Friday << ");
        QTest::newRow("switch on") << 0 << 0 << 0 << at + "Turn On UPS >> Once";
        QTest::newRow("shut down") << 1 << 1 << 0 << at + "Shutdown OS and UPS >> Daily";
        QTest::newRow("ten seconds") << 2 << 2 << 0 << at + "Self-Test 10 seconds >> Weekly";
        QTest::newRow("battery low")
            << 2 << 3 << -1 << at + "Self-Test till Battery Low >> Monthly";
        QTest::newRow("minutes") << 2 << 0 << 15 << at + "Self-Test 15 Minutes >> Once";
        // Values no panel entry carries still make a line, not a crash.
        QTest::newRow("unknown kind") << 9 << 4 << 0 << at + " >> ";
    }
    void lineOfEachKind() {
        QFETCH(int, event);
        QFETCH(int, frequency);
        QFETCH(int, length);
        QFETCH(QString, line);
        const ups::CScheduleDetail e(static_cast<std::uint16_t>(event),
                                     static_cast<std::uint16_t>(frequency), length,
                                     static_cast<std::uint32_t>(Utc(2026, 12, 11, 21, 5)));
        QCOMPARE(QString::fromStdString(EntryLine(e)), line);
    }

    void lineInTheMorning() {
        const ups::CScheduleDetail e(0, 0, 0, static_cast<std::uint32_t>(Utc(2027, 1, 4, 0, 7)));
        QCOMPARE(QString::fromStdString(EntryLine(e)),
                 QStringLiteral("12:07 AM  2027/01/04  Monday << Turn On UPS >> Once"));
        QCOMPARE(QString::fromStdString(NextTimeText(Utc(2027, 1, 4, 12, 7))),
                 QStringLiteral("2027/01/04 12:07 PM"));
    }

    void showsOnItsLocalDate() {
        const ups::CScheduleDetail late(0, 2, 0,
                                        static_cast<std::uint32_t>(Utc(2026, 12, 11, 23, 59)));
        QVERIFY(ShowsOn(late, Utc(2026, 12, 11)));
        QVERIFY(ShowsOn(late, Utc(2026, 12, 11, 12)));
        QVERIFY(!ShowsOn(late, Utc(2026, 12, 12)));
        // A weekly entry shows on the day it was set for, not on the week's later Fridays.
        QVERIFY(!ShowsOn(late, Utc(2026, 12, 18)));
        // The same instant is the 12th in Central Europe.
        ScopedZone zone(kCentralEurope);
        QVERIFY(!ShowsOn(late, Utc(2026, 12, 11, 12)));
        QVERIFY(ShowsOn(late, Utc(2026, 12, 12, 12)));
    }

    void dayStepsAcrossClockChanges() {
        ScopedZone zone(kCentralEurope);
        // The day before summer time starts has 24 hours, the day it starts 23, the day it
        // ends 25: each step must land on the next or previous date, at midnight.
        const std::int64_t mar30 = ParseDateEdit("2026/3/30", kNow);
        QCOMPARE(FormatLocal(AddDays(mar30, -1), "%Y/%m/%d %H:%M"),
                 std::string("2026/03/29 00:00"));
        QCOMPARE(FormatLocal(AddDays(mar30, -2), "%Y/%m/%d %H:%M"),
                 std::string("2026/03/28 00:00"));
        const std::int64_t oct25 = ParseDateEdit("2026/10/25", kNow);
        QCOMPARE(FormatLocal(AddDays(oct25, 1), "%Y/%m/%d %H:%M"), std::string("2026/10/26 00:00"));
        QCOMPARE(FormatLocal(AddDays(oct25, -1), "%Y/%m/%d %H:%M"),
                 std::string("2026/10/24 00:00"));
        QCOMPARE(FormatLocal(AddDays(oct25, 0), "%Y/%m/%d %H:%M"), std::string("2026/10/25 00:00"));
        QCOMPARE(FormatLocal(AddDays(Utc(2026, 12, 31, 12), 1), "%Y/%m/%d"),
                 std::string("2027/01/01"));
    }
};

}  // namespace

int RunScheduleTextTests(int argc, char** argv) {
    ScheduleTextTest t;
    return QTest::qExec(&t, argc, argv);
}

}  // namespace kelvora::panel::test

#include "schedule_text_test.moc"
