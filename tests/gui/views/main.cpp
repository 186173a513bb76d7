#include <QApplication>
#include <QDir>

#include "suites.h"

namespace kelvora::gui::test {

void SaveArtifact(const QPixmap& pixmap, const QString& name) {
    const QString dir = qEnvironmentVariable("ARTIFACT_DIR");
    if (dir.isEmpty()) return;
    QDir().mkpath(dir);
    pixmap.save(QDir(dir).filePath(name + QStringLiteral(".png")));
}

}  // namespace kelvora::gui::test

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    using namespace kelvora::gui::test;
    int failed = 0;
    for (auto run : {RunViewRulesTests, RunMeterPageTests, RunDigitalPageTests, RunChartPageTests,
                     RunPicturePageTests, RunWidgetTests}) {
        failed += run(argc, argv);
    }
    return failed == 0 ? 0 : 1;
}
