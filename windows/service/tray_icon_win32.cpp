#ifdef _WIN32

#include <windows.h>

#include <shellapi.h>  // after windows.h, which it needs

#include <cwchar>
#include <string>

#include "tray_icon.h"

namespace torvane {

namespace {

constexpr UINT kIconId = 1;

// The icon in the notification area, shown for a message-only window of its own: the shell needs
// a window to know the icon by, and this one never gets broadcasts that would wait for it.
class ShellTray final : public TrayIcon {
  public:
    ShellTray() {
        window_ = CreateWindowExW(0, L"STATIC", L"Torvane tray", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                  nullptr, GetModuleHandleW(nullptr), nullptr);
    }
    ~ShellTray() override {
        Remove();
        if (window_ != nullptr) DestroyWindow(window_);
    }

    bool Add(std::string_view tip) override { return Call(NIM_ADD, tip); }
    bool Modify(std::string_view tip) override { return Call(NIM_MODIFY, tip); }
    void Remove() override {
        if (!added_) return;
        NOTIFYICONDATAW data = Base();
        Shell_NotifyIconW(NIM_DELETE, &data);
        added_ = false;
    }

  private:
    NOTIFYICONDATAW Base() const {
        NOTIFYICONDATAW data{};
        data.cbSize = sizeof data;
        data.hWnd = window_;
        data.uID = kIconId;
        return data;
    }

    bool Call(DWORD what, std::string_view tip) {
        if (window_ == nullptr) return false;
        NOTIFYICONDATAW data = Base();
        data.uFlags = NIF_ICON | NIF_TIP;
        data.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
        const int n = MultiByteToWideChar(CP_UTF8, 0, tip.data(), static_cast<int>(tip.size()),
                                          data.szTip, static_cast<int>(std::size(data.szTip)) - 1);
        data.szTip[n > 0 ? n : 0] = L'\0';
        const bool done = Shell_NotifyIconW(what, &data) != FALSE;
        if (done) added_ = true;
        return done;
    }

    HWND window_ = nullptr;
    bool added_ = false;
};

}  // namespace

std::unique_ptr<TrayIcon> MakeTrayIcon() {
    return std::make_unique<ShellTray>();
}

}  // namespace torvane

#endif  // _WIN32
