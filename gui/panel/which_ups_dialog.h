// Choosing the agent to watch: this machine's or one of a list of remote agents, and the editor
// of that list. Both keep what they choose in the panel's registry.
#pragma once

#include <QButtonGroup>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <vector>

#include "gui/panel/remote_list.h"

namespace kelvora::panel {

// "選擇UPS所在位置"
class CDlgWhichUPS : public QDialog {
    Q_OBJECT
  public:
    CDlgWhichUPS(ups::platform::Registry& registry, int localRemote, QWidget* parent = nullptr);

    int localRemote() const { return localRemote_; }
    const QString& address() const { return address_; }
    const QString& password() const { return password_; }
    QComboBox* list() const { return list_; }
    void SetLocalRemote(int value);

    void accept() override;

  private:
    void Fill();
    void EditList();

    ups::platform::Registry& registry_;
    std::vector<RemoteUpsEntry> entries_;
    int localRemote_;
    QString address_;
    QString password_;
    QButtonGroup* choice_ = nullptr;
    QComboBox* list_ = nullptr;
    QPushButton* edit_ = nullptr;
};

// "選擇遠端 UPS": the list box shows the newest entry first.
class CDlgRemoteUPS : public QDialog {
    Q_OBJECT
  public:
    explicit CDlgRemoteUPS(ups::platform::Registry& registry, QWidget* parent = nullptr);

    const std::vector<RemoteUpsEntry>& entries() const { return entries_; }
    QListWidget* names() const { return names_; }
    void SetFields(const RemoteUpsEntry& e);
    void Insert();
    void Delete();
    void Update();

    void accept() override;

  private:
    RemoteUpsEntry Fields() const;
    void OnSelection();
    // The list box row of entry `position`, and back.
    int RowOf(std::size_t position) const;

    ups::platform::Registry& registry_;
    std::vector<RemoteUpsEntry> entries_;
    QListWidget* names_ = nullptr;
    QLineEdit* name_ = nullptr;
    QLineEdit* address_ = nullptr;
    QLineEdit* location_ = nullptr;
    QLineEdit* password_ = nullptr;
};

}  // namespace kelvora::panel
