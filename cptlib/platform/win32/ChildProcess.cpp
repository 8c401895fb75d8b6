#include "cptlib/platform/ChildProcess.h"

#include "cptlib/SystemError.h"
#include "cptlib/platform/win32/Wide.h"
#include "cptlib/sys/CommandLineSplit.h"

#include <windows.h>

#include <thread>

namespace cptlib::platform {

namespace {

// How long a cancelled setup may take to close on its own before everything it started ends:
// long enough to roll back what it began, short enough that a cancel is seen to work.
constexpr DWORD kCancelGrace = 10000;

std::string WithBackslashes(std::string path) {
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

bool IsBareName(const std::string& path) {
    return path.find_first_of("/\\:") == std::string::npos;
}

// The standard handles for the program, as inheritable copies: only these cross over, whatever
// else of the launcher happens to be inheritable.
class InheritedHandles {
public:
    InheritedHandles() {
        const DWORD which[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
        for (int i = 0; i < 3; ++i) {
            const HANDLE source = GetStdHandle(which[i]);
            if (source == nullptr || source == INVALID_HANDLE_VALUE)
                continue;
            HANDLE copy = nullptr;
            if (DuplicateHandle(GetCurrentProcess(), source, GetCurrentProcess(), &copy, 0, TRUE,
                                DUPLICATE_SAME_ACCESS))
                copies_[i] = copy;
        }
    }
    ~InheritedHandles() {
        for (const HANDLE copy : copies_)
            if (copy != nullptr)
                CloseHandle(copy);
    }
    InheritedHandles(const InheritedHandles&) = delete;
    InheritedHandles& operator=(const InheritedHandles&) = delete;

    HANDLE operator[](int i) const { return copies_[i]; }
    // The distinct handles, for the inherited-handle list (a handle must appear once).
    std::vector<HANDLE> List() const {
        std::vector<HANDLE> list;
        for (const HANDLE copy : copies_)
            if (copy != nullptr)
                list.push_back(copy);
        return list;
    }

private:
    HANDLE copies_[3] = {nullptr, nullptr, nullptr};
};

// Asks the top-level windows of the process `id` to close, as a user closing them would.
void AskWindowsToClose(DWORD id) {
    EnumWindows(
        [](HWND window, LPARAM target) -> BOOL {
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == static_cast<DWORD>(target) && GetWindow(window, GW_OWNER) == nullptr)
                PostMessageW(window, WM_CLOSE, 0, 0);
            return TRUE;
        },
        static_cast<LPARAM>(id));
}

} // namespace

bool IsProgramFile(const std::string& path) {
    if (path.size() < 4)
        return false;
    std::string tail = path.substr(path.size() - 4);
    for (char& c : tail)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return tail == ".exe";
}

ChildProcess::~ChildProcess() {
    // Closing the job ends nothing: what the setup started to outlive it (the product it
    // offers to run at its end) goes on.
    if (process_ != nullptr)
        CloseHandle(process_);
    if (job_ != nullptr)
        CloseHandle(job_);
}

std::uint32_t ChildProcess::Start(SpawnRequest request) {
    std::string parameters;
    for (const std::string& argument : request.arguments) {
        if (!parameters.empty())
            parameters += ' ';
        parameters += QuoteArgument(argument);
    }
    return StartCommandLine(request.program, parameters, request.directory);
}

std::uint32_t ChildProcess::Start(const std::string& file,
                                  const std::vector<std::string>& arguments,
                                  const std::string& directory) {
    SpawnRequest request;
    request.program = file;
    request.arguments = arguments;
    request.directory = directory;
    return Start(std::move(request));
}

std::uint32_t ChildProcess::StartCommand(const std::string& file, const std::string& parameters,
                                         const std::string& directory) {
    return StartCommandLine(file, parameters, directory);
}

std::uint32_t ChildProcess::StartCommandLine(const std::string& file, const std::string& parameters,
                                             const std::string& directory) {
    std::lock_guard lock(mutex_);
    if (process_ != nullptr)
        return kErrorInvalidParameter;
    // A bare name would be looked up in the current folder and the launcher's own.
    if (file.empty() || IsBareName(file))
        return kErrorFileNotFound;
    const std::wstring program = Widen(WithBackslashes(file));
    // The program's name is quoted whole: the runtime takes argument 0 up to the closing quote,
    // without escapes, and a file name holds no quote.
    std::wstring commandLine = L"\"" + program + L"\"";
    if (!parameters.empty())
        commandLine += L" " + Widen(parameters);
    const std::wstring folder = Widen(WithBackslashes(directory));

    InheritedHandles handles;
    const std::vector<HANDLE> list = handles.List();
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<unsigned char> storage(size);
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
    if (!InitializeProcThreadAttributeList(attributes, 1, 0, &size))
        return GetLastError();
    struct AttributeListEnd {
        LPPROC_THREAD_ATTRIBUTE_LIST list;
        ~AttributeListEnd() { DeleteProcThreadAttributeList(list); }
    } attributeListEnd{attributes};
    if (!list.empty() &&
        !UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                   const_cast<HANDLE*>(list.data()), list.size() * sizeof(HANDLE),
                                   nullptr, nullptr))
        return GetLastError();

    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.lpAttributeList = attributes;
    if (!list.empty()) {
        startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
        startup.StartupInfo.hStdInput = handles[0];
        startup.StartupInfo.hStdOutput = handles[1];
        startup.StartupInfo.hStdError = handles[2];
    }
    // Suspended until it is in the job, so that nothing it starts escapes the job.
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(
            program.c_str(), commandLine.data(), nullptr, nullptr, !list.empty(),
            CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT | EXTENDED_STARTUPINFO_PRESENT, nullptr,
            folder.empty() ? nullptr : folder.c_str(), &startup.StartupInfo, &started))
        return GetLastError();
    // Without a job (a launcher in a job that forbids nesting) a cancel ends the setup alone.
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (job != nullptr && !AssignProcessToJobObject(job, started.hProcess)) {
        CloseHandle(job);
        job = nullptr;
    }
    ResumeThread(started.hThread);
    CloseHandle(started.hThread);
    process_ = started.hProcess;
    job_ = job;
    processId_ = started.dwProcessId;
    reaped_ = false;
    if (pending_) {
        pending_.reset();
        Cancel();
    }
    return 0;
}

std::optional<int> ChildProcess::Wait() {
    HANDLE process;
    {
        std::lock_guard lock(mutex_);
        if (process_ == nullptr || reaped_)
            return std::nullopt;
        process = process_;
    }
    // The handle stays open until destruction, so a cancel meanwhile reaches this process only.
    if (WaitForSingleObject(process, INFINITE) != WAIT_OBJECT_0)
        return std::nullopt;
    DWORD code = 0;
    if (!GetExitCodeProcess(process, &code))
        return std::nullopt;
    std::lock_guard lock(mutex_);
    reaped_ = true;
    return static_cast<int>(code);
}

bool ChildProcess::Started() const {
    std::lock_guard lock(mutex_);
    return process_ != nullptr;
}

// Any stop is a cancel here: a run that ends must leave no setup behind. A console's Ctrl+C
// reached a setup in that console already; a setup with windows is asked to close them. Once it
// has ended, or after the grace time, everything still running that it started ends with the
// cancel's code.
void ChildProcess::ForwardStopSignal(StopSignal /*kind*/, bool toGroup) {
    std::lock_guard lock(mutex_);
    if (process_ == nullptr) {
        pending_ = StopSignal::Terminate;
        return;
    }
    if (reaped_)
        return;
    if (!toGroup)
        AskWindowsToClose(processId_);
    Cancel();
}

void ChildProcess::Cancel() {
    HANDLE process = nullptr;
    HANDLE job = nullptr;
    const HANDLE self = GetCurrentProcess();
    if (!DuplicateHandle(self, process_, self, &process, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return;
    if (job_ != nullptr &&
        !DuplicateHandle(self, job_, self, &job, 0, FALSE, DUPLICATE_SAME_ACCESS))
        job = nullptr;
    // The timer owns its copies of the handles: the launcher may be gone from this object.
    std::thread([process, job] {
        // Helpers of a setup that closed in time end with it.
        const bool closed = WaitForSingleObject(process, kCancelGrace) == WAIT_OBJECT_0;
        if (job != nullptr)
            TerminateJobObject(job, kErrorInstallUserExit);
        else if (!closed)
            TerminateProcess(process, kErrorInstallUserExit);
        CloseHandle(process);
        if (job != nullptr)
            CloseHandle(job);
    }).detach();
}

} // namespace cptlib::platform
