// The event log window: what the agent recorded, newest entries as it keeps them, with
// printing, clearing and a CSV export.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <QDialog>
#include <QString>

#include "gui/logs/line_printer.h"
#include "ups_lib/log_records.h"

QT_BEGIN_NAMESPACE
class QTreeWidget;
QT_END_NAMESPACE

namespace kelvora::panel {

class CDlgLog : public QDialog {
    Q_OBJECT

  public:
    explicit CDlgLog(QWidget* parent = nullptr);

    // Opened (again): the print lines start from the header.
    void Reset();
    // The log arrived: its rows and print lines replace what was shown.
    void Fill(const std::vector<ups::CEventLogRecord>& records);

    const std::vector<std::string>& printLines() const { return printLines_; }
    int rowCount() const;
    QString cellText(int row, int column) const;
    // Which of the three icons a row's date carries, -1 for none.
    int rowIcon(int row) const;

    // Asks an OK/Cancel question; true for OK.
    std::function<bool(const QString&)> confirm;
    std::function<QString()> chooseCsvFile;
    std::function<void(const QString&)> tell;
    LinePrinter printer;

  signals:
    void clearRequested();
    void closed();

  public slots:
    void done(int result) override;

  private:
    void Clear();
    void SaveCsv();

    std::vector<std::string> printLines_;
    std::vector<ups::CEventLogRecord> records_;
    QTreeWidget* table_;
};

}  // namespace kelvora::panel
