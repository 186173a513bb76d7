#include "gui/schedule/select_sched.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/schedule/schedule_text.h"

namespace kelvora::panel {

namespace {

// Longer than any time a user means; the reading looks at no more than this either.
constexpr int kTimeEditChars = 30;

}  // namespace

CSelectSched::CSelectSched(std::int64_t now, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("工作排程"));
    setModal(true);

    time_ = new QLineEdit(QString::fromStdString(FormatLocal(now, "%I:%M %p")), this);
    time_->setObjectName(QStringLiteral("time"));
    time_->setMaxLength(kTimeEditChars);
    time_->setMaximumWidth(time_->fontMetrics().horizontalAdvance(QStringLiteral("00:00 PMM")) +
                           16);

    auto* eventBox = new QGroupBox(QStringLiteral("工作排程種類"), this);
    auto* eventLayout = new QVBoxLayout(eventBox);
    events_ = new QButtonGroup(this);
    const QString eventCaptions[kEventButtons] = {
        QStringLiteral("開啟 UPS"), QStringLiteral("關閉作業系統與UPS"),
        QStringLiteral("UPS自我測試到低電位後停止"), QStringLiteral("UPS自我測試10秒鐘"),
        QStringLiteral("UPS自我測試")};
    spin_ = new MinutesSpin(0, 1, eventBox);
    spin_->setObjectName(QStringLiteral("minutes"));
    for (int i = 0; i < kEventButtons; ++i) {
        auto* button = new QRadioButton(eventCaptions[i], eventBox);
        events_->addButton(button, i);
        if (i + 1 < kEventButtons) {
            eventLayout->addWidget(button);
            continue;
        }
        // The timed test carries its length on the same line.
        auto* row = new QHBoxLayout;
        row->addWidget(button);
        row->addWidget(spin_);
        row->addWidget(new QLabel(QStringLiteral("分"), eventBox));
        row->addStretch();
        eventLayout->addLayout(row);
    }
    events_->button(0)->setChecked(true);

    auto* frequencyBox = new QGroupBox(QStringLiteral("頻率"), this);
    auto* frequencyLayout = new QVBoxLayout(frequencyBox);
    frequencies_ = new QButtonGroup(this);
    const QString frequencyCaptions[kFrequencyButtons] = {
        QStringLiteral("一次"), QStringLiteral("每天"), QStringLiteral("每週"),
        QStringLiteral("每月")};
    for (int i = 0; i < kFrequencyButtons; ++i) {
        auto* button = new QRadioButton(frequencyCaptions[i], frequencyBox);
        frequencies_->addButton(button, i);
        frequencyLayout->addWidget(button);
    }
    frequencyLayout->addStretch();
    frequencies_->button(0)->setChecked(true);

    auto* ok = new QPushButton(QStringLiteral("確定"), this);
    auto* cancel = new QPushButton(QStringLiteral("取消"), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &CSelectSched::accept);
    connect(cancel, &QPushButton::clicked, this, &CSelectSched::reject);

    auto* groups = new QHBoxLayout;
    groups->addWidget(eventBox, 3);
    groups->addWidget(frequencyBox, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(time_);
    layout->addLayout(groups);
    layout->addLayout(buttons);
}

QRadioButton* CSelectSched::eventButton(int i) const {
    return qobject_cast<QRadioButton*>(events_->button(i));
}

QRadioButton* CSelectSched::frequencyButton(int i) const {
    return qobject_cast<QRadioButton*>(frequencies_->button(i));
}

void CSelectSched::accept() {
    const TimeOfDay t = ParseTimeEdit(time_->text().toStdString());
    hour_ = t.hour;
    minute_ = t.minute;
    // Text typed but not yet confirmed in the field still counts.
    spin_->interpretText();
    minutes_ = spin_->value();
    QDialog::accept();
}

}  // namespace kelvora::panel
