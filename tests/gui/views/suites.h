// The test classes of the status views, each run by main() in turn, and a helper that keeps
// the pictures the tests draw when the run asks for them.
#pragma once

#include <QByteArray>
#include <QPixmap>
#include <QString>

#include "gui/views/view_rules.h"

namespace kelvora::gui {

// Readable failure messages for the scale records (QtTest finds these by argument lookup).
inline char* toString(const Span& s) {
    return qstrdup(
        QByteArray("Span{" + QByteArray::number(s.from) + ", " + QByteArray::number(s.to) + "}")
            .constData());
}
inline char* toString(const TickSet& t) {
    return qstrdup(QByteArray("TickSet{" + QByteArray::number(t.from) + ", " +
                              QByteArray::number(t.to) + ", " + QByteArray::number(t.interval) +
                              "}")
                       .constData());
}

}  // namespace kelvora::gui

namespace kelvora::gui::test {

int RunViewRulesTests(int argc, char** argv);
int RunMeterPageTests(int argc, char** argv);
int RunDigitalPageTests(int argc, char** argv);
int RunChartPageTests(int argc, char** argv);
int RunPicturePageTests(int argc, char** argv);
int RunWidgetTests(int argc, char** argv);

// Saves pixmap as <name>.png in $ARTIFACT_DIR when that is set, so a reviewer can look at what
// the offscreen run drew.
void SaveArtifact(const QPixmap& pixmap, const QString& name);

}  // namespace kelvora::gui::test
