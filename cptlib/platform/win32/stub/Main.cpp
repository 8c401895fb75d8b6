// The PE stub's entry until the launcher itself builds for Windows: it carries the launcher's
// resources, so that launcher files can be made and checked, and refuses to run.

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return ERROR_CALL_NOT_IMPLEMENTED;
}
