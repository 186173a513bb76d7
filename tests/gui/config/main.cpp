#include <QApplication>

#include "suites.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    using namespace kelvora::panel::test;
    int failed = 0;
    for (auto run : {RunShutdownDelayTests, RunCfgDialogTests, RunNotifyDialogTests}) {
        failed += run(argc, argv);
    }
    return failed == 0 ? 0 : 1;
}
