// "設定呼叫器號碼與傳送碼": the serial port of the modem the agent pages through, and the pager
// number and send code for each notification kind.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QLineEdit>

#include "gui/config/notify_rows.h"

namespace kelvora::panel {

class CDlgPager : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kPorts = 4;  // "COM 1" .. "COM 4"

    explicit CDlgPager(QWidget* parent = nullptr);

    // The modem port index arrived with the configuration record; a port the list does not
    // have becomes "COM 1", the one port every machine is expected to have.
    void LoadPort(int port);
    void LoadPairs(const NotifyTexts& numbers, const NotifyTexts& codes);
    void ShowStored();

    int port() const { return port_; }  // as last stored
    const NotifyTexts& numbers() const { return numbers_; }
    const NotifyTexts& codes() const { return codes_; }
    QComboBox* portList() const { return portList_; }
    QLineEdit* numberField(int kind) const { return numberFields_.at(std::size_t(kind)); }
    QLineEdit* codeField(int kind) const { return codeFields_.at(std::size_t(kind)); }

    void accept() override;
    void reject() override;

  signals:
    void stored(int port, const std::array<std::string, 7>& numbers,
                const std::array<std::string, 7>& codes);

  private:
    int port_ = 0;
    NotifyTexts numbers_;
    NotifyTexts codes_;
    QComboBox* portList_ = nullptr;
    NotifyFields numberFields_{};
    NotifyFields codeFields_{};
};

}  // namespace kelvora::panel
