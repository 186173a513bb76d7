// The real panel, driven line by line from standard input for the end-to-end tests: they start
// an agent on the simulator and a screen, and ask this program what the panel shows.
//   state            one line of JSON: the link, the labels, the clocks, the first messages
//   shot TAB FILE    the whole window with tab TAB (0..3) current, as a PNG
//   select 0|1 [ADDRESS PASSWORD]   watch the local agent, or a remote one
//   handled CODE     how many records of that code the panel has handled
//   open N           the icon bar's item N (0..9), as a click
//   set FIELD VALUE  in the configuration dialog, the control named FIELD takes VALUE
//   press DIALOG TEXT  the button TEXT of an open dialog (config, schedule, datalist, events);
//                    a value the configuration dialog refuses is answered "refused MESSAGE"
//   add DATE TIME EVENT FREQUENCY [MINUTES]   an entry through the schedule dialog's editor
//   rows DIALOG      one line of JSON: the rows of the data list or the event list
//   print FILE       the event list printed to a PDF file
//   dialog DIALOG FILE   that dialog's window as a PNG
//   quit
// With --copy-data the panel reaches the local agent by copy-data messages.
// Every answer ends with a line "ok" (or "error ..."), so the caller knows it is complete.
#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QTextStream>
#include <cstdio>
#include <iostream>
#include <map>
#include <string>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPrinter>
#include <QSpinBox>

#include "gui/config/cfg_dialog.h"
#include "gui/logs/calendar_dialog.h"
#include "gui/logs/data_list_dialog.h"
#include "gui/logs/event_list_dialog.h"
#include "gui/logs/last_info_dialog.h"
#include "gui/logs/line_printer.h"
#include "gui/panel/main_dialog.h"
#include "gui/panel/remote_list.h"
#include "gui/schedule/control_dialog.h"
#include "gui/schedule/schedule_dialog.h"
#include "gui/schedule/select_sched.h"

using namespace kelvora::panel;

namespace {

void Answer(const QString& text) {
    std::cout << text.toStdString() << "\n" << std::flush;
}

QJsonObject State(const CGUI2Dlg& dialog) {
    QJsonObject o;
    o["linked"] = dialog.linked();
    o["connected"] = dialog.state().connected();
    QJsonObject labels;
    const char* names[kLabelCount] = {"connection", "utility", "battery",   "fault",
                                      "selfTest",   "avr",     "onBattery", "countdown"};
    for (std::size_t i = 0; i < kLabelCount; ++i) {
        QJsonObject l;
        l["text"] = dialog.LabelText(static_cast<Label>(i));
        l["enabled"] = dialog.LabelEnabled(static_cast<Label>(i));
        labels[names[i]] = l;
    }
    o["labels"] = labels;
    o["onBatteryClock"] = dialog.OnBatteryClockText();
    o["countdownClock"] = dialog.CountdownClockText();
    o["acFailPicture"] = dialog.PictureRunning(Picture::AcFail);
    o["pictureMode"] = dialog.state().pictureMode();
    o["inputVoltage"] = dialog.state().status().inputVoltage;
    o["company"] = QString::fromStdString(dialog.state().basic().company);
    QJsonArray messages;
    for (int i = 0; i < dialog.messageList()->count() && i < 10; ++i)
        messages.append(dialog.messageList()->item(i)->text());
    o["messages"] = messages;
    return o;
}

QDialog* DialogNamed(const CGUI2Dlg& dialog, const QString& name) {
    if (name == "config") return dialog.configDialog();
    if (name == "schedule") return dialog.scheduleDialog();
    if (name == "control") return dialog.controlDialog();
    if (name == "datalist") return dialog.dataListDialog();
    if (name == "events") return dialog.eventListDialog();
    if (name == "calendar") return dialog.calendarDialog();
    if (name == "lastinfo") return dialog.lastInfoDialog();
    return nullptr;
}

// Gives the configuration dialog's control `name` the value `text`; false when there is none.
bool SetControl(QDialog& config, const QString& name, const QString& text) {
    QWidget* w = config.findChild<QWidget*>(name);
    if (auto* spin = qobject_cast<QSpinBox*>(w)) {
        spin->setValue(text.toInt());
    } else if (auto* box = qobject_cast<QCheckBox*>(w)) {
        box->setChecked(text == "1");
    } else if (auto* list = qobject_cast<QComboBox*>(w)) {
        list->setCurrentIndex(list->findText(text));
    } else if (auto* line = qobject_cast<QLineEdit*>(w)) {
        line->setText(text);
    } else {
        return false;
    }
    return true;
}

bool Press(QDialog& dialog, const QString& text) {
    for (auto* button : dialog.findChildren<QAbstractButton*>()) {
        if (button->text() == text && button->isVisible()) {
            button->click();
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    Prompts prompts;
    prompts.retryConnect = [](QWidget*) { return false; };
    prompts.chooseUps = [](QWidget*) { return false; };
    prompts.changeWrongPassword = [](QWidget*) { return false; };
    prompts.cannotConnectLocal = [](QWidget*) {};
    const bool copyData = QApplication::arguments().contains("--copy-data");
    CGUI2Dlg dialog(MakePanelRegistry(), prompts,
                    copyData ? CGUI2Dlg::LocalTransport::CopyData : CGUI2Dlg::LocalTransport::Tcp);
    dialog.resize(1024, 740);
    dialog.show();

    // How many records of each code the panel has handled: a test waits for a record's
    // arrival by its count.
    std::map<int, int> handled;
    QObject::connect(&dialog, &CGUI2Dlg::recordHandled, [&](int code) { ++handled[code]; });

    QSocketNotifier input(0, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        std::string line;
        if (!std::getline(std::cin, line)) {
            QApplication::quit();
            return;
        }
        const QStringList words = QString::fromStdString(line).split(' ', Qt::SkipEmptyParts);
        if (words.isEmpty()) return;
        if (words[0] == "state") {
            Answer(QString::fromUtf8(QJsonDocument(State(dialog)).toJson(QJsonDocument::Compact)));
        } else if (words[0] == "shot" && words.size() == 3) {
            dialog.tabs()->setCurrentIndex(words[1].toInt());
            QApplication::processEvents();
            if (!dialog.grab().save(words[2])) {
                Answer("error cannot save " + words[2]);
                return;
            }
        } else if (words[0] == "select" && words.size() >= 2) {
            dialog.Select(words[1].toInt(), words.value(2), words.value(3));
        } else if (words[0] == "handled" && words.size() == 2) {
            Answer(QString::number(handled[words[1].toInt()]));
        } else if (words[0] == "open" && words.size() == 2) {
            dialog.Activate(words[1].toInt());
        } else if (words[0] == "set" && words.size() >= 3) {
            if (!dialog.configDialog() ||
                !SetControl(*dialog.configDialog(), words[1], words.mid(2).join(' '))) {
                Answer("error no control " + words[1]);
                return;
            }
        } else if (words[0] == "press" && words.size() >= 3) {
            QDialog* target = DialogNamed(dialog, words[1]);
            // A value refused is told on a line of its own, not in a box that would wait.
            QString refusal;
            if (auto* config = dialog.configDialog(); config && target == config)
                config->showRangeMessage = [&refusal](QWidget*, const QString& t) { refusal = t; };
            if (!target || !Press(*target, words.mid(2).join(' '))) {
                Answer("error no button " + words.mid(1).join(' '));
                return;
            }
            if (!refusal.isEmpty()) Answer("refused " + refusal);
        } else if (words[0] == "add" && words.size() >= 5 && dialog.scheduleDialog()) {
            // The editor answers as a user would: the time typed, the event and the frequency
            // chosen, OK.
            const QString date = words[1], time = words[2];
            const int event = words[3].toInt(), frequency = words[4].toInt();
            const int minutes = words.value(5, "1").toInt();
            CDlgSchedule& schedule = *dialog.scheduleDialog();
            schedule.dateEdit()->setText(date);
            schedule.runEditor = [=](CSelectSched& editor) {
                editor.timeEdit()->setText(time);
                editor.eventButton(event)->setChecked(true);
                editor.frequencyButton(frequency)->setChecked(true);
                editor.minutesSpin()->setValue(minutes);
                editor.accept();
                return editor.result() == QDialog::Accepted;
            };
            if (!Press(schedule, QString::fromUtf8("增加"))) {
                Answer("error no add button");
                return;
            }
        } else if (words[0] == "rows" && words.size() == 2) {
            QJsonArray rows;
            if (words[1] == "datalist" && dialog.dataListDialog()) {
                const CDlgDataList& list = *dialog.dataListDialog();
                for (int r = 0; r < list.rowCount(); ++r) rows.append(list.cellText(r, 1));
            } else if (words[1] == "events" && dialog.eventListDialog()) {
                const CDlgLog& list = *dialog.eventListDialog();
                for (int r = 0; r < list.rowCount(); ++r) rows.append(list.cellText(r, 2));
            } else {
                Answer("error no list " + words[1]);
                return;
            }
            Answer(QString::fromUtf8(QJsonDocument(rows).toJson(QJsonDocument::Compact)));
        } else if (words[0] == "print" && words.size() == 2 && dialog.eventListDialog()) {
            CDlgLog& list = *dialog.eventListDialog();
            const QString file = words[1];
            list.printer.choosePrinter = [file](QPrinter& printer) {
                printer.setOutputFormat(QPrinter::PdfFormat);
                printer.setOutputFileName(file);
                return true;
            };
            list.printer.tell = [](const QString& note) {
                std::cerr << note.toStdString() << "\n";
            };
            if (!Press(list, QString::fromUtf8("列印"))) {
                Answer("error no print button");
                return;
            }
        } else if (words[0] == "dialog" && words.size() == 3) {
            QDialog* target = DialogNamed(dialog, words[1]);
            if (!target || !target->grab().save(words[2])) {
                Answer("error cannot save " + words[2]);
                return;
            }
        } else if (words[0] == "quit") {
            dialog.close();
            QApplication::quit();
        } else {
            Answer("error unknown: " + words[0]);
            return;
        }
        Answer("ok");
    });
    return QApplication::exec();
}
