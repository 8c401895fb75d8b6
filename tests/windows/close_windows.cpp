// Asks the top-level windows of the process whose id is its argument to close, the way a task
// manager's polite end does; ends with the number of windows asked.
#include <windows.h>

#include <cwchar>

namespace {

struct Search {
    DWORD process;
    int asked;
};

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2)
        return -1;
    Search search{static_cast<DWORD>(std::wcstoul(argv[1], nullptr, 0)), 0};
    EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            auto* search = reinterpret_cast<Search*>(context);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == search->process && PostMessageW(window, WM_CLOSE, 0, 0))
                ++search->asked;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.asked;
}
