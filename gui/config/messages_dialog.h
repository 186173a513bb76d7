// "設定警告與電子郵件訊息": the warning text the agent shows (and mails) for each notification
// kind.
#pragma once

#include <QDialog>
#include <QLineEdit>

#include "gui/config/notify_rows.h"

namespace kelvora::panel {

class CDlgMessages : public QDialog {
    Q_OBJECT
  public:
    explicit CDlgMessages(QWidget* parent = nullptr);

    // The texts arrived from the agent: they become the stored ones and are shown.
    void Load(const NotifyTexts& texts);
    // "預設值": shows the texts as last stored, so edits not yet taken are dropped.
    void ShowStored();

    const NotifyTexts& texts() const { return texts_; }  // as last stored
    NotifyTexts typed() const { return ReadFields(fields_); }
    QLineEdit* field(int kind) const { return fields_.at(static_cast<std::size_t>(kind)); }

    // "確定": stores what is typed, tells the configuration dialog and closes.
    void accept() override;
    // "取消": the stored texts stay; the next opening shows them.
    void reject() override;

  signals:
    void stored(const std::array<std::string, 7>& texts);

  private:
    NotifyTexts texts_;
    NotifyFields fields_{};
};

}  // namespace kelvora::panel
