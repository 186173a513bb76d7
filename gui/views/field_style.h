// The label styles the status pages share, so a value or a title looks the same on every page.
#pragma once

#include <QLabel>
#include <QString>

namespace kelvora::gui {

// A quantity's title over its gauge or group: blue text on the page.
QLabel* MakeColumnTitle(const QString& text, QWidget* parent = nullptr);
// A group's title bar: navy on grey.
QLabel* MakeGroupTitle(const QString& text, QWidget* parent = nullptr);
// A row's name, such as "現值:": blue.
QLabel* MakeRowLabel(const QString& text, QWidget* parent = nullptr);
// A sunken field holding a live reading: navy on cyan.
QLabel* MakeCurrentField(QWidget* parent = nullptr);
// A sunken field holding a stored value (an extreme, a rating): black on white.
QLabel* MakeValueField(QWidget* parent = nullptr);

}  // namespace kelvora::gui
