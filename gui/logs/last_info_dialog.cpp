#include "gui/logs/last_info_dialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

#include "ups_lib/trace.h"

namespace kelvora::panel {

CDlgLastInfo::CDlgLastInfo(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("上次關機儲存之應用程式"));
    apps_ = new QListWidget;
    files_ = new QListWidget;
    auto* ok = new QPushButton(QStringLiteral("確定"));
    ok->setObjectName(QStringLiteral("ok"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(apps_, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row < 0) return;
        emit applicationSelected(row);
        ShowFiles(row);
    });

    auto* layout = new QGridLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("儲存之應用程式")), 0, 0);
    layout->addWidget(new QLabel(QStringLiteral("相關檔案儲存位置")), 0, 1);
    layout->addWidget(apps_, 1, 0);
    layout->addWidget(files_, 1, 1);
    layout->setColumnStretch(0, 2);
    layout->setColumnStretch(1, 3);
    layout->addWidget(ok, 2, 1, Qt::AlignRight);
    resize(640, 400);
}

void CDlgLastInfo::Fill(const ups::CCloseInfo& info) {
    info_ = info;
    files_->clear();
    apps_->clear();
    for (std::size_t i = 0; i < info_.apps.size(); ++i) {
        ups::Trace("App Name - " + info_.apps[i] + "\n");
        if (i < info_.files.size()) {
            for (const std::string& f : info_.files[i]) {
                ups::Trace("file name: " + f);
                ups::Trace("App Tmp File - " + f + "\n");
            }
        }
        apps_->addItem(QString::fromStdString(info_.apps[i]));
    }
}

void CDlgLastInfo::ShowFiles(int index) {
    files_->clear();
    ups::Trace("last info changed " + std::to_string(index) + "\n");
    // The file lists come from the agent and may be shorter than the application list.
    if (index < 0 || static_cast<std::size_t>(index) >= info_.files.size()) return;
    for (const std::string& f : info_.files[static_cast<std::size_t>(index)]) {
        files_->addItem(QString::fromStdString(f));
    }
}

QStringList CDlgLastInfo::applications() const {
    QStringList out;
    for (int i = 0; i < apps_->count(); ++i) out << apps_->item(i)->text();
    return out;
}

QStringList CDlgLastInfo::files() const {
    QStringList out;
    for (int i = 0; i < files_->count(); ++i) out << files_->item(i)->text();
    return out;
}

void CDlgLastInfo::done(int result) {
    QDialog::done(result);
    emit closed();
}

}  // namespace kelvora::panel
