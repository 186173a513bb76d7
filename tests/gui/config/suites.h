// The configuration dialogs' test classes, each run by main() in turn.
#pragma once

namespace kelvora::panel::test {

int RunShutdownDelayTests(int argc, char** argv);
int RunCfgDialogTests(int argc, char** argv);
int RunNotifyDialogTests(int argc, char** argv);

}  // namespace kelvora::panel::test
