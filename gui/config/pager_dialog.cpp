#include "gui/config/pager_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace kelvora::panel {

CDlgPager::CDlgPager(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("設定呼叫器號碼與傳送碼"));
    setModal(true);
    auto* box = new QVBoxLayout(this);
    auto* portRow = new QHBoxLayout;
    auto* portLabel = new QLabel(QStringLiteral("數據機連接串列通訊埠"), this);
    portList_ = new QComboBox(this);
    for (int p = 1; p <= kPorts; ++p) portList_->addItem(QStringLiteral("COM %1").arg(p));
    portLabel->setBuddy(portList_);
    portRow->addWidget(portLabel);
    portRow->addWidget(portList_);
    portRow->addStretch(1);
    box->addLayout(portRow);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("呼叫器號碼"), this), 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("傳送碼"), this), 0, 2);
    AddNotifyCaptions(grid, 1, 0, this);
    for (std::size_t k = 0; k < numberFields_.size(); ++k) {
        numberFields_[k] = MakeNotifyField(this);
        codeFields_[k] = MakeNotifyField(this);
        grid->addWidget(numberFields_[k], 1 + static_cast<int>(k), 1);
        grid->addWidget(codeFields_[k], 1 + static_cast<int>(k), 2);
    }
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(2, 1);
    box->addLayout(grid);

    box->addWidget(MakeCancelOk(this));
    ShowStored();
}

void CDlgPager::LoadPort(int port) {
    port_ = port >= 0 && port < kPorts ? port : 0;
    portList_->setCurrentIndex(port_);
}

void CDlgPager::LoadPairs(const NotifyTexts& numbers, const NotifyTexts& codes) {
    numbers_ = numbers;
    codes_ = codes;
    ShowFields(numberFields_, numbers_);
    ShowFields(codeFields_, codes_);
}

void CDlgPager::ShowStored() {
    portList_->setCurrentIndex(port_);
    ShowFields(numberFields_, numbers_);
    ShowFields(codeFields_, codes_);
}

void CDlgPager::accept() {
    port_ = portList_->currentIndex() >= 0 ? portList_->currentIndex() : 0;
    numbers_ = ReadFields(numberFields_);
    codes_ = ReadFields(codeFields_);
    emit stored(port_, numbers_, codes_);
    QDialog::accept();
}

void CDlgPager::reject() {
    ShowStored();
    QDialog::reject();
}

}  // namespace kelvora::panel
