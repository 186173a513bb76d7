// The service control manager's half of CNTService.
#include <windows.h>

#include <cerrno>
#include <string>

#include "nt_service.h"
#include "ups_lib/platform/registry.h"

namespace torvane {

namespace {

SERVICE_STATUS_HANDLE statusHandle = nullptr;

struct ScHandle {
    SC_HANDLE h = nullptr;
    explicit ScHandle(SC_HANDLE handle) : h(handle) {}
    ~ScHandle() {
        if (h) CloseServiceHandle(h);
    }
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
    explicit operator bool() const { return h != nullptr; }
};

void WINAPI ControlHandler(DWORD code) {
    if (CNTService* service = CNTService::Current()) service->Handler(code);
}

void WINAPI ServiceEntry(DWORD, LPSTR*) {
    if (CNTService* service = CNTService::Current()) service->ServiceMain();
}

// Also left in errno, which the -i and -u messages show as their "Error N": Win32 calls do
// not set it.
std::string LastErrorText(const char* what) {
    const DWORD error = GetLastError();
    errno = static_cast<int>(error);
    return std::string(what) + " failed, error " + std::to_string(error);
}

}  // namespace

void CNTService::ReportStatus(const ServiceStatus& s) {
    if (!statusHandle) return;
    SERVICE_STATUS status{};
    status.dwServiceType = s.type;
    status.dwCurrentState = s.state;
    status.dwControlsAccepted = s.controls_accepted;
    status.dwWin32ExitCode = s.exit_code;
    status.dwServiceSpecificExitCode = s.specific_exit_code;
    status.dwCheckPoint = s.check_point;
    status.dwWaitHint = s.wait_hint;
    ::SetServiceStatus(statusHandle, &status);
}

bool CNTService::RegisterControlHandler() {
    statusHandle = ::RegisterServiceCtrlHandlerA(name_.c_str(), ControlHandler);
    return statusHandle != nullptr;
}

bool CNTService::PlatformIsInstalled(std::string& problem) {
    // Asking needs no more than connecting: -v by an ordinary user tells the truth too.
    ScHandle manager(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        problem = LastErrorText("OpenSCManager");
        return false;
    }
    ScHandle service(::OpenServiceA(manager.h, name_.c_str(), SERVICE_QUERY_CONFIG));
    return static_cast<bool>(service);
}

bool CNTService::PlatformInstall(std::string& problem) {
    ScHandle manager(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        problem = LastErrorText("OpenSCManager");
        return false;
    }
    const std::string path = ProgramPath();
    // Quoted, since the program may live under "Program Files"; the manager starts it with
    // --service, which is what makes it enter the dispatcher instead of program mode.
    const std::string command = "\"" + path + "\" --service";
    ScHandle service(::CreateServiceA(manager.h, name_.c_str(), name_.c_str(), SERVICE_ALL_ACCESS,
                                      SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                      SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr,
                                      nullptr, nullptr, nullptr));
    if (!service) {
        problem = LastErrorText("CreateService");
        return false;
    }
    auto& reg = ups::platform::SystemRegistry();
    const std::string source = EventSourceKey(name_);
    if (!reg.WriteString(source, "EventMessageFile", ups::platform::ValueType::ExpandString,
                         path) ||
        !reg.WriteDword(source, "TypesSupported", 7)) {
        // The service exists; only the event viewer will lack the texts.
        problem = "cannot register the event source";
    }
    return true;
}

bool CNTService::PlatformUninstall(std::string& problem) {
    ScHandle manager(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        problem = LastErrorText("OpenSCManager");
        return false;
    }
    ScHandle service(::OpenServiceA(manager.h, name_.c_str(), DELETE));
    if (!service || !::DeleteService(service.h)) {
        problem = LastErrorText("DeleteService");
        return false;
    }
    return true;
}

bool CNTService::RunDispatcher() {
    SERVICE_TABLE_ENTRYA table[] = {{name_.data(), ServiceEntry}, {nullptr, nullptr}};
    // Fails at once (ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) when started by hand.
    return ::StartServiceCtrlDispatcherA(table) != FALSE;
}

// To the console or pipe the program was started from (an installer or a script reads it
// there); a box only when it has neither.
void CNTService::ShowMessage(const std::string& text) {
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD written = 0;
    if (out != nullptr && out != INVALID_HANDLE_VALUE && ::GetFileType(out) != FILE_TYPE_UNKNOWN &&
        ::WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
        return;
    }
    ::MessageBoxA(nullptr, text.c_str(), name_.c_str(), MB_OK);
}

std::string CNTService::ProgramPath() const {
    char path[MAX_PATH] = {};
    const DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::string(path, n);
}

}  // namespace torvane
