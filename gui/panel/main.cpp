// Kelvora, the control panel: one per desktop session, watching the agent on this machine or a
// remote one.
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

#include <QApplication>
#include <cstdlib>
#include <string>

#include "gui/panel/main_dialog.h"
#include "gui/panel/remote_list.h"

namespace {

#ifdef _WIN32
// A second panel on the same desktop brings the first one forward and leaves without a window.
// The mutex lives in the session's own namespace, so other users' sessions keep theirs.
bool FirstInSession() {
    if (CreateMutexW(nullptr, FALSE, L"Local\\KelvoraPanel") == nullptr) return true;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return true;  // kept open until the end
    const std::wstring title = QString(kelvora::panel::kPanelTitle).toStdWString();
    if (HWND first = FindWindowW(nullptr, title.c_str())) {
        ShowWindow(first, SW_RESTORE);
        SetForegroundWindow(first);
    }
    return false;
}
#else
// Held while the panel runs: a second panel in the same session finds it taken and leaves
// without a window. In the user's runtime directory, which no other user can write.
bool FirstInSession() {
    std::string dir;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime)
        dir = runtime;
    else
        dir = "/tmp";
    const std::string path = dir + "/Kelvora-panel-" + std::to_string(::getuid()) + ".lock";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return true;  // no lock to be had: better a second window than none
    return ::flock(fd, LOCK_EX | LOCK_NB) == 0;  // kept open until the end
}
#endif

}  // namespace

int main(int argc, char** argv) {
    if (!FirstInSession()) return 0;
    QApplication app(argc, argv);
    QApplication::setApplicationName("Kelvora");
    // --copy-data: reach the agent on this machine by copy-data messages rather than TCP (for
    // the agent's own user and root, who may open endpoints in its run directory).
    using Transport = kelvora::panel::CGUI2Dlg::LocalTransport;
    const bool copyData = QApplication::arguments().contains("--copy-data");
    kelvora::panel::CGUI2Dlg dialog(kelvora::panel::MakePanelRegistry(),
                                    kelvora::panel::Prompts::Interactive(),
                                    copyData ? Transport::CopyData : Transport::Tcp);
    dialog.show();
    return QApplication::exec();
}
