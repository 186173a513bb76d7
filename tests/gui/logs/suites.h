// The test classes of the log dialogs, each run by main() in turn.
#pragma once

#include <QString>

QT_BEGIN_NAMESPACE
class QWidget;
QT_END_NAMESPACE

namespace kelvora::panel::test {

int RunLogLinesTests(int argc, char** argv);
int RunPrintingTests(int argc, char** argv);
int RunListDialogTests(int argc, char** argv);
int RunCalendarTests(int argc, char** argv);

// A path in a directory that lives as long as the test program.
QString TempPath(const QString& name);

// Saves a picture of widget as <name>.png in $ARTIFACT_DIR when that is set, so a reviewer can
// look at what the offscreen run drew.
void SaveArtifact(QWidget* widget, const QString& name);

}  // namespace kelvora::panel::test
