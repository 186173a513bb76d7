#include <QApplication>
#include <QDir>
#include <ctime>

#include "suites.h"

namespace kelvora::panel::test {

void SaveArtifact(QWidget& widget, const QString& name) {
    const QString dir = qEnvironmentVariable("ARTIFACT_DIR");
    if (dir.isEmpty()) return;
    QDir().mkpath(dir);
    widget.grab().save(QDir(dir).filePath(name + QStringLiteral(".png")));
}

}  // namespace kelvora::panel::test

int main(int argc, char** argv) {
    // Before anything reads the clock's zone: the expected texts are UTC wall-clock times.
    qputenv("TZ", "UTC");
    tzset();
    QApplication app(argc, argv);
    using namespace kelvora::panel::test;
    int failed = 0;
    for (auto run : {RunScheduleTextTests, RunScheduleDialogTests, RunControlDialogTests}) {
        failed += run(argc, argv);
    }
    return failed == 0 ? 0 : 1;
}
