#include "WindowsProcess.h"

#include "cptlib/Exceptions.h"
#include "cptlib/Utf.h"
#include "cptlib/sys/CommandLineSplit.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

namespace windows_test {

std::filesystem::path ProgramFolder() {
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (n < name.size()) {
            name.resize(n);
            break;
        }
        name.resize(name.size() * 2);
    }
    return std::filesystem::path(name).parent_path();
}

std::uint32_t RunAndWait(const std::filesystem::path& program, const std::string& parameters) {
    const std::string line =
        cptlib::QuoteArgument(cptlib::Utf8FromPath(program)) + " " + parameters;
    const auto utf16 = cptlib::Utf8ToUtf16(line);
    if (!utf16) {
        ADD_FAILURE() << "not UTF-8: " << line;
        return ~0u;
    }
    std::vector<wchar_t> commandLine(utf16->begin(), utf16->end());
    commandLine.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process)) {
        ADD_FAILURE() << "CreateProcessW failed with " << GetLastError() << ": " << line;
        return ~0u;
    }
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = ~0u;
    EXPECT_TRUE(GetExitCodeProcess(process.hProcess, &code)) << GetLastError();
    CloseHandle(process.hProcess);
    return code;
}

} // namespace windows_test
