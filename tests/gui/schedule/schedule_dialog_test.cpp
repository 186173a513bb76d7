// The schedule dialog and its entry editor: what a day shows, adding and removing entries, the
// next times and the ways out, all against a fixed "now".
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>
#include <memory>

#include "gui/schedule/schedule_dialog.h"
#include "gui/schedule/schedule_text.h"
#include "suites.h"

namespace kelvora::panel::test {

namespace {

ups::CScheduleDetail Entry(std::uint16_t event, std::uint16_t frequency, std::int32_t length,
                           std::int64_t time) {
    return ups::CScheduleDetail(event, frequency, length, static_cast<std::uint32_t>(time));
}

QAbstractButton* Button(QWidget& dialog, const QString& text) {
    for (auto* b : dialog.findChildren<QAbstractButton*>()) {
        if (b->text() == text) return b;
    }
    return nullptr;
}

QToolButton* Arrow(QWidget& dialog, const char* name) {
    return dialog.findChild<QToolButton*>(QString::fromLatin1(name));
}

class ScheduleDialogTest : public QObject {
    Q_OBJECT

    // What the main dialog does with an added or removed entry: change its copy and rebuild.
    struct MainCopy {
        ups::CSchedule schedule;
        void Wire(CDlgSchedule& dialog) {
            QObject::connect(&dialog, &CDlgSchedule::entryAdded, &dialog,
                             [this, &dialog](const ups::CScheduleDetail& e) {
                                 schedule.Add(e);
                                 dialog.Rebuild(schedule);
                             });
        }
    };

    // An editor run that fills the fields as a user would and presses OK.
    static std::function<bool(CSelectSched&)> Answer(const QString& time, int kind, int frequency,
                                                     int minutes = 1) {
        return [=](CSelectSched& editor) {
            editor.timeEdit()->setText(time);
            editor.eventButton(kind)->setChecked(true);
            editor.frequencyButton(frequency)->setChecked(true);
            editor.minutesSpin()->setValue(minutes);
            editor.accept();
            return editor.result() == QDialog::Accepted;
        };
    }

    std::unique_ptr<CDlgSchedule> Make(std::int64_t now = kNow) {
        return std::make_unique<CDlgSchedule>([now] { return now; });
    }

  private slots:
    void opensOnToday() {
        auto dialog = Make();
        QCOMPARE(dialog->dateEdit()->text(), QStringLiteral("2026/12/11"));
        QCOMPARE(dialog->viewedDay(), Utc(2026, 12, 11));
        QVERIFY(dialog->shownLines().isEmpty());
        QVERIFY(Arrow(*dialog, "prev") && !Arrow(*dialog, "prev")->icon().isNull());
        QVERIFY(Arrow(*dialog, "next") && !Arrow(*dialog, "next")->icon().isNull());
        for (const char* text : {"列出全部", "增加", "刪除", "儲存", "取消"})
            QVERIFY2(Button(*dialog, QString::fromUtf8(text)), text);
    }

    void editorOpensOnNow() {
        CSelectSched editor(kNow);
        QCOMPARE(editor.windowTitle(), QStringLiteral("工作排程"));
        QCOMPARE(editor.timeEdit()->text(), QStringLiteral("09:15 AM"));
        QCOMPARE(editor.eventButton(0)->text(), QStringLiteral("開啟 UPS"));
        QCOMPARE(editor.eventButton(4)->text(), QStringLiteral("UPS自我測試"));
        QVERIFY(editor.eventButton(0)->isChecked());
        QVERIFY(editor.frequencyButton(0)->isChecked());
        QCOMPARE(editor.frequencyButton(3)->text(), QStringLiteral("每月"));
        QCOMPARE(editor.minutesSpin()->value(), 1);
        QVERIFY(!editor.eventButton(5) && !editor.frequencyButton(4));
    }

    void editorArrowsStayWithinOneToNinetyNine() {
        CSelectSched editor(kNow);
        MinutesSpin* spin = editor.minutesSpin();
        spin->stepBy(-5);
        QCOMPARE(spin->value(), 1);
        spin->stepBy(500);
        QCOMPARE(spin->value(), 99);
        // Typed, 0 is taken (the agent runs it as its ten-second test).
        spin->findChild<QLineEdit*>()->setText(QStringLiteral("0"));
        editor.timeEdit()->setText(QStringLiteral("7:05pm"));
        editor.eventButton(4)->setChecked(true);
        editor.accept();
        QCOMPARE(editor.minutes(), 0);
        QCOMPARE(editor.hour(), 19);
        QCOMPARE(editor.minute(), 5);
        QCOMPARE(editor.eventRadio(), 4);
        QCOMPARE(editor.result(), int(QDialog::Accepted));
    }

    void daysShowTheirOwnEntries() {
        auto dialog = Make();
        ups::CSchedule schedule;
        schedule.Add(Entry(0, 0, 0, Utc(2026, 12, 11, 7, 0)));
        schedule.Add(Entry(1, 1, 0, Utc(2026, 12, 12, 22, 0)));
        schedule.Add(Entry(2, 0, -1, Utc(2026, 12, 11, 23, 30)));
        dialog->Rebuild(schedule);
        QCOMPARE(
            dialog->shownLines(),
            QStringList({"07:00 AM  2026/12/11  Friday << Turn On UPS >> Once",
                         "11:30 PM  2026/12/11  Friday << Self-Test till Battery Low >> Once"}));
        Arrow(*dialog, "next")->click();
        QCOMPARE(dialog->dateEdit()->text(), QStringLiteral("2026/12/12"));
        QCOMPARE(dialog->shownLines(),
                 QStringList({"10:00 PM  2026/12/12  Saturday << Shutdown OS and UPS >> Daily"}));
        Arrow(*dialog, "next")->click();
        QVERIFY(dialog->shownLines().isEmpty());
        Button(*dialog, QStringLiteral("列出全部"))->click();
        QCOMPARE(dialog->shownLines().size(), 3);
        QCOMPARE(dialog->shownLines().at(1),
                 QStringLiteral("10:00 PM  2026/12/12  Saturday << Shutdown OS and UPS >> Daily"));
    }

    void weeklyEntryAddedOnAFriday() {
        auto dialog = Make();
        MainCopy main;
        main.Wire(*dialog);
        QSignalSpy added(dialog.get(), &CDlgSchedule::entryAdded);
        dialog->runEditor = Answer(QStringLiteral("10:00 PM"), 1, 2);
        Button(*dialog, QStringLiteral("增加"))->click();
        QCOMPARE(added.count(), 1);
        const auto entry = added.at(0).at(0).value<ups::CScheduleDetail>();
        QCOMPARE(entry, Entry(1, 2, 0, Utc(2026, 12, 11, 22, 0)));
        const QString line =
            QStringLiteral("10:00 PM  2026/12/11  Friday << Shutdown OS and UPS >> Weekly");
        QCOMPARE(dialog->shownLines(), QStringList{line});

        for (int day = 0; day < 7; ++day) {
            Arrow(*dialog, "next")->click();
            QVERIFY2(dialog->shownLines().isEmpty(), qPrintable(dialog->dateEdit()->text()));
        }
        QCOMPARE(dialog->dateEdit()->text(), QStringLiteral("2026/12/18"));
        Button(*dialog, QStringLiteral("列出全部"))->click();
        QCOMPARE(dialog->shownLines(), QStringList{line});
        dialog->dateEdit()->setText(QStringLiteral("12/12"));
        Arrow(*dialog, "prev")->click();
        QCOMPARE(dialog->shownLines(), QStringList{line});
    }

    void addTakesTheTypedDate() {
        auto dialog = Make();
        QSignalSpy added(dialog.get(), &CDlgSchedule::entryAdded);
        dialog->dateEdit()->setText(QStringLiteral("2027/1/8"));
        dialog->runEditor = Answer(QStringLiteral("6:30 AM"), 4, 3, 12);
        Button(*dialog, QStringLiteral("增加"))->click();
        QCOMPARE(added.count(), 1);
        QCOMPARE(added.at(0).at(0).value<ups::CScheduleDetail>(),
                 Entry(2, 3, 12, Utc(2027, 1, 8, 6, 30)));
        QCOMPARE(dialog->viewedDay(), Utc(2027, 1, 8));
        // Without the main dialog's rebuild the new line is there already, and it is the entry
        // a delete of that line reports.
        QCOMPARE(dialog->shownLines(),
                 QStringList{"06:30 AM  2027/01/08  Friday << Self-Test 12 Minutes >> Monthly"});
        QSignalSpy removed(dialog.get(), &CDlgSchedule::entryRemoved);
        dialog->listBox()->setCurrentRow(0);
        Button(*dialog, QStringLiteral("刪除"))->click();
        QCOMPARE(removed.count(), 1);
        QCOMPARE(removed.at(0).at(0).value<ups::CScheduleDetail>(),
                 Entry(2, 3, 12, Utc(2027, 1, 8, 6, 30)));
    }

    void cancelledEditorAddsNothing() {
        auto dialog = Make();
        QSignalSpy added(dialog.get(), &CDlgSchedule::entryAdded);
        bool ran = false;
        dialog->runEditor = [&](CSelectSched& editor) {
            ran = true;
            editor.reject();
            return false;
        };
        Button(*dialog, QStringLiteral("增加"))->click();
        QVERIFY(ran);
        QCOMPARE(added.count(), 0);
        QVERIFY(dialog->shownLines().isEmpty());
    }

    void invalidTimeAndDateFallBack() {
        auto dialog = Make();
        QSignalSpy added(dialog.get(), &CDlgSchedule::entryAdded);
        dialog->dateEdit()->setText(QStringLiteral("2000/2/30"));
        dialog->runEditor = Answer(QStringLiteral("25:00"), 0, 0);
        Button(*dialog, QStringLiteral("增加"))->click();
        QCOMPARE(added.count(), 1);
        QCOMPARE(added.at(0).at(0).value<ups::CScheduleDetail>(),
                 Entry(0, 0, 0, Utc(2026, 12, 11)));
        QCOMPARE(dialog->dateEdit()->text(), QStringLiteral("2026/12/11"));
    }

    void removeReportsTheSelectedLinesEntry() {
        auto dialog = Make();
        ups::CSchedule schedule;
        const auto a = Entry(0, 0, 0, Utc(2026, 12, 11, 7, 0));
        const auto b = Entry(1, 0, 0, Utc(2026, 12, 11, 8, 0));
        const auto c = Entry(2, 0, 0, Utc(2026, 12, 11, 9, 0));
        for (const auto& e : {a, b, c}) schedule.Add(e);
        dialog->Rebuild(schedule);
        QSignalSpy removed(dialog.get(), &CDlgSchedule::entryRemoved);
        QAbstractButton* remove = Button(*dialog, QStringLiteral("刪除"));

        remove->click();
        QCOMPARE(removed.count(), 0);  // nothing selected
        QCOMPARE(dialog->shownLines().size(), 3);

        dialog->listBox()->setCurrentRow(1);
        remove->click();
        QCOMPARE(removed.count(), 1);
        QCOMPARE(removed.at(0).at(0).value<ups::CScheduleDetail>(), b);
        QCOMPARE(dialog->shownLines().size(), 2);
        // The lines below moved up with their entries: the old third line is now the second.
        dialog->listBox()->setCurrentRow(1);
        remove->click();
        QCOMPARE(removed.count(), 2);
        QCOMPARE(removed.at(1).at(0).value<ups::CScheduleDetail>(), c);
        Button(*dialog, QStringLiteral("列出全部"))->click();
        QCOMPARE(dialog->shownLines(), QStringList{QString::fromStdString(EntryLine(a))});
    }

    void nextTimesFromTheSchedule() {
        auto dialog = Make();
        ups::CSchedule schedule;
        schedule.Add(Entry(1, 1, 0, Utc(2026, 12, 1, 22, 0)));  // daily since the 1st
        schedule.Add(Entry(1, 0, 0, Utc(2026, 12, 11, 18, 0)));
        schedule.Add(Entry(0, 0, 0, Utc(2026, 12, 10, 7, 0)));   // once, already past
        schedule.Add(Entry(2, 3, 5, Utc(2026, 10, 31, 13, 0)));  // monthly on the 31st
        dialog->Rebuild(schedule);
        QCOMPARE(dialog->nextText(1), QStringLiteral("2026/12/11 06:00 PM"));
        QCOMPARE(dialog->nextText(0), QString());
        QCOMPARE(dialog->nextText(2), QStringLiteral("2026/12/31 01:00 PM"));
        // Each field sits beside the label of its own kind.
        const std::pair<const char*, int> labels[] = {
            {"下次預定關機時間", 1}, {"下次預定開機時間", 0}, {"下次自我測試時間", 2}};
        for (const auto& [text, event] : labels) {
            const QLabel* label = nullptr;
            for (const QLabel* l : dialog->findChildren<QLabel*>())
                if (l->text() == QString::fromUtf8(text)) label = l;
            QVERIFY2(label && label->buddy(), text);
            QCOMPARE(qobject_cast<QLineEdit*>(label->buddy())->text(), dialog->nextText(event));
        }

        // A later copy without those entries empties their fields again.
        ups::CSchedule later;
        later.Add(Entry(0, 2, 0, Utc(2026, 12, 4, 7, 0)));  // weekly, Fridays
        dialog->Rebuild(later);
        QCOMPARE(dialog->nextText(0), QStringLiteral("2026/12/18 07:00 AM"));
        QCOMPARE(dialog->nextText(1), QString());
        QCOMPARE(dialog->nextText(2), QString());
        QVERIFY(dialog->shownLines().isEmpty());
    }

    void nextTimeFieldsAreNavyOnCream() {
        auto dialog = Make();
        const auto fields = dialog->findChildren<QLineEdit*>();
        int navy = 0;
        for (const QLineEdit* f : fields) {
            if (!f->isReadOnly()) continue;
            QCOMPARE(f->palette().color(QPalette::Text), QColor(0, 0, 128));
            QCOMPARE(f->palette().color(QPalette::Base), QColor(255, 251, 240));
            ++navy;
        }
        QCOMPARE(navy, 3);
    }

    void everyWayOutSendsTheSchedule() {
        for (const char* way : {"取消", "儲存", "close", "escape"}) {
            auto dialog = Make();
            dialog->show();
            QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
            bool visibleWhenEmitted = false;
            QSignalSpy closing(dialog.get(), &CDlgSchedule::closing);
            connect(dialog.get(), &CDlgSchedule::closing, dialog.get(),
                    [&] { visibleWhenEmitted = dialog->isVisible(); });
            const QString w = QString::fromUtf8(way);
            if (w == "close")
                dialog->close();
            else if (w == "escape")
                QTest::keyClick(dialog.get(), Qt::Key_Escape);
            else
                Button(*dialog, w)->click();
            QCOMPARE(closing.count(), 1);
            QVERIFY2(visibleWhenEmitted, way);
            QVERIFY2(!dialog->isVisible(), way);
        }
    }

    void mainDialogMayDeleteItOnClosing() {
        QPointer<CDlgSchedule> dialog = new CDlgSchedule([] { return kNow; });
        dialog->show();
        connect(dialog, &CDlgSchedule::closing, dialog, [&] { delete dialog.data(); });
        Button(*dialog, QStringLiteral("取消"))->click();
        QVERIFY(dialog.isNull());
    }

    void reopeningStartsOnToday() {
        auto dialog = Make();
        dialog->show();
        Arrow(*dialog, "next")->click();
        QCOMPARE(dialog->dateEdit()->text(), QStringLiteral("2026/12/12"));
        dialog->close();
        dialog->show();
        QCOMPARE(dialog->dateEdit()->text(), QStringLiteral("2026/12/11"));
        QCOMPARE(dialog->viewedDay(), Utc(2026, 12, 11));
    }

    void arrowsMoveOneDateAcrossClockChanges() {
        ScopedZone zone(kCentralEurope);
        auto dialog = Make();
        dialog->dateEdit()->setText(QStringLiteral("2026/3/30"));
        Arrow(*dialog, "prev")->click();
        QCOMPARE(dialog->dateEdit()->text(), QStringLiteral("2026/03/29"));
        Arrow(*dialog, "prev")->click();
        QCOMPARE(dialog->dateEdit()->text(), QStringLiteral("2026/03/28"));
        dialog->dateEdit()->setText(QStringLiteral("2026/10/25"));
        Arrow(*dialog, "next")->click();
        QCOMPARE(dialog->dateEdit()->text(), QStringLiteral("2026/10/26"));
    }

    void arrowsStopWhereEntriesEnd() {
        auto dialog = Make();
        dialog->dateEdit()->setText(QStringLiteral("1970/1/1"));
        Arrow(*dialog, "prev")->click();
        QCOMPARE(dialog->dateEdit()->text(), QStringLiteral("1970/01/01"));
        dialog->dateEdit()->setText(QStringLiteral("2106/2/6"));
        Arrow(*dialog, "next")->click();
        QCOMPARE(dialog->dateEdit()->text(), QStringLiteral("2106/02/06"));
    }

    void fitsOnSmallScreens() {
        auto dialog = Make();
        ups::CSchedule schedule;
        for (int i = 0; i < 40; ++i) schedule.Add(Entry(2, 3, -1, Utc(2026, 12, 9, 23, 30)));
        dialog->Rebuild(schedule);
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
        dialog->listAll();
        dialog->adjustSize();
        QVERIFY(dialog->width() <= 1024 && dialog->height() <= 700);
        // The longest line fits in the list without scrolling sideways.
        const int longest =
            dialog->listBox()->fontMetrics().horizontalAdvance(dialog->shownLines().first());
        QVERIFY(longest <= dialog->listBox()->viewport()->width());
        SaveArtifact(*dialog, QStringLiteral("schedule_dialog"));
        CSelectSched editor(kNow);
        editor.adjustSize();
        SaveArtifact(editor, QStringLiteral("entry_editor"));
        QVERIFY(editor.width() <= 1024 && editor.height() <= 700);
    }
};

}  // namespace

int RunScheduleDialogTests(int argc, char** argv) {
    ScheduleDialogTest t;
    return QTest::qExec(&t, argc, argv);
}

}  // namespace kelvora::panel::test

#include "schedule_dialog_test.moc"
