#include "gui/config/notify_rows.h"

#include <QLabel>
#include <QPushButton>
#include <limits>

namespace kelvora::panel {

QLineEdit* MakeNotifyField(QWidget* parent) {
    auto* field = new QLineEdit(parent);
    field->setMaxLength(std::numeric_limits<int>::max());
    field->setMinimumWidth(field->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 28);
    return field;
}

QDialogButtonBox* MakeCancelOk(QDialog* dialog) {
    auto* buttons = new QDialogButtonBox(dialog);
    auto* cancel = buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cancel"));
    auto* ok = buttons->addButton(QStringLiteral("確定"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setDefault(true);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

void AddNotifyCaptions(QGridLayout* grid, int firstRow, int column, QWidget* parent) {
    for (int k = 0; k < ups::kNotifyKinds; ++k) {
        grid->addWidget(
            new QLabel(QString::fromUtf8(kNotifyCaptions[static_cast<std::size_t>(k)]), parent),
            firstRow + k, column);
    }
}

NotifyTexts ReadFields(const NotifyFields& fields) {
    NotifyTexts texts;
    for (std::size_t k = 0; k < fields.size(); ++k) texts[k] = fields[k]->text().toStdString();
    return texts;
}

void ShowFields(const NotifyFields& fields, const NotifyTexts& texts) {
    for (std::size_t k = 0; k < fields.size(); ++k) {
        fields[k]->setText(QString::fromStdString(texts[k]));
        fields[k]->setCursorPosition(0);
    }
}

}  // namespace kelvora::panel
