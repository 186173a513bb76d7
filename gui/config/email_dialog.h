// "電子郵件": the mail server the agent sends through and the address that hears of each
// notification kind.
#pragma once

#include <QDialog>
#include <QLineEdit>

#include "gui/config/notify_rows.h"

namespace kelvora::panel {

class CDlgEmail : public QDialog {
    Q_OBJECT
  public:
    explicit CDlgEmail(QWidget* parent = nullptr);

    // What arrived: the server from the configuration record, the addresses from the
    // notification record. Both become the stored values and are shown.
    void LoadServer(const std::string& server);
    void LoadAddresses(const NotifyTexts& addresses);
    void ShowStored();

    const std::string& server() const { return server_; }  // as last stored
    const NotifyTexts& addresses() const { return addresses_; }
    QLineEdit* serverField() const { return serverField_; }
    QLineEdit* field(int kind) const { return fields_.at(static_cast<std::size_t>(kind)); }

    void accept() override;
    void reject() override;

  signals:
    void stored(const std::string& server, const std::array<std::string, 7>& addresses);

  private:
    std::string server_;
    NotifyTexts addresses_;
    QLineEdit* serverField_ = nullptr;
    NotifyFields fields_{};
};

}  // namespace kelvora::panel
