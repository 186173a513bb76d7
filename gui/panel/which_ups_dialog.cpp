#include "which_ups_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>

namespace kelvora::panel {

CDlgWhichUPS::CDlgWhichUPS(ups::platform::Registry& registry, int localRemote, QWidget* parent)
    : QDialog(parent), registry_(registry), localRemote_(localRemote) {
    setWindowTitle(QString::fromUtf8("選擇UPS所在位置"));
    auto* layout = new QVBoxLayout(this);
    auto* local = new QRadioButton(QString::fromUtf8("監控本端 UPS"), this);
    auto* remote = new QRadioButton(QString::fromUtf8("監控遠端 UPS"), this);
    choice_ = new QButtonGroup(this);
    choice_->addButton(local, 0);
    choice_->addButton(remote, 1);
    list_ = new QComboBox(this);
    list_->setMinimumWidth(320);
    edit_ = new QPushButton(QString::fromUtf8("更改資料"), this);
    layout->addWidget(local);
    layout->addWidget(remote);
    layout->addWidget(list_);
    layout->addWidget(edit_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(choice_, &QButtonGroup::idClicked, this, &CDlgWhichUPS::SetLocalRemote);
    connect(edit_, &QPushButton::clicked, this, &CDlgWhichUPS::EditList);
    address_ = QString::fromStdString(ReadString(registry_, kPanelConfigKey, "RemoteIPAddress"));
    Fill();
    SetLocalRemote(localRemote_);
}

void CDlgWhichUPS::SetLocalRemote(int value) {
    localRemote_ = value == 1 ? 1 : 0;
    choice_->button(localRemote_)->setChecked(true);
    list_->setEnabled(localRemote_ == 1);
    edit_->setEnabled(localRemote_ == 1);
}

void CDlgWhichUPS::Fill() {
    entries_ = ReadRemoteList(registry_);
    list_->clear();
    int selected = 0;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const auto& e = entries_[i];
        list_->addItem(QStringLiteral("(%1) %2").arg(QString::fromStdString(e.name),
                                                     QString::fromStdString(e.address)));
        if (QString::fromStdString(e.address) == address_) selected = static_cast<int>(i);
    }
    if (!entries_.empty()) list_->setCurrentIndex(selected);
}

void CDlgWhichUPS::EditList() {
    CDlgRemoteUPS editor(registry_, this);
    editor.exec();
    Fill();
}

void CDlgWhichUPS::accept() {
    const int at = list_->currentIndex();
    if (at >= 0 && static_cast<std::size_t>(at) < entries_.size()) {
        address_ = QString::fromStdString(entries_[static_cast<std::size_t>(at)].address);
        password_ = QString::fromStdString(entries_[static_cast<std::size_t>(at)].password);
        WriteString(registry_, kPanelConfigKey, "RemoteIPAddress", address_.toStdString());
    }
    QDialog::accept();
}

CDlgRemoteUPS::CDlgRemoteUPS(ups::platform::Registry& registry, QWidget* parent)
    : QDialog(parent), registry_(registry) {
    setWindowTitle(QString::fromUtf8("選擇遠端 UPS"));
    auto* layout = new QGridLayout(this);
    names_ = new QListWidget(this);
    layout->addWidget(names_, 0, 0, 5, 1);
    auto* form = new QFormLayout;
    name_ = new QLineEdit(this);
    address_ = new QLineEdit(this);
    location_ = new QLineEdit(this);
    password_ = new QLineEdit(this);
    password_->setEchoMode(QLineEdit::Password);
    form->addRow(QString::fromUtf8("UPS 名稱"), name_);
    form->addRow(QString::fromUtf8("IP  地址"), address_);
    form->addRow(QString::fromUtf8("UPS 座落"), location_);
    form->addRow(QString::fromUtf8("密碼 :"), password_);
    layout->addLayout(form, 0, 1);
    const char* texts[4] = {"插入", "刪除", "更新", "離開"};
    for (int i = 0; i < 4; ++i) {
        auto* button = new QPushButton(QString::fromUtf8(texts[i]), this);
        layout->addWidget(button, 1 + i, 1);
        connect(button, &QPushButton::clicked, this, [this, i] {
            switch (i) {
                case 0:
                    Insert();
                    break;
                case 1:
                    Delete();
                    break;
                case 2:
                    Update();
                    break;
                default:
                    accept();
            }
        });
    }
    connect(names_, &QListWidget::currentRowChanged, this, &CDlgRemoteUPS::OnSelection);
    entries_ = ReadRemoteList(registry_);
    for (const auto& e : entries_) names_->insertItem(0, QString::fromStdString(e.name));
    names_->setCurrentRow(-1);
    SetFields({"UPS Name", "127.0.0.1", "UPS Location", ""});
}

int CDlgRemoteUPS::RowOf(std::size_t position) const {
    return static_cast<int>(entries_.size()) - 1 - static_cast<int>(position);
}

void CDlgRemoteUPS::SetFields(const RemoteUpsEntry& e) {
    name_->setText(QString::fromStdString(e.name));
    address_->setText(QString::fromStdString(e.address));
    location_->setText(QString::fromStdString(e.location));
    password_->setText(QString::fromStdString(e.password));
}

RemoteUpsEntry CDlgRemoteUPS::Fields() const {
    return {name_->text().toStdString(), address_->text().toStdString(),
            location_->text().toStdString(), password_->text().toStdString()};
}

void CDlgRemoteUPS::OnSelection() {
    const int row = names_->currentRow();
    if (row < 0) return;
    const auto position = static_cast<std::size_t>(RowOf(static_cast<std::size_t>(row)));
    if (position < entries_.size()) SetFields(entries_[position]);
}

void CDlgRemoteUPS::Insert() {
    const RemoteUpsEntry e = Fields();
    if (e.name.empty() || entries_.size() >= kMaxRemoteEntries) return;
    names_->blockSignals(true);
    names_->insertItem(0, QString::fromStdString(e.name));
    names_->blockSignals(false);
    entries_.push_back(e);
    SetFields({});
}

void CDlgRemoteUPS::Delete() {
    const int row = names_->currentRow();
    if (row < 0 || row >= static_cast<int>(entries_.size())) return;
    const auto position = static_cast<std::size_t>(RowOf(static_cast<std::size_t>(row)));
    names_->blockSignals(true);
    delete names_->takeItem(row);
    names_->setCurrentRow(-1);
    names_->blockSignals(false);
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(position));
}

void CDlgRemoteUPS::Update() {
    const RemoteUpsEntry e = Fields();
    Delete();
    SetFields(e);
    Insert();
}

void CDlgRemoteUPS::accept() {
    WriteRemoteList(registry_, entries_);
    WriteString(registry_, kPanelConfigKey, "Password", password_->text().toStdString());
    QDialog::accept();
}

}  // namespace kelvora::panel
