#include "gui/logs/event_list_dialog.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "gui/logs/csv_file.h"
#include "gui/logs/log_icons.h"
#include "gui/logs/log_lines.h"
#include "ups_lib/trace.h"

namespace kelvora::panel {

namespace {

constexpr int kIconRole = Qt::UserRole + 1;

}  // namespace

CDlgLog::CDlgLog(QWidget* parent) : QDialog(parent), printer(this), printLines_(EventListHeader()) {
    setWindowTitle(QStringLiteral("事件記錄檔"));

    table_ = new QTreeWidget;
    table_->setRootIsDecorated(false);
    table_->setUniformRowHeights(true);
    table_->setIconSize(QSize(16, 16));
    table_->setHeaderLabels(
        {QStringLiteral("日期"), QStringLiteral("時間"), QStringLiteral("描述")});
    table_->setColumnWidth(0, 130);
    table_->setColumnWidth(1, 110);
    table_->header()->setStretchLastSection(true);

    auto* clear = new QPushButton(QStringLiteral("清除"));
    auto* print = new QPushButton(QStringLiteral("列印"));
    auto* csv = new QPushButton(QStringLiteral("另存CSV"));
    auto* leave = new QPushButton(QStringLiteral("離開"));
    clear->setObjectName(QStringLiteral("clear"));
    print->setObjectName(QStringLiteral("print"));
    csv->setObjectName(QStringLiteral("csv"));
    leave->setObjectName(QStringLiteral("leave"));
    for (QPushButton* b : {clear, print, csv, leave}) b->setAutoDefault(false);
    connect(clear, &QPushButton::clicked, this, &CDlgLog::Clear);
    connect(print, &QPushButton::clicked, this,
            [this] { printer.Print(printLines_, kEventListX); });
    connect(csv, &QPushButton::clicked, this, &CDlgLog::SaveCsv);
    connect(leave, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(clear);
    buttons->addWidget(print);
    buttons->addWidget(csv);
    buttons->addStretch();
    buttons->addWidget(leave);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(table_, 1);
    layout->addLayout(buttons);
    resize(620, 520);

    confirm = [this](const QString& question) {
        return QMessageBox::question(this, windowTitle(), question,
                                     QMessageBox::Ok | QMessageBox::Cancel,
                                     QMessageBox::Cancel) == QMessageBox::Ok;
    };
    chooseCsvFile = [this] {
        return QFileDialog::getSaveFileName(this, QStringLiteral("另存CSV"),
                                            QStringLiteral("eventlog.csv"),
                                            QStringLiteral("CSV (*.csv)"));
    };
    tell = [this](const QString& text) { QMessageBox::warning(this, windowTitle(), text); };
}

void CDlgLog::Reset() {
    printLines_ = EventListHeader();
}

void CDlgLog::Fill(const std::vector<ups::CEventLogRecord>& records) {
    // Replacing rather than appending: asking again while open must not list the log twice.
    records_ = records;
    printLines_ = EventListHeader();
    printLines_.reserve(printLines_.size() + records.size());
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(records.size()));
    QPixmap empty(16, 16);
    empty.fill(Qt::transparent);
    const QIcon blank(empty);
    int n = 0;
    for (const auto& r : records) {
        const EventRow row = MakeEventRow(r);
        auto* item =
            new QTreeWidgetItem({QString::fromStdString(row.date), QString::fromStdString(row.time),
                                 QString::fromStdString(row.description)});
        // A record of no known type keeps an empty place, so its date lines up with the rest.
        item->setIcon(0, row.icon >= 0 ? EventTypeIcon(row.icon) : blank);
        item->setData(0, kIconRole, row.icon);
        items << item;
        printLines_.push_back(EventPrintLine(r, n++));
    }
    table_->clear();
    table_->addTopLevelItems(items);
    ups::Trace("update event log\n");
}

int CDlgLog::rowCount() const {
    return table_->topLevelItemCount();
}

QString CDlgLog::cellText(int row, int column) const {
    const QTreeWidgetItem* item = table_->topLevelItem(row);
    return item != nullptr ? item->text(column) : QString();
}

int CDlgLog::rowIcon(int row) const {
    const QTreeWidgetItem* item = table_->topLevelItem(row);
    return item != nullptr ? item->data(0, kIconRole).toInt() : -1;
}

void CDlgLog::done(int result) {
    QDialog::done(result);
    emit closed();
}

void CDlgLog::Clear() {
    if (!confirm || !confirm(QStringLiteral("Clear all Event Log?"))) return;
    table_->clear();
    records_.clear();
    emit clearRequested();
}

void CDlgLog::SaveCsv() {
    const QString path = chooseCsvFile ? chooseCsvFile() : QString();
    if (path.isEmpty()) return;
    QString error;
    if (!SaveTextFile(path, EventCsv(records_), &error) && tell) {
        tell(QStringLiteral("無法儲存 %1: %2").arg(path, error));
    }
}

}  // namespace kelvora::panel
