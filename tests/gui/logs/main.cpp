#include <ctime>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QWidget>

#include "suites.h"

namespace kelvora::panel::test {

namespace {
QTemporaryDir* tempDir = nullptr;
}

QString TempPath(const QString& name) {
    return QDir(tempDir->path()).filePath(name);
}

void SaveArtifact(QWidget* widget, const QString& name) {
    const QString dir = qEnvironmentVariable("ARTIFACT_DIR");
    if (dir.isEmpty()) return;
    QDir().mkpath(dir);
    widget->grab().save(QDir(dir).filePath(name + QStringLiteral(".png")));
}

}  // namespace kelvora::panel::test

int main(int argc, char** argv) {
    // Every expected time text below is written for UTC.
    qputenv("TZ", "UTC");
    tzset();
    QApplication app(argc, argv);
    QTemporaryDir dir;
    kelvora::panel::test::tempDir = &dir;
    using namespace kelvora::panel::test;
    int failed = 0;
    for (auto run : {RunLogLinesTests, RunPrintingTests, RunListDialogTests, RunCalendarTests}) {
        failed += run(argc, argv);
    }
    return failed == 0 ? 0 : 1;
}
