#include "gui/schedule/schedule_dialog.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <ctime>

#include "gui/schedule/schedule_text.h"
#include "ups_lib/trace.h"

namespace kelvora::panel {

namespace {

// The fields under the list, top to bottom, and the event each one shows.
struct NextField {
    const char* label;
    std::uint16_t event;
};
constexpr NextField kNextFields[] = {
    {"下次預定關機時間", ups::kShutdown},
    {"下次預定開機時間", ups::kSwitchOn},
    {"下次自我測試時間", ups::kSelfTest},
};

std::string Printf(const char* format, auto... args) {
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, format, args...);
    return buffer;
}

QLineEdit* MakeNextField(QWidget* parent) {
    auto* field = new QLineEdit(parent);
    field->setReadOnly(true);
    field->setFocusPolicy(Qt::NoFocus);
    QPalette pal = field->palette();
    pal.setColor(QPalette::Text, QColor(0, 0, 128));
    pal.setColor(QPalette::Base, QColor(255, 251, 240));
    field->setPalette(pal);
    field->setMinimumWidth(
        field->fontMetrics().horizontalAdvance(QStringLiteral("0000/00/00 00:00 PM")) + 16);
    return field;
}

QPushButton* MakeButton(const QString& text, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    // Enter in the date field views that date; it must not also press a button that closes.
    button->setAutoDefault(false);
    return button;
}

}  // namespace

CDlgSchedule::CDlgSchedule(std::function<std::int64_t()> now, QWidget* parent)
    : QDialog(parent), now_(std::move(now)) {
    if (!now_) now_ = [] { return static_cast<std::int64_t>(std::time(nullptr)); };
    runEditor = [](CSelectSched& editor) { return editor.exec() == QDialog::Accepted; };
    viewed_ = StartOfDay(now_());

    setWindowTitle(QStringLiteral("工作排程"));
    setModal(false);

    auto* prev = new QToolButton(this);
    prev->setObjectName(QStringLiteral("prev"));
    prev->setIcon(style()->standardIcon(QStyle::SP_ArrowLeft));
    auto* next = new QToolButton(this);
    next->setObjectName(QStringLiteral("next"));
    next->setIcon(style()->standardIcon(QStyle::SP_ArrowRight));
    date_ = new QLineEdit(this);
    date_->setObjectName(QStringLiteral("date"));
    date_->setMaxLength(11);
    date_->setMaximumWidth(date_->fontMetrics().horizontalAdvance(QStringLiteral("0000/00/000")) +
                           16);
    connect(prev, &QToolButton::clicked, this, &CDlgSchedule::showPrevious);
    connect(next, &QToolButton::clicked, this, &CDlgSchedule::showNext);
    connect(date_, &QLineEdit::returnPressed, this, [this] {
        ReadDateEdit();
        RefreshViewedDay();
    });

    auto* all = MakeButton(QStringLiteral("列出全部"), this);
    auto* add = MakeButton(QStringLiteral("增加"), this);
    auto* remove = MakeButton(QStringLiteral("刪除"), this);
    connect(all, &QPushButton::clicked, this, &CDlgSchedule::listAll);
    connect(add, &QPushButton::clicked, this, &CDlgSchedule::addEntry);
    connect(remove, &QPushButton::clicked, this, &CDlgSchedule::removeEntry);

    list_ = new QListWidget(this);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setMinimumWidth(list_->fontMetrics().horizontalAdvance(QStringLiteral(
                               "00:00 PM  0000/00/00  Wednesday << Self-Test till Battery Low >> "
                               "Monthly")) +
                           24);

    auto* times = new QGridLayout;
    for (int row = 0; row < 3; ++row) {
        QLineEdit* field = MakeNextField(this);
        auto* label = new QLabel(QString::fromUtf8(kNextFields[row].label), this);
        label->setBuddy(field);
        next_[kNextFields[row].event] = field;
        times->addWidget(label, row, 0);
        times->addWidget(field, row, 1);
    }
    times->setColumnStretch(2, 1);

    auto* save = MakeButton(QStringLiteral("儲存"), this);
    auto* cancel = MakeButton(QStringLiteral("取消"), this);
    connect(save, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* dateRow = new QHBoxLayout;
    dateRow->addWidget(prev);
    dateRow->addWidget(date_);
    dateRow->addWidget(new QLabel(QStringLiteral("(YYYY/MM/DD)"), this));
    dateRow->addWidget(next);
    dateRow->addStretch();
    dateRow->addWidget(all);
    dateRow->addWidget(add);
    dateRow->addWidget(remove);
    auto* closeRow = new QHBoxLayout;
    closeRow->addStretch();
    closeRow->addWidget(save);
    closeRow->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(dateRow);
    layout->addWidget(list_, 1);
    layout->addLayout(times);
    layout->addLayout(closeRow);

    RefreshViewedDay();
}

QStringList CDlgSchedule::shownLines() const {
    QStringList lines;
    for (int i = 0; i < list_->count(); ++i) lines << list_->item(i)->text();
    return lines;
}

QString CDlgSchedule::nextText(int event) const {
    if (event < 0 || event > 2) return {};
    return next_[event]->text();
}

void CDlgSchedule::Rebuild(const ups::CSchedule& schedule) {
    all_ = schedule.Entries();
    int index = 0;
    for (const auto& e : all_) {
        ups::Trace(Printf("sched list %s", Printf("%d ) %s %s freq-%d type-%d nanno-%d\n", index++,
                                                  FormatLocal(e.time, "%Y/%m/%d").c_str(),
                                                  FormatLocal(e.time, "%I:%M %p").c_str(),
                                                  e.frequency, e.event, e.testLength)
                                               .c_str()));
    }
    SetNextTimes(schedule);
    RefreshViewedDay();
}

void CDlgSchedule::SetNextTimes(const ups::CSchedule& schedule) {
    static constexpr const char* kTraces[3] = {"TURNON %s %s\n", "TURNOFF %s %s\n", "TEST %s %s\n"};
    const std::int64_t now = now_();
    for (std::uint16_t event = 0; event < 3; ++event) {
        ups::CScheduleDetail entry;
        const std::int64_t t = schedule.NextTime(event, entry, now);
        if (t <= 0) {
            next_[event]->clear();
            continue;
        }
        const std::string date = FormatLocal(t, "%Y/%m/%d");
        const std::string time = FormatLocal(t, "%I:%M %p");
        ups::Trace(Printf(kTraces[event], date.c_str(), time.c_str()));
        next_[event]->setText(QString::fromStdString(NextTimeText(t)));
    }
}

void CDlgSchedule::ReadDateEdit() {
    viewed_ = ParseDateEdit(date_->text().toStdString(), now_());
}

void CDlgSchedule::Step(int days) {
    ReadDateEdit();
    const std::int64_t moved = AddDays(viewed_, days);
    // At the edge of what an entry can hold the view stays put rather than wrapping.
    if (DayFitsEntry(moved)) viewed_ = moved;
    RefreshViewedDay();
}

void CDlgSchedule::showPrevious() {
    Step(-1);
}

void CDlgSchedule::showNext() {
    Step(1);
}

void CDlgSchedule::RefreshViewedDay() {
    date_->setText(QString::fromStdString(FormatLocal(viewed_, "%Y/%m/%d")));
    list_->clear();
    shown_.clear();
    for (const auto& e : all_) {
        if (ShowsOn(e, viewed_)) Append(e);
    }
}

void CDlgSchedule::listAll() {
    list_->clear();
    shown_.clear();
    for (const auto& e : all_) Append(e);
}

void CDlgSchedule::Append(const ups::CScheduleDetail& entry) {
    list_->addItem(QString::fromStdString(EntryLine(entry)));
    shown_.push_back(entry);
}

void CDlgSchedule::addEntry() {
    ReadDateEdit();
    // The field shows the day the entry goes on, also when what was typed was no date.
    date_->setText(QString::fromStdString(FormatLocal(viewed_, "%Y/%m/%d")));
    CSelectSched editor(now_(), this);
    if (!runEditor || !runEditor(editor)) return;
    const ups::CScheduleDetail entry =
        BuildEntry(editor.eventRadio(), editor.frequency(), editor.minutes(), viewed_,
                   editor.hour(), editor.minute());
    ups::Trace(Printf("ScheduleDetail contents  freq %d  event %d  nanno %d\n", entry.frequency,
                      entry.event, entry.testLength));
    // The line and its entry go in together, so that a later delete of this line removes this
    // entry even before the main dialog has rebuilt the lists.
    Append(entry);
    all_.push_back(entry);
    emit entryAdded(entry);
}

void CDlgSchedule::removeEntry() {
    const int row = list_->currentRow();
    if (row < 0 || list_->selectedItems().isEmpty()) return;
    ups::Trace(Printf("current selection %d\n", row));
    delete list_->takeItem(row);
    if (row >= static_cast<int>(shown_.size())) {
        ups::Trace("pos == NULL\n");
        return;
    }
    const ups::CScheduleDetail entry = shown_[row];
    shown_.erase(shown_.begin() + row);
    if (const auto it = std::find(all_.begin(), all_.end(), entry); it != all_.end())
        all_.erase(it);
    ups::Trace(Printf("remove this %s\n", EntryLine(entry).c_str()));
    emit entryRemoved(entry);
}

void CDlgSchedule::done(int result) {
    // Every way out (the two buttons, Escape, the title bar's close) ends here. The main
    // dialog may delete this dialog from its closing slot.
    const QPointer<CDlgSchedule> self(this);
    emit closing();
    if (self) QDialog::done(result);
}

void CDlgSchedule::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Each opening starts on today, as the date field shows it.
    if (!event->spontaneous()) {
        viewed_ = StartOfDay(now_());
        RefreshViewedDay();
    }
}

}  // namespace kelvora::panel
