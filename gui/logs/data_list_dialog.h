// The data log window: the UPS readings the agent sampled, as a table and as a chart over
// time, with printing and a CSV export.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <QDialog>
#include <QString>

#include "gui/logs/line_printer.h"
#include "ups_lib/log_records.h"

QT_BEGIN_NAMESPACE
class QChart;
class QDateTimeAxis;
class QLineSeries;
class QPushButton;
class QTreeWidget;
class QValueAxis;
QT_END_NAMESPACE

namespace kelvora::panel {

class CDlgDataList : public QDialog {
    Q_OBJECT

  public:
    explicit CDlgDataList(QWidget* parent = nullptr);

    // Opened and the log requested: show the wait cursor until it arrives; the print lines
    // start again from the header.
    void BeginWaiting();
    // The log arrived: its rows, print lines and chart replace what was shown; waiting ends.
    void Fill(const std::vector<ups::CDataLogRecord>& records);
    // No link, so nothing will arrive: leave the wait cursor.
    void StopWaiting();

    bool waiting() const { return waiting_; }
    const std::vector<std::string>& printLines() const { return printLines_; }
    int rowCount() const;
    QString cellText(int row, int column) const;
    // The points of the chart's four traces: input, output voltage, load, capacity.
    int chartPointCount(int trace) const;

    // Asks where to save the CSV export; an empty answer cancels.
    std::function<QString()> chooseCsvFile;
    // Tells the user something went wrong (a message box by default).
    std::function<void(const QString&)> tell;
    LinePrinter printer;

  signals:
    void refreshRequested();
    void clearRequested();
    void closed();

  public slots:
    void done(int result) override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Refresh();
    void Clear();
    void Print();
    void SaveCsv();
    void FitColumns();
    void FillChart();

    bool waiting_ = false;
    std::vector<std::string> printLines_;
    std::vector<ups::CDataLogRecord> records_;
    QTreeWidget* table_;
    QChart* chart_;
    QLineSeries* traces_[4];
    QDateTimeAxis* timeAxis_;
    QValueAxis* voltAxis_;
    QValueAxis* percentAxis_;
};

}  // namespace kelvora::panel
