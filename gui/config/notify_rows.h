// What the three notification dialogs share: one row per notification kind, in the order the
// notification record keeps them, each with text fields of no length limit.
#pragma once

#include <QDialog>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLineEdit>
#include <QWidget>
#include <array>
#include <string>

#include "ups_lib/msg_tab.h"

namespace kelvora::panel {

using NotifyTexts = std::array<std::string, ups::kNotifyKinds>;
using NotifyFields = std::array<QLineEdit*, ups::kNotifyKinds>;

// The kinds' captions, in record order.
inline constexpr std::array<const char*, ups::kNotifyKinds> kNotifyCaptions = {
    "市電中斷",     "電池低電位",   "市電恢復", "電池低電位狀況解除",
    "預定關機時間", "預定關機解除", "電池損壞",
};

// A field that takes a text of any length (a line edit stops at 32767 characters by default,
// which would cut a long stored text silently).
QLineEdit* MakeNotifyField(QWidget* parent);
// Puts one caption per kind in `column` of `grid`, from `firstRow` on.
void AddNotifyCaptions(QGridLayout* grid, int firstRow, int column, QWidget* parent);

// The dialog's "取消" and "確定" (the default), wired to its reject and accept; the caller adds
// the box to its layout (and may add buttons of its own first).
QDialogButtonBox* MakeCancelOk(QDialog* dialog);

NotifyTexts ReadFields(const NotifyFields& fields);
void ShowFields(const NotifyFields& fields, const NotifyTexts& texts);

}  // namespace kelvora::panel
