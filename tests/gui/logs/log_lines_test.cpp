// The exact texts of the rows, print lines, headers, calendar details and CSV.
#include <QtTest>

#include "gui/logs/log_lines.h"
#include "suites.h"
#include "ups_lib/event_texts.h"

namespace kelvora::panel::test {

namespace {

// 2026-08-01 13:05:09 UTC.
constexpr std::uint32_t kAug1 = 1785589509;

ups::CDataLogRecord Sample() {
    ups::CDataLogRecord r;
    r.inputVoltage = 2301;
    r.outputVoltage = 2199;
    r.inputFrequency = 600;
    r.load = 455;
    r.batteryCapacity = 87;
    r.temperature = 253;
    r.time = kAug1;
    return r;
}

std::vector<std::string> S(std::initializer_list<const char*> l) {
    return {l.begin(), l.end()};
}

class LogLinesTest : public QObject {
    Q_OBJECT

  private slots:
    void dataRowAndPrintLine() {
        QCOMPARE(DataRowTexts(Sample(), 7), S({"7", "2026/08/01 01:05:09 PM", "230.1 v", "219.9 v",
                                               "60.0 Hz", "45.5 %", "87 %", "25.3 C"}));
        QCOMPARE(DataPrintLine(Sample(), 7),
                 std::string("  7) 2026/08/01 01:05:09 PM 230.1 V 219.9 V 60.0 Hz 45.5 % 87 % "
                             "25.3 C"));
        // Small, zero and below-zero readings keep printf's "%3.1f" shape.
        ups::CDataLogRecord r = Sample();
        r.inputVoltage = 5;
        r.outputVoltage = 0;
        r.inputFrequency = 7;
        r.temperature = -15;
        r.load = 1000;
        QCOMPARE(
            DataPrintLine(r, 1234),
            std::string("1234) 2026/08/01 01:05:09 PM 0.5 V 0.0 V 0.7 Hz 100.0 % 87 % -1.5 C"));
        QCOMPARE(Tenths(-5), std::string("-0.5"));
        QCOMPARE(Tenths(INT32_MIN), std::string("-214748364.8"));
    }

    void headers() {
        const std::string rule(64, '_');
        QCOMPARE(DataListHeader(),
                 (std::vector<std::string>{
                     rule, "                        Input Output",
                     "  #   Date       Time    Volt  Volt   Freq  Load  Cap.   Temp", rule}));
        QCOMPARE(EventListHeader(),
                 (std::vector<std::string>{rule, "    #    Date       Time         Event", rule}));
        QCOMPARE(rule.size(), std::size_t(64));
    }

    void clockHoursAndMonths() {
        // Midnight and noon are both 12 on a 12-hour clock.
        QCOMPARE(FormatTime(1785542400, "%I:%M:%S %p"), std::string("12:00:00 AM"));
        QCOMPARE(FormatTime(1785585600, "%I:%M:%S %p"), std::string("12:00:00 PM"));
        QCOMPARE(FormatTime(1785585599, "%I:%M:%S %p"), std::string("11:59:59 AM"));
        QCOMPARE(FormatTime(kAug1, "%B %d %Y"), std::string("August 01 2026"));
        QCOMPARE(FormatTime(1768046400, "%B %Y|%H|%%|%q"), std::string("January 2026|12|%|%q"));
    }

    void eventRows() {
        const EventRow row =
            MakeEventRow({ups::kEvAcFailure, ups::CEventLogRecord::kWarning, kAug1});
        QCOMPARE(row.icon, 1);
        QCOMPARE(row.date, std::string("2026/08/01"));
        QCOMPARE(row.time, std::string("01:05:09 PM"));
        QCOMPARE(row.description, std::string("AC Failure"));
        QCOMPARE(EventPrintLine({ups::kEvAcFailure, 2, kAug1}, 0),
                 std::string("    0) 2026/08/01  01:05:09 PM  AC Failure"));
        // An id the table lacks gives an empty description, not garbage.
        QCOMPARE(EventPrintLine({9999, 4, kAug1}, 12345),
                 std::string("12345) 2026/08/01  01:05:09 PM  "));
        QCOMPARE(EventIconIndex(4), 0);
        QCOMPARE(EventIconIndex(2), 1);
        QCOMPARE(EventIconIndex(1), 2);
        QCOMPARE(EventIconIndex(3), -1);
        QCOMPARE(EventIconIndex(0), -1);
    }

    void calendarDetails() {
        QCOMPARE(CalendarDetailLine({109, 2, kAug1}).value_or("-"),
                 std::string("01:05:09 PM  AC Fail"));
        QCOMPARE(CalendarDetailLine({111, 2, kAug1}).value_or("-"),
                 std::string("01:05:09 PM  BATTERY LOW"));
        QCOMPARE(CalendarDetailLine({113, 2, kAug1}).value_or("-"),
                 std::string("01:05:09 PM  SHUTDOWN"));
        QCOMPARE(CalendarDetailLine({114, 4, kAug1}).value_or("-"),
                 std::string("01:05:09 PM  SELF-TEST"));
        for (const std::uint32_t id : {100u, 108u, 110u, 112u, 115u, 119u, 0u}) {
            QVERIFY2(!CalendarDetailLine({id, 4, kAug1}), qPrintable(QString::number(id)));
        }
    }

    void csvQuoting() {
        QCOMPARE(CsvField("plain"), std::string("plain"));
        QCOMPARE(CsvField("a,b"), std::string("\"a,b\""));
        QCOMPARE(CsvField("say \"hi\""), std::string("\"say \"\"hi\"\"\""));
        QCOMPARE(CsvField("two\nlines"), std::string("\"two\nlines\""));
        QCOMPARE(CsvField(""), std::string(""));
        QCOMPARE(CsvLine({"1", "x,y", "z"}), std::string("1,\"x,y\",z\r\n"));
    }

    void csvDocuments() {
        QCOMPARE(IsoLocalTime(kAug1), std::string("2026-08-01T13:05:09+00:00"));
        QCOMPARE(DataCsv({Sample()}),
                 std::string("#,Time,Input voltage (V),Output voltage (V),Frequency (Hz),Load (%),"
                             "Battery capacity (%),Temperature (C)\r\n"
                             "1,2026-08-01T13:05:09+00:00,230.1,219.9,60.0,45.5,87,25.3\r\n"));
        QCOMPARE(EventCsv({{ups::kEvSelfTest, 4, kAug1}, {7777, 1, kAug1}}),
                 std::string("#,Time,Type,Event id,Description\r\n"
                             "0,2026-08-01T13:05:09+00:00,Information,114,UPS Self Test\r\n"
                             "1,2026-08-01T13:05:09+00:00,Error,7777,\r\n"));
    }

    void offsetOutsideUtc() {
        // A zone east of UTC and one west, so the sign and the minutes are both exercised.
        const QByteArray saved = qgetenv("TZ");
        qputenv("TZ", "IST-5:30");
        tzset();
        const std::string east = IsoLocalTime(kAug1);
        qputenv("TZ", "EST5");
        tzset();
        const std::string west = IsoLocalTime(kAug1);
        qputenv("TZ", saved);
        tzset();
        QCOMPARE(east, std::string("2026-08-01T18:35:09+05:30"));
        QCOMPARE(west, std::string("2026-08-01T08:05:09-05:00"));
    }
};

}  // namespace

int RunLogLinesTests(int argc, char** argv) {
    LogLinesTest t;
    return QTest::qExec(&t, argc, argv);
}

}  // namespace kelvora::panel::test

#include "log_lines_test.moc"
