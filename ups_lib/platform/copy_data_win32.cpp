// The local copy-data link on Windows: real WM_COPYDATA between top-level windows found by their
// titles. An endpoint is a hidden window of that title on a thread of its own, which hands each
// block to the platform window the endpoint serves and returns the handler's result.
#ifdef _WIN32

#include <windows.h>

#include <cstring>
#include <thread>
#include <vector>

#include "copy_data.h"
#include "wide_text.h"

namespace platform {

using ups::platform::Wide;

namespace {

constexpr wchar_t kClassName[] = L"StavlenCopyDataEndpoint";
// The sender's caption travels in front of the data: its length as one 32-bit word, then its
// bytes, so that a receiver can answer at the sender's endpoint.
constexpr std::size_t kPrefixBytes = 4;

LRESULT CALLBACK EndpointProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);

void RegisterEndpointClass() {
    static const bool registered = [] {
        WNDCLASSW c{};
        c.lpfnWndProc = EndpointProc;
        c.hInstance = GetModuleHandleW(nullptr);
        c.lpszClassName = kClassName;
        return RegisterClassW(&c) != 0;
    }();
    (void)registered;
}

}  // namespace

struct CopyDataEndpoint::Impl {
    WindowHandle window;
    HWND hwnd = nullptr;
    DWORD threadId = 0;
    std::thread thread;
};

namespace {

LRESULT CALLBACK EndpointProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* impl = reinterpret_cast<CopyDataEndpoint::Impl*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (msg == WM_COPYDATA && impl != nullptr) {
        const auto* block = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
        // Whatever another program hands us is checked before it is read.
        if (block == nullptr || block->cbData < kPrefixBytes || block->cbData > kCopyDataMaxBytes)
            return 0;
        const auto* bytes = static_cast<const char*>(block->lpData);
        std::uint32_t senderLength = 0;
        std::memcpy(&senderLength, bytes, kPrefixBytes);
        if (senderLength > kCopyDataMaxCaption || senderLength > block->cbData - kPrefixBytes)
            return 0;
        CopyDataMessage message;
        message.identifier = static_cast<std::uint32_t>(block->dwData);
        message.sender = std::string_view(bytes + kPrefixBytes, senderLength);
        message.data = std::string_view(bytes + kPrefixBytes + senderLength,
                                        block->cbData - kPrefixBytes - senderLength);
        return static_cast<LRESULT>(
            impl->window.Send(kWmCopyData, 0, reinterpret_cast<std::intptr_t>(&message)));
    }
    if (msg == WM_CLOSE) {
        DestroyWindow(hwnd);
        return 0;
    }
    if (msg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wparam, lparam);
}

}  // namespace

std::filesystem::path CopyDataDirectory() {
    return {};  // windows are found by their titles, not in a directory
}

CopyDataResult SendCopyData(std::string_view caption, std::uint32_t identifier,
                            std::string_view data, std::string_view sender,
                            std::chrono::milliseconds timeout) {
    CopyDataResult r;
    if (caption.empty() || caption.size() > kCopyDataMaxCaption ||
        sender.size() > kCopyDataMaxCaption ||
        data.size() + sender.size() + kPrefixBytes > kCopyDataMaxBytes) {
        r.status = CopyDataStatus::kRefused;
        return r;
    }
    HWND target = FindWindowW(nullptr, Wide(caption).c_str());
    if (target == nullptr) return r;  // kNoWindow
    std::vector<char> block(kPrefixBytes + sender.size() + data.size());
    const auto senderLength = static_cast<std::uint32_t>(sender.size());
    std::memcpy(block.data(), &senderLength, kPrefixBytes);
    std::memcpy(block.data() + kPrefixBytes, sender.data(), sender.size());
    std::memcpy(block.data() + kPrefixBytes + sender.size(), data.data(), data.size());
    COPYDATASTRUCT cds{};
    cds.dwData = identifier;
    cds.cbData = static_cast<DWORD>(block.size());
    cds.lpData = block.data();
    DWORD_PTR result = 0;
    const UINT ms = static_cast<UINT>(timeout.count() > 0 ? timeout.count() : 0);
    if (SendMessageTimeoutW(target, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds),
                            SMTO_ABORTIFHUNG | SMTO_BLOCK, ms, &result) == 0) {
        r.status =
            GetLastError() == ERROR_TIMEOUT ? CopyDataStatus::kTimedOut : CopyDataStatus::kBroken;
        return r;
    }
    r.status = CopyDataStatus::kDelivered;
    r.result = static_cast<std::intptr_t>(result);
    return r;
}

bool FindCopyDataWindow(std::string_view caption) {
    if (caption.empty() || caption.size() > kCopyDataMaxCaption) return false;
    return FindWindowW(nullptr, Wide(caption).c_str()) != nullptr;
}

std::unique_ptr<CopyDataEndpoint> CopyDataEndpoint::Open(std::string_view caption,
                                                         WindowHandle window, std::string* error) {
    auto fail = [&](const char* why) {
        if (error) *error = why;
        return std::unique_ptr<CopyDataEndpoint>();
    };
    if (caption.empty() || caption.size() > kCopyDataMaxCaption) return fail("not a valid caption");
    if (FindCopyDataWindow(caption)) return fail("the caption is taken by a live window");
    RegisterEndpointClass();
    auto impl = std::make_unique<Impl>();
    impl->window = window;
    // The window lives on its own thread, which runs its message loop; Open returns once the
    // window exists, or failed to.
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const std::wstring title = Wide(caption);
    Impl* raw = impl.get();
    impl->thread = std::thread([raw, title, ready] {
        raw->threadId = GetCurrentThreadId();
        raw->hwnd = CreateWindowExW(0, kClassName, title.c_str(), WS_OVERLAPPED, 0, 0, 0, 0,
                                    nullptr, nullptr, GetModuleHandleW(nullptr), raw);
        SetEvent(ready);
        if (raw->hwnd == nullptr) return;
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    });
    WaitForSingleObject(ready, INFINITE);
    CloseHandle(ready);
    if (impl->hwnd == nullptr) {
        impl->thread.join();
        return fail("the window could not be made");
    }
    return std::make_unique<CopyDataEndpoint>(Key{}, std::string(caption), std::move(impl));
}

CopyDataEndpoint::CopyDataEndpoint(Key, std::string caption, std::unique_ptr<Impl> impl)
    : caption_(std::move(caption)), impl_(std::move(impl)) {}

CopyDataEndpoint::~CopyDataEndpoint() {
    if (!impl_) return;
    // The window's own thread closes it, after any message it is handling.
    PostMessageW(impl_->hwnd, WM_CLOSE, 0, 0);
    if (impl_->thread.joinable()) impl_->thread.join();
}

}  // namespace platform

#endif  // _WIN32
