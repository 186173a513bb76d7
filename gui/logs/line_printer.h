// Prints a list of text lines, one every 150 device units down the page, as both log lists do.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <QString>

QT_BEGIN_NAMESPACE
class QPrinter;
class QWidget;
QT_END_NAMESPACE

namespace kelvora::panel {

inline constexpr int kLineHeight = 150;
inline constexpr int kTopMargin = 300;
// Where the lines start across the page.
inline constexpr int kDataListX = 200;
inline constexpr int kEventListX = 300;

struct PrintLayout {
    int linesPerPage = 1;
    int pages = 0;
};

// Lines per page and page count for a page of the given size in device units. A page too short
// for a single line still takes one a page, so the count never divides by zero.
PrintLayout PlanPages(int pageWidth, int pageHeight, int lineCount);

// The note shown before printing: page size, line count, lines per page and pages.
QString PlanMessage(int pageWidth, int pageHeight, int lineCount, const PrintLayout& layout);

// Draws the lines on a printer that is already set up (file or device), page after page, at
// x and 300 + 150 * j. False when the printer cannot be opened.
bool PrintLines(QPrinter& printer, const std::vector<std::string>& lines, int x);

// The whole printing errand: the print dialog, the note, then the pages. The dialog and the
// note are replaceable so that tests can print to a file without a screen.
class LinePrinter {
  public:
    explicit LinePrinter(QWidget* parent = nullptr);

    // Lets the user pick and set up the printer; false on Cancel.
    std::function<bool(QPrinter&)> choosePrinter;
    // Shows a message with an OK button.
    std::function<void(const QString&)> tell;

    // False when the user cancelled or the printer could not be opened.
    bool Print(const std::vector<std::string>& lines, int x);

  private:
    QWidget* parent_;
};

}  // namespace kelvora::panel
