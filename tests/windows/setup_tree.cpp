// A setup that starts a helper of its own and waits: `setup_tree PIDFILE window` answers a close
// request by ending with 7, `setup_tree PIDFILE stubborn` ignores everything; both first write
// the helper's process id into PIDFILE. `setup_tree - sleep` is the helper.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

LRESULT CALLBACK Closing(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE) {
        PostQuitMessage(7);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3)
        return 2;
    const std::wstring mode = argv[2];
    if (mode == L"sleep") {
        Sleep(INFINITE);
        return 0;
    }
    HWND window = nullptr;
    if (mode == L"window") {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = Closing;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"setup_tree";
        RegisterClassW(&windowClass);
        window = CreateWindowExW(0, L"setup_tree", L"setup", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                 nullptr, nullptr, windowClass.hInstance, nullptr);
        if (window == nullptr)
            return 3;
    }
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring commandLine = L"\"" + std::wstring(self) + L"\" - sleep";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION helper{};
    if (!CreateProcessW(self, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &helper))
        return 4;
    // Written under another name and renamed, so the reader never sees half a number.
    const std::wstring partial = std::wstring(argv[1]) + L".part";
    std::FILE* out = _wfopen(partial.c_str(), L"w");
    if (out == nullptr)
        return 5;
    std::fprintf(out, "%lu", helper.dwProcessId);
    std::fclose(out);
    if (!MoveFileW(partial.c_str(), argv[1]))
        return 6;
    if (window == nullptr) {
        Sleep(INFINITE);
        return 0;
    }
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
        DispatchMessageW(&message);
    return static_cast<int>(message.wParam);
}
