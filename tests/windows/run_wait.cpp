// The tests' runner: starts the command line that follows `--`, waits for it, and prints its
// 32-bit exit code as "exit=N" (Wine's own status keeps only 8 bits), after the time it was
// started as "created_qpc=N qpc_per_second=F" (the clock every process shares).
//   run_wait [--close-when FILE | --type TEXT] -- COMMAND LINE
// With --close-when, once FILE exists the program is asked to close the way taskkill without
// /f asks: WM_CLOSE to each of its top-level windows. With --type, the program runs in a
// console of the runner's into which TEXT and Enter are typed. `run_wait --alive PID` prints
// "alive=1" while that process runs, else "alive=0".

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

BOOL CALLBACK CloseWindowsOf(HWND window, LPARAM process) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == static_cast<DWORD>(process))
        PostMessageW(window, WM_CLOSE, 0, 0);
    return TRUE;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && std::wcscmp(argv[1], L"--alive") == 0) {
        const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, std::wcstoul(argv[2], nullptr, 10));
        const bool alive = process != nullptr && WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
        std::printf("alive=%d\n", alive ? 1 : 0);
        return 0;
    }
    std::wstring closeWhen, typed;
    bool typing = false;
    int first = 1;
    if (argc > 3 && std::wcscmp(argv[1], L"--close-when") == 0) {
        closeWhen = argv[2];
        first = 3;
    } else if (argc > 3 && std::wcscmp(argv[1], L"--type") == 0) {
        typed = argv[2];
        typing = true;
        first = 3;
    }
    if (first >= argc || std::wcscmp(argv[first], L"--") != 0)
        return 2;
    // The rest of our own command line, as it was written.
    const wchar_t* line = std::wcsstr(GetCommandLineW(), L" -- ");
    if (line == nullptr)
        return 2;
    std::wstring command = line + 4;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (typing) {
        // A console of our own whose handles the program is handed as its standard streams,
        // and the answer typed into it as key presses, followed by Enter.
        FreeConsole();
        AllocConsole();
        SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
        const HANDLE input =
            CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        &inherited, OPEN_EXISTING, 0, nullptr);
        const HANDLE output =
            CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, OPEN_EXISTING, 0, nullptr);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = input;
        startup.hStdOutput = output;
        startup.hStdError = output;
        typed += L'\r';
        for (const wchar_t c : typed) {
            INPUT_RECORD keys[2]{};
            for (int down = 0; down < 2; ++down) {
                keys[down].EventType = KEY_EVENT;
                keys[down].Event.KeyEvent.bKeyDown = down == 0;
                keys[down].Event.KeyEvent.wRepeatCount = 1;
                keys[down].Event.KeyEvent.wVirtualKeyCode = c == L'\r' ? VK_RETURN : 0;
                keys[down].Event.KeyEvent.uChar.UnicodeChar = c;
            }
            DWORD written = 0;
            WriteConsoleInputW(input, keys, 2, &written);
        }
    }
    PROCESS_INFORMATION process{};
    LARGE_INTEGER frequency, created;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&created);
    std::printf("created_qpc=%lld qpc_per_second=%lld\n", created.QuadPart, frequency.QuadPart);
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, typing, 0, nullptr, nullptr,
                        &startup, &process)) {
        std::printf("start failed: %lu\n", GetLastError());
        return 3;
    }
    CloseHandle(process.hThread);
    if (!closeWhen.empty()) {
        while (GetFileAttributesW(closeWhen.c_str()) == INVALID_FILE_ATTRIBUTES &&
               WaitForSingleObject(process.hProcess, 100) == WAIT_TIMEOUT) {
        }
        // Repeated: the windows may not all exist at the first request. A program that
        // ignores the requests for half a minute is ended, and that is reported.
        for (int tries = 0; WaitForSingleObject(process.hProcess, 500) == WAIT_TIMEOUT; ++tries) {
            if (tries == 60) {
                TerminateProcess(process.hProcess, 1);
                std::printf("close ignored\n");
                return 4;
            }
            EnumWindows(CloseWindowsOf, static_cast<LPARAM>(process.dwProcessId));
        }
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    std::printf("exit=%lu\n", code);
    return 0;
}
