// The data list, the event list and the last-shutdown report as a user drives them.
#include <QApplication>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include "gui/logs/data_list_dialog.h"
#include "gui/logs/event_list_dialog.h"
#include "gui/logs/last_info_dialog.h"
#include "gui/logs/log_lines.h"
#include "suites.h"
#include "ups_lib/event_texts.h"

namespace kelvora::panel::test {

namespace {

constexpr std::uint32_t kAug1 = 1785589509;  // 2026-08-01 13:05:09 UTC

std::vector<ups::CDataLogRecord> TwoSamples() {
    ups::CDataLogRecord a;
    a.inputVoltage = 2301;
    a.outputVoltage = 2199;
    a.inputFrequency = 600;
    a.load = 455;
    a.batteryCapacity = 87;
    a.temperature = 253;
    a.time = kAug1;
    ups::CDataLogRecord b = a;
    b.inputVoltage = 0;
    b.batteryCapacity = 100;
    b.time = kAug1 + 60;
    return {a, b};
}

void Click(QWidget* dialog, const char* name) {
    auto* b = dialog->findChild<QPushButton*>(QString::fromLatin1(name));
    QVERIFY2(b != nullptr, name);
    b->click();
}

// Closes any message box a click would open and counts them, so a question asked by mistake
// fails the test instead of hanging it.
class ModalWatch : public QObject {
  public:
    ModalWatch() {
        connect(&timer_, &QTimer::timeout, this, [this] {
            if (QWidget* w = QApplication::activeModalWidget()) {
                ++seen;
                w->close();
            }
        });
        timer_.start(20);
    }
    int seen = 0;

  private:
    QTimer timer_;
};

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class ListDialogsTest : public QObject {
    Q_OBJECT

  private slots:
    void dataListWaitsAndFills() {
        CDlgDataList dlg;
        QCOMPARE(dlg.windowTitle(), QStringLiteral("UPS數據資料"));
        dlg.BeginWaiting();
        QVERIFY(dlg.waiting());
        QCOMPARE(dlg.cursor().shape(), Qt::WaitCursor);
        QCOMPARE(dlg.printLines(), DataListHeader());

        dlg.Fill(TwoSamples());
        QVERIFY(!dlg.waiting());
        QVERIFY(dlg.cursor().shape() != Qt::WaitCursor);
        QCOMPARE(dlg.rowCount(), 2);
        QCOMPARE(dlg.cellText(0, 0), QStringLiteral("1"));
        QCOMPARE(dlg.cellText(1, 0), QStringLiteral("2"));
        QCOMPARE(dlg.cellText(0, 1), QStringLiteral("2026/08/01 01:05:09 PM"));
        QCOMPARE(dlg.cellText(1, 2), QStringLiteral("0.0 v"));
        QCOMPARE(dlg.cellText(1, 6), QStringLiteral("100 %"));
        QCOMPARE(dlg.printLines().size(), std::size_t(6));
        QCOMPARE(dlg.printLines()[4],
                 std::string("  1) 2026/08/01 01:05:09 PM 230.1 V 219.9 V 60.0 Hz 45.5 % 87 % "
                             "25.3 C"));
        for (int trace = 0; trace < 4; ++trace) QCOMPARE(dlg.chartPointCount(trace), 2);

        // The same log arriving again replaces the list rather than doubling it.
        dlg.Fill(TwoSamples());
        QCOMPARE(dlg.rowCount(), 2);
        QCOMPARE(dlg.printLines().size(), std::size_t(6));

        dlg.BeginWaiting();
        dlg.StopWaiting();
        QVERIFY(!dlg.waiting());
        QVERIFY(dlg.cursor().shape() != Qt::WaitCursor);
    }

    void dataListButtons() {
        CDlgDataList dlg;
        QSignalSpy refresh(&dlg, &CDlgDataList::refreshRequested);
        QSignalSpy clear(&dlg, &CDlgDataList::clearRequested);
        QSignalSpy closed(&dlg, &CDlgDataList::closed);
        dlg.show();
        dlg.Fill(TwoSamples());

        ModalWatch watch;
        Click(&dlg, "clear");
        QTest::qWait(60);
        QCOMPARE(watch.seen, 0);
        QCOMPARE(clear.count(), 1);
        QCOMPARE(dlg.rowCount(), 0);
        QCOMPARE(dlg.chartPointCount(0), 0);
        // What was listed can still be printed.
        QCOMPARE(dlg.printLines().size(), std::size_t(6));

        dlg.Fill(TwoSamples());
        Click(&dlg, "refresh");
        QCOMPARE(refresh.count(), 1);
        QCOMPARE(dlg.rowCount(), 0);
        QCOMPARE(dlg.printLines(), DataListHeader());

        QCOMPARE(closed.count(), 0);
        Click(&dlg, "leave");
        QCOMPARE(closed.count(), 1);
        QVERIFY(!dlg.isVisible());
        dlg.show();
        dlg.close();
        QCOMPARE(closed.count(), 2);
    }

    void dataListColumnsFollowTheWidth() {
        CDlgDataList dlg;
        dlg.resize(900, 600);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        auto* table = dlg.findChild<QTreeWidget*>();
        QVERIFY(table != nullptr);
        QCOMPARE(table->columnWidth(0), table->width() / 15);
        QCOMPARE(table->columnWidth(1), table->width() * 2 / 9);
        QCOMPARE(table->columnWidth(7), table->width() / 9);
        dlg.Fill(TwoSamples());
        SaveArtifact(&dlg, QStringLiteral("data_list"));
    }

    void dataListCsv() {
        CDlgDataList dlg;
        const QString path = TempPath(QStringLiteral("data.csv"));
        dlg.chooseCsvFile = [&] { return path; };
        dlg.Fill(TwoSamples());
        Click(&dlg, "csv");
        const QByteArray text = ReadAll(path);
        QVERIFY(text.startsWith("#,Time,Input voltage (V),"));
        QVERIFY(text.contains("\r\n1,2026-08-01T13:05:09+00:00,230.1,219.9,60.0,45.5,87,25.3\r\n"));
        QVERIFY(text.endsWith("\r\n2,2026-08-01T13:06:09+00:00,0.0,219.9,60.0,45.5,100,25.3\r\n"));

        // A place that cannot be written is reported, not passed over.
        QStringList told;
        dlg.tell = [&](const QString& t) { told << t; };
        dlg.chooseCsvFile = [] { return QStringLiteral("/nonexistent-dir/x.csv"); };
        Click(&dlg, "csv");
        QCOMPARE(told.size(), 1);
        // An empty answer is a cancel.
        dlg.chooseCsvFile = [] { return QString(); };
        Click(&dlg, "csv");
        QCOMPARE(told.size(), 1);
    }

    void eventListFills() {
        CDlgLog dlg;
        QCOMPARE(dlg.windowTitle(), QStringLiteral("事件記錄檔"));
        QCOMPARE(dlg.printLines(), EventListHeader());
        dlg.Fill({{ups::kEvAcFailure, 2, kAug1},
                  {ups::kEvServiceStarted, 4, kAug1 + 1},
                  {ups::kEvUpsFailure, 1, kAug1 + 2},
                  {4242, 3, kAug1 + 3}});
        QCOMPARE(dlg.rowCount(), 4);
        QCOMPARE(dlg.cellText(0, 0), QStringLiteral("2026/08/01"));
        QCOMPARE(dlg.cellText(0, 1), QStringLiteral("01:05:09 PM"));
        QCOMPARE(dlg.cellText(0, 2), QStringLiteral("AC Failure"));
        QCOMPARE(dlg.cellText(3, 2), QString());
        QCOMPARE(dlg.rowIcon(0), 1);
        QCOMPARE(dlg.rowIcon(1), 0);
        QCOMPARE(dlg.rowIcon(2), 2);
        QCOMPARE(dlg.rowIcon(3), -1);
        dlg.show();
        SaveArtifact(&dlg, QStringLiteral("event_list"));
        QCOMPARE(dlg.printLines().size(), std::size_t(7));
        QCOMPARE(dlg.printLines()[3], std::string("    0) 2026/08/01  01:05:09 PM  AC Failure"));
        QCOMPARE(dlg.printLines()[5], std::string("    2) 2026/08/01  01:05:11 PM  UPS Failure"));

        dlg.Reset();
        QCOMPARE(dlg.printLines(), EventListHeader());
        dlg.Fill({{ups::kEvAcFailure, 2, kAug1}});
        QCOMPARE(dlg.rowCount(), 1);
    }

    void eventListClearAsksFirst() {
        CDlgLog dlg;
        QSignalSpy clear(&dlg, &CDlgLog::clearRequested);
        dlg.Fill({{ups::kEvAcFailure, 2, kAug1}, {ups::kEvAcRestored, 4, kAug1 + 5}});
        QStringList asked;
        bool answer = false;
        dlg.confirm = [&](const QString& q) {
            asked << q;
            return answer;
        };
        Click(&dlg, "clear");
        QCOMPARE(asked, QStringList{QStringLiteral("Clear all Event Log?")});
        QCOMPARE(dlg.rowCount(), 2);
        QCOMPARE(clear.count(), 0);

        answer = true;
        Click(&dlg, "clear");
        QCOMPARE(asked.size(), 2);
        QCOMPARE(dlg.rowCount(), 0);
        QCOMPARE(clear.count(), 1);
    }

    void eventListCsvQuotesFields() {
        CDlgLog dlg;
        const QString path = TempPath(QStringLiteral("events.csv"));
        dlg.chooseCsvFile = [&] { return path; };
        dlg.Fill({{ups::kEvDebug, 4, kAug1}});
        Click(&dlg, "csv");
        QCOMPARE(ReadAll(path),
                 QByteArray("#,Time,Type,Event id,Description\r\n"
                            "0,2026-08-01T13:05:09+00:00,Information,107,Debug: %1\r\n"));
    }

    void lastInfoListsTheSelectedFiles() {
        CDlgLastInfo dlg;
        QCOMPARE(dlg.windowTitle(), QStringLiteral("上次關機儲存之應用程式"));
        QSignalSpy selected(&dlg, &CDlgLastInfo::applicationSelected);
        ups::CCloseInfo info;
        info.apps = {"Writer", "Sheets", "Paint"};
        info.files = {{"C:\\docs\\a.txt", "C:\\docs\\b.txt"}, {"D:\\sum.xls"}};
        dlg.Fill(info);
        QCOMPARE(dlg.applications(),
                 (QStringList{QStringLiteral("Writer"), QStringLiteral("Sheets"),
                              QStringLiteral("Paint")}));
        QVERIFY(dlg.files().isEmpty());

        dlg.applicationList()->setCurrentRow(1);
        QCOMPARE(dlg.files(), QStringList{QStringLiteral("D:\\sum.xls")});
        QCOMPARE(selected.count(), 1);
        QCOMPARE(selected.at(0).at(0).toInt(), 1);
        dlg.show();
        SaveArtifact(&dlg, QStringLiteral("last_info"));
        dlg.applicationList()->setCurrentRow(0);
        QCOMPARE(dlg.files(), (QStringList{QStringLiteral("C:\\docs\\a.txt"),
                                           QStringLiteral("C:\\docs\\b.txt")}));
        // The third application has no file list in the record: nothing listed, no crash.
        dlg.applicationList()->setCurrentRow(2);
        QVERIFY(dlg.files().isEmpty());
        dlg.ShowFiles(-1);
        dlg.ShowFiles(1000);
        QVERIFY(dlg.files().isEmpty());

        // A new report starts over.
        dlg.Fill(ups::CCloseInfo{});
        QVERIFY(dlg.applications().isEmpty());
        QVERIFY(dlg.files().isEmpty());
    }
};

}  // namespace

int RunListDialogTests(int argc, char** argv) {
    ListDialogsTest t;
    return QTest::qExec(&t, argc, argv);
}

}  // namespace kelvora::panel::test

#include "list_dialogs_test.moc"
