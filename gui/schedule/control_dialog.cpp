#include "gui/schedule/control_dialog.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace kelvora::panel {

namespace {

struct CommandText {
    const char* label;
    const char* question;
};

// In ControlCommand order.
constexpr CommandText kCommands[kControlCommandCount] = {
    {"UPS自我測試10秒鐘", "Perform 10 Seconds UPS Self-Test?"},
    {"UPS自我測試", "Perform UPS Self-Test?"},
    {"UPS自我測試到低電位後停止", "UPS Self-Test till Battery Low.\nContinue?"},
    {"取消UPS自我測試", "Cancel UPS Self-Test?"},
    {"UPS嗶聲關/開", "Toggle Beep?"},
    {"關閉Windows", "Shutdown Windows and UPS?"},
};

QIcon Picture(int command, bool pressed, qreal ratio) {
    QIcon icon;
    icon.addPixmap(ControlPicture(command, pressed, 1.0));
    if (ratio > 1.0) icon.addPixmap(ControlPicture(command, pressed, ratio));
    return icon;
}

}  // namespace

CDlgControl::CDlgControl(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("對UPS直接控制"));
    setModal(false);
    ask = [this](const QString& question) {
        return QMessageBox::question(this, windowTitle(), question,
                                     QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    };

    spin_ = new MinutesSpin(MinutesSpin::kStepMinimum, 2, this);
    spin_->setObjectName(QStringLiteral("minutes"));

    auto* grid = new QGridLayout;
    for (int c = 0; c < kControlCommandCount; ++c) {
        auto* icon = new QToolButton(this);
        icon->setAutoRaise(true);
        icon->setIconSize(QSize(kControlIconSize, kControlIconSize));
        icon->setIcon(Picture(c, false, devicePixelRatioF()));
        connect(icon, &QToolButton::clicked, this, [this, c] { run(c); });
        icons_[c] = icon;

        auto* label = new QLabel(QString::fromUtf8(kCommands[c].label), this);
        label->setBuddy(icon);
        grid->addWidget(icon, c, 0);
        if (c != kControlTestMinutes) {
            grid->addWidget(label, c, 1);
            continue;
        }
        // The timed test's length sits on its own line, where the user reads the command.
        auto* row = new QHBoxLayout;
        row->addWidget(label);
        row->addWidget(spin_);
        row->addWidget(new QLabel(QStringLiteral("分"), this));
        row->addStretch();
        grid->addLayout(row, c, 1);
    }
    grid->setColumnStretch(1, 1);

    auto* ok = new QPushButton(QStringLiteral("確定"), this);
    ok->setAutoDefault(false);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);
}

QString CDlgControl::Question(int command) {
    if (command < 0 || command >= kControlCommandCount) return {};
    return QString::fromUtf8(kCommands[command].question);
}

QToolButton* CDlgControl::iconButton(int command) const {
    if (command < 0 || command >= kControlCommandCount) return nullptr;
    return icons_[command];
}

void CDlgControl::run(int command) {
    if (command < 0 || command >= kControlCommandCount) return;
    QToolButton* icon = icons_[command];
    const qreal ratio = devicePixelRatioF();
    icon->setIcon(Picture(command, true, ratio));
    // The length the user typed counts even before the field has given it up.
    spin_->interpretText();
    const int minutes = spin_->value();
    const bool yes = ask && ask(Question(command));
    icon->setIcon(Picture(command, false, ratio));
    if (!yes) return;
    switch (command) {
        case kControlTest10Seconds:
            emit test10Seconds();
            break;
        case kControlTestMinutes:
            emit testMinutes(minutes);
            break;
        case kControlTestUntilLow:
            emit testUntilLow();
            break;
        case kControlCancelTest:
            emit cancelTest();
            break;
        case kControlToggleBeeper:
            emit toggleBeeper();
            break;
        default:
            emit shutDown();
            break;
    }
}

}  // namespace kelvora::panel
