// Page planning and real printing to PDF files, counted page by page.
#include <QDir>
#include <QFile>
#include <QPrinter>
#include <QRegularExpression>
#include <QtTest>

#include "gui/logs/line_printer.h"
#include "gui/logs/log_lines.h"
#include "suites.h"

namespace kelvora::panel::test {

namespace {

void ToPdf(QPrinter& printer, const QString& path) {
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
}

int PdfPages(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return -1;
    const QString text = QString::fromLatin1(f.readAll());
    return static_cast<int>(text.count(QRegularExpression(QStringLiteral("/Type\\s*/Page(?!s)"))));
}

std::vector<std::string> Lines(int n) {
    std::vector<std::string> lines;
    for (int i = 0; i < n; ++i) lines.push_back("line " + std::to_string(i));
    return lines;
}

class PrintingTest : public QObject {
    Q_OBJECT

  private slots:
    void plansPages() {
        // (7016 - 600) / 150 = 42.7: 42 lines fit.
        QCOMPARE(PlanPages(4960, 7016, 42).linesPerPage, 42);
        QCOMPARE(PlanPages(4960, 7016, 42).pages, 1);
        QCOMPARE(PlanPages(4960, 7016, 43).pages, 2);
        QCOMPARE(PlanPages(4960, 7016, 84).pages, 2);
        QCOMPARE(PlanPages(4960, 7016, 85).pages, 3);
        QCOMPARE(PlanPages(4960, 7016, 0).pages, 0);
    }

    void tinyPageTakesOneLineAPage() {
        for (const int h : {600, 650, 749, 451}) {
            const PrintLayout l = PlanPages(100, h, 5);
            QCOMPARE(l.linesPerPage, 1);
            QCOMPARE(l.pages, 5);
        }
        // Nonsense sizes from a driver still give a usable plan.
        QCOMPARE(PlanPages(0, INT_MIN, 3).pages, 1);
        QCOMPARE(PlanPages(0, 7016, -4).pages, 0);
    }

    void messageText() {
        QCOMPARE(PlanMessage(4960, 7016, 46, PlanPages(4960, 7016, 46)),
                 QStringLiteral("4960 7016 total lines 46 per page 42 num pages 2"));
    }

    void onePageExactlyAndOneLineMore() {
        QPrinter printer(QPrinter::HighResolution);
        printer.setResolution(600);
        ToPdf(printer, TempPath(QStringLiteral("probe.pdf")));
        const int perPage = PlanPages(printer.width(), printer.height(), 1).linesPerPage;
        QVERIFY(perPage > 10);

        const QString one = TempPath(QStringLiteral("one.pdf"));
        QPrinter a(QPrinter::HighResolution);
        a.setResolution(600);
        ToPdf(a, one);
        QVERIFY(PrintLines(a, Lines(perPage), kDataListX));
        QCOMPARE(a.docName(), QStringLiteral("printing UPS Info"));
        QCOMPARE(PdfPages(one), 1);

        const QString two = TempPath(QStringLiteral("two.pdf"));
        QPrinter b(QPrinter::HighResolution);
        b.setResolution(600);
        ToPdf(b, two);
        QVERIFY(PrintLines(b, Lines(perPage + 1), kEventListX));
        QCOMPARE(PdfPages(two), 2);
    }

    void errandShowsPlanThenPrints() {
        LinePrinter lp;
        const QString path = TempPath(QStringLiteral("errand.pdf"));
        int width = 0;
        int height = 0;
        lp.choosePrinter = [&](QPrinter& p) {
            ToPdf(p, path);
            width = p.width();
            height = p.height();
            return true;
        };
        QStringList told;
        lp.tell = [&](const QString& t) { told << t; };
        QVERIFY(lp.Print(Lines(3), kDataListX));
        QCOMPARE(told.size(), 1);
        const int perPage = std::abs(height - 600) / 150;
        QCOMPARE(told.at(0), QStringLiteral("%1 %2 total lines 3 per page %3 num pages 1")
                                 .arg(width)
                                 .arg(height)
                                 .arg(perPage));
        QCOMPARE(PdfPages(path), 1);
    }

    // A real data list on paper, kept for a reviewer's eyes when the run asks for pictures.
    void dataListOnPaper() {
        const QString dir = qEnvironmentVariable("ARTIFACT_DIR");
        if (dir.isEmpty()) QSKIP("ARTIFACT_DIR not set");
        std::vector<std::string> lines = DataListHeader();
        ups::CDataLogRecord r;
        r.inputVoltage = 2301;
        r.outputVoltage = 2199;
        r.inputFrequency = 600;
        r.load = 455;
        r.batteryCapacity = 87;
        r.temperature = 253;
        for (int n = 1; n <= 50; ++n) {
            r.time = 1785589509u + 60u * static_cast<std::uint32_t>(n);
            lines.push_back(DataPrintLine(r, n));
        }
        QPrinter printer(QPrinter::HighResolution);
        printer.setResolution(600);
        ToPdf(printer, QDir(dir).filePath(QStringLiteral("data_list.pdf")));
        QVERIFY(PrintLines(printer, lines, kDataListX));
    }

    void cancelPrintsNothing() {
        LinePrinter lp;
        const QString path = TempPath(QStringLiteral("cancelled.pdf"));
        lp.choosePrinter = [&](QPrinter& p) {
            ToPdf(p, path);
            return false;
        };
        bool told = false;
        lp.tell = [&](const QString&) { told = true; };
        QVERIFY(!lp.Print(Lines(3), kDataListX));
        QVERIFY(!told);
        QVERIFY(!QFile::exists(path));
    }
};

}  // namespace

int RunPrintingTests(int argc, char** argv) {
    PrintingTest t;
    return QTest::qExec(&t, argc, argv);
}

}  // namespace kelvora::panel::test

#include "printing_test.moc"
