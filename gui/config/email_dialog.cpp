#include "gui/config/email_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace kelvora::panel {

CDlgEmail::CDlgEmail(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("電子郵件"));
    setModal(true);
    auto* box = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("電子郵件伺服器IP地址 :"), this), 0, 0);
    serverField_ = MakeNotifyField(this);
    grid->addWidget(serverField_, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("電子郵件地址"), this), 1, 1);
    AddNotifyCaptions(grid, 2, 0, this);
    for (std::size_t k = 0; k < fields_.size(); ++k) {
        fields_[k] = MakeNotifyField(this);
        grid->addWidget(fields_[k], 2 + static_cast<int>(k), 1);
    }
    grid->setColumnStretch(1, 1);
    box->addLayout(grid);

    box->addWidget(MakeCancelOk(this));
    ShowStored();
}

void CDlgEmail::LoadServer(const std::string& server) {
    server_ = server;
    serverField_->setText(QString::fromStdString(server_));
}

void CDlgEmail::LoadAddresses(const NotifyTexts& addresses) {
    addresses_ = addresses;
    ShowFields(fields_, addresses_);
}

void CDlgEmail::ShowStored() {
    serverField_->setText(QString::fromStdString(server_));
    ShowFields(fields_, addresses_);
}

void CDlgEmail::accept() {
    server_ = serverField_->text().toStdString();
    addresses_ = ReadFields(fields_);
    emit stored(server_, addresses_);
    QDialog::accept();
}

void CDlgEmail::reject() {
    ShowStored();
    QDialog::reject();
}

}  // namespace kelvora::panel
