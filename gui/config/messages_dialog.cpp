#include "gui/config/messages_dialog.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace kelvora::panel {

CDlgMessages::CDlgMessages(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("設定警告與電子郵件訊息"));
    setModal(true);
    auto* box = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    AddNotifyCaptions(grid, 0, 0, this);
    for (std::size_t k = 0; k < fields_.size(); ++k) {
        fields_[k] = MakeNotifyField(this);
        grid->addWidget(fields_[k], static_cast<int>(k), 1);
    }
    grid->setColumnStretch(1, 1);
    box->addLayout(grid);

    auto* buttons = MakeCancelOk(this);
    auto* defaults = buttons->addButton(QStringLiteral("預設值"), QDialogButtonBox::ResetRole);
    defaults->setObjectName(QStringLiteral("defaults"));
    connect(defaults, &QPushButton::clicked, this, &CDlgMessages::ShowStored);
    box->addWidget(buttons);
    ShowStored();
}

void CDlgMessages::Load(const NotifyTexts& texts) {
    texts_ = texts;
    ShowStored();
}

void CDlgMessages::ShowStored() {
    ShowFields(fields_, texts_);
}

void CDlgMessages::accept() {
    texts_ = typed();
    emit stored(texts_);
    QDialog::accept();
}

void CDlgMessages::reject() {
    ShowStored();
    QDialog::reject();
}

}  // namespace kelvora::panel
