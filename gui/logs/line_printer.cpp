#include "gui/logs/line_printer.h"

#include <cstdlib>

#include <QAbstractPrintDialog>
#include <QFontDatabase>
#include <QMessageBox>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>

namespace kelvora::panel {

PrintLayout PlanPages(int pageWidth, int pageHeight, int lineCount) {
    (void)pageWidth;
    PrintLayout layout;
    // Computed in 64 bits: a hostile or broken driver may report any height.
    const long long perPage = std::llabs(static_cast<long long>(pageHeight) - 600) / kLineHeight;
    layout.linesPerPage = perPage < 1 ? 1 : perPage > 1'000'000 ? 1'000'000 : int(perPage);
    const int lines = lineCount < 0 ? 0 : lineCount;
    layout.pages = (lines + layout.linesPerPage - 1) / layout.linesPerPage;
    return layout;
}

QString PlanMessage(int pageWidth, int pageHeight, int lineCount, const PrintLayout& layout) {
    return QString::asprintf("%d %d total lines %d per page %d num pages %d", pageWidth, pageHeight,
                             lineCount, layout.linesPerPage, layout.pages);
}

bool PrintLines(QPrinter& printer, const std::vector<std::string>& lines, int x) {
    printer.setDocName(QStringLiteral("printing UPS Info"));
    const int count = static_cast<int>(lines.size());
    const PrintLayout layout = PlanPages(printer.width(), printer.height(), count);
    if (layout.pages == 0) return true;
    QPainter painter;
    if (!painter.begin(&printer)) return false;
    // A fixed-pitch face keeps the columns under the header lines; its size leaves a gap
    // between the lines whatever the printer's resolution.
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(kLineHeight * 2 / 3);
    painter.setFont(font);
    for (int page = 0; page < layout.pages; ++page) {
        if (page > 0 && !printer.newPage()) return false;
        for (int j = 0; j < layout.linesPerPage; ++j) {
            const long long index = static_cast<long long>(page) * layout.linesPerPage + j;
            if (index >= count) break;
            painter.drawText(x, kTopMargin + kLineHeight * j,
                             QString::fromStdString(lines[static_cast<std::size_t>(index)]));
        }
    }
    return painter.end();
}

LinePrinter::LinePrinter(QWidget* parent) : parent_(parent) {
    choosePrinter = [this](QPrinter& printer) {
        QPrintDialog dialog(&printer, parent_);
        dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
        dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
        dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
        dialog.setOption(QAbstractPrintDialog::PrintToFile, false);
        dialog.setPrintRange(QAbstractPrintDialog::AllPages);
        return dialog.exec() == QDialog::Accepted;
    };
    tell = [this](const QString& text) {
        QMessageBox::information(parent_, QString(), text, QMessageBox::Ok);
    };
}

bool LinePrinter::Print(const std::vector<std::string>& lines, int x) {
    QPrinter printer(QPrinter::HighResolution);
    // 600 dots an inch makes the 150-unit line a comfortable quarter inch.
    printer.setResolution(600);
    if (!choosePrinter || !choosePrinter(printer)) return false;
    const int count = static_cast<int>(lines.size());
    const PrintLayout layout = PlanPages(printer.width(), printer.height(), count);
    if (tell) tell(PlanMessage(printer.width(), printer.height(), count, layout));
    return PrintLines(printer, lines, x);
}

}  // namespace kelvora::panel
