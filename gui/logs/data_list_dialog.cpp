#include "gui/logs/data_list_dialog.h"

#include <algorithm>

#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineSeries>
#include <QMessageBox>
#include <QPushButton>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QValueAxis>

#include "gui/logs/csv_file.h"
#include "gui/logs/log_lines.h"
#include "ups_lib/trace.h"

namespace kelvora::panel {

namespace {

enum Trace { kInput, kOutput, kLoad, kCapacity };

}  // namespace

CDlgDataList::CDlgDataList(QWidget* parent)
    : QDialog(parent), printer(this), printLines_(DataListHeader()) {
    setWindowTitle(QStringLiteral("UPS數據資料"));

    table_ = new QTreeWidget;
    table_->setRootIsDecorated(false);
    table_->setUniformRowHeights(true);
    table_->setAlternatingRowColors(true);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setHeaderLabels({QStringLiteral("#"), QStringLiteral("時間"),
                             QStringLiteral("輸入電壓"), QStringLiteral("輸出電壓"),
                             QStringLiteral("頻率"), QStringLiteral("UPS負載"),
                             QStringLiteral("電池容量"), QStringLiteral("溫度")});
    table_->header()->setStretchLastSection(false);
    table_->installEventFilter(this);

    chart_ = new QChart;
    chart_->legend()->setAlignment(Qt::AlignBottom);
    timeAxis_ = new QDateTimeAxis;
    timeAxis_->setFormat(QStringLiteral("MM/dd hh:mm"));
    timeAxis_->setTickCount(5);
    voltAxis_ = new QValueAxis;
    voltAxis_->setTitleText(QStringLiteral("V"));
    voltAxis_->setLabelFormat(QStringLiteral("%d"));
    voltAxis_->setTickCount(6);
    percentAxis_ = new QValueAxis;
    percentAxis_->setTitleText(QStringLiteral("%"));
    percentAxis_->setLabelFormat(QStringLiteral("%d"));
    percentAxis_->setRange(0, 100);
    percentAxis_->setTickCount(6);
    chart_->addAxis(timeAxis_, Qt::AlignBottom);
    chart_->addAxis(voltAxis_, Qt::AlignLeft);
    chart_->addAxis(percentAxis_, Qt::AlignRight);
    const QString names[] = {QStringLiteral("輸入電壓"), QStringLiteral("輸出電壓"),
                             QStringLiteral("UPS負載"), QStringLiteral("電池容量")};
    for (int i = 0; i < 4; ++i) {
        traces_[i] = new QLineSeries;
        traces_[i]->setName(names[i]);
        chart_->addSeries(traces_[i]);
        traces_[i]->attachAxis(timeAxis_);
        traces_[i]->attachAxis(i < kLoad ? voltAxis_ : percentAxis_);
    }
    auto* chartView = new QChartView(chart_);
    chartView->setRenderHint(QPainter::Antialiasing);
    chartView->setMinimumHeight(240);

    auto* splitter = new QSplitter(Qt::Vertical);
    splitter->addWidget(table_);
    splitter->addWidget(chartView);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 1);

    auto* refresh = new QPushButton(QStringLiteral("更新"));
    auto* print = new QPushButton(QStringLiteral("列印"));
    auto* clear = new QPushButton(QStringLiteral("清除"));
    auto* csv = new QPushButton(QStringLiteral("另存CSV"));
    auto* leave = new QPushButton(QStringLiteral("離開"));
    refresh->setObjectName(QStringLiteral("refresh"));
    print->setObjectName(QStringLiteral("print"));
    clear->setObjectName(QStringLiteral("clear"));
    csv->setObjectName(QStringLiteral("csv"));
    leave->setObjectName(QStringLiteral("leave"));
    for (QPushButton* b : {refresh, print, clear, csv, leave}) b->setAutoDefault(false);
    connect(refresh, &QPushButton::clicked, this, &CDlgDataList::Refresh);
    connect(print, &QPushButton::clicked, this, &CDlgDataList::Print);
    connect(clear, &QPushButton::clicked, this, &CDlgDataList::Clear);
    connect(csv, &QPushButton::clicked, this, &CDlgDataList::SaveCsv);
    connect(leave, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(refresh);
    buttons->addWidget(print);
    buttons->addWidget(clear);
    buttons->addWidget(csv);
    buttons->addStretch();
    buttons->addWidget(leave);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(splitter, 1);
    layout->addLayout(buttons);
    resize(860, 680);

    chooseCsvFile = [this] {
        return QFileDialog::getSaveFileName(this, QStringLiteral("另存CSV"),
                                            QStringLiteral("datalog.csv"),
                                            QStringLiteral("CSV (*.csv)"));
    };
    tell = [this](const QString& text) { QMessageBox::warning(this, windowTitle(), text); };
}

void CDlgDataList::BeginWaiting() {
    waiting_ = true;
    ups::Trace("in setcursor! CALL ME!\n");
    setCursor(Qt::WaitCursor);
    printLines_ = DataListHeader();
}

void CDlgDataList::StopWaiting() {
    waiting_ = false;
    unsetCursor();
}

void CDlgDataList::Fill(const std::vector<ups::CDataLogRecord>& records) {
    // Replacing rather than appending: a log that arrives twice must not be listed twice.
    records_ = records;
    printLines_ = DataListHeader();
    printLines_.reserve(printLines_.size() + records.size());
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(records.size()));
    int n = 1;
    for (const auto& r : records) {
        QStringList texts;
        for (const std::string& t : DataRowTexts(r, n)) texts << QString::fromStdString(t);
        auto* item = new QTreeWidgetItem(texts);
        for (int c = 2; c < 8; ++c) item->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
        items << item;
        printLines_.push_back(DataPrintLine(r, n));
        ++n;
    }
    table_->clear();
    table_->addTopLevelItems(items);
    FillChart();
    StopWaiting();
}

int CDlgDataList::rowCount() const {
    return table_->topLevelItemCount();
}

QString CDlgDataList::cellText(int row, int column) const {
    const QTreeWidgetItem* item = table_->topLevelItem(row);
    return item != nullptr ? item->text(column) : QString();
}

int CDlgDataList::chartPointCount(int trace) const {
    return trace >= 0 && trace < 4 ? static_cast<int>(traces_[trace]->count()) : 0;
}

void CDlgDataList::done(int result) {
    QDialog::done(result);
    emit closed();
}

bool CDlgDataList::eventFilter(QObject* watched, QEvent* event) {
    if (watched == table_ && event->type() == QEvent::Resize) FitColumns();
    return QDialog::eventFilter(watched, event);
}

void CDlgDataList::FitColumns() {
    const int w = table_->width();
    table_->setColumnWidth(0, w / 15);
    table_->setColumnWidth(1, w * 2 / 9);
    for (int c = 2; c < 8; ++c) table_->setColumnWidth(c, w / 9);
}

void CDlgDataList::Refresh() {
    printLines_ = DataListHeader();
    emit refreshRequested();
    table_->clear();
    records_.clear();
    FillChart();
}

void CDlgDataList::Clear() {
    // The print lines are kept: the user may still print what was listed before clearing.
    table_->clear();
    records_.clear();
    FillChart();
    emit clearRequested();
}

void CDlgDataList::Print() {
    printer.Print(printLines_, kDataListX);
}

void CDlgDataList::SaveCsv() {
    const QString path = chooseCsvFile ? chooseCsvFile() : QString();
    if (path.isEmpty()) return;
    QString error;
    if (!SaveTextFile(path, DataCsv(records_), &error) && tell) {
        tell(QStringLiteral("無法儲存 %1: %2").arg(path, error));
    }
}

void CDlgDataList::FillChart() {
    QList<QPointF> points[4];
    double voltMax = 0;
    double percentMax = 100;
    for (const auto& r : records_) {
        const double x = static_cast<double>(r.time) * 1000.0;
        const double values[] = {r.inputVoltage / 10.0, r.outputVoltage / 10.0, r.load / 10.0,
                                 static_cast<double>(r.batteryCapacity)};
        for (int i = 0; i < 4; ++i) points[i].append(QPointF(x, values[i]));
        voltMax = std::max({voltMax, values[0], values[1]});
        percentMax = std::max({percentMax, values[2], values[3]});
    }
    for (int i = 0; i < 4; ++i) traces_[i]->replace(points[i]);
    if (records_.empty()) {
        const QDateTime now = QDateTime::currentDateTime();
        timeAxis_->setRange(now.addSecs(-3600), now);
    } else {
        const auto [lo, hi] =
            std::minmax_element(records_.begin(), records_.end(),
                                [](const auto& a, const auto& b) { return a.time < b.time; });
        const qint64 from = lo->time;
        // One sample still needs a span to draw on.
        const qint64 to = hi->time > lo->time ? hi->time : lo->time + 60;
        timeAxis_->setRange(QDateTime::fromSecsSinceEpoch(from), QDateTime::fromSecsSinceEpoch(to));
        // Ticks a few seconds apart need the seconds; a log of weeks needs the dates only.
        const qint64 span = to - from;
        timeAxis_->setFormat(span < 3600        ? QStringLiteral("hh:mm:ss")
                             : span < 3 * 86400 ? QStringLiteral("MM/dd hh:mm")
                                                : QStringLiteral("yyyy/MM/dd"));
    }
    // Round the tops up to a whole 50 V and 10 % so the scale reads easily.
    voltAxis_->setRange(0, std::max(50.0, (static_cast<int>(voltMax) / 50 + 1) * 50.0));
    percentAxis_->setRange(0, (static_cast<int>(percentMax + 9.999) / 10) * 10.0);
}

}  // namespace kelvora::panel
