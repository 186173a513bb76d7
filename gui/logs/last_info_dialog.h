// The applications the last shutdown closed, and where each one's open files were saved.
#pragma once

#include <QDialog>

#include "ups_lib/close_info.h"

QT_BEGIN_NAMESPACE
class QListWidget;
QT_END_NAMESPACE

namespace kelvora::panel {

class CDlgLastInfo : public QDialog {
    Q_OBJECT

  public:
    explicit CDlgLastInfo(QWidget* parent = nullptr);

    // Lists the saved applications; the file list stays empty until one is selected.
    void Fill(const ups::CCloseInfo& info);
    // Lists the files saved for application index (none for an index out of range).
    void ShowFiles(int index);

    QStringList applications() const;
    QStringList files() const;
    QListWidget* applicationList() const { return apps_; }

  signals:
    void applicationSelected(int index);
    void closed();

  public slots:
    void done(int result) override;

  private:
    ups::CCloseInfo info_;
    QListWidget* apps_;
    QListWidget* files_;
};

}  // namespace kelvora::panel
