// TEMPORARY: the seams that other work brings to Windows, failing or inert until it lands.

#include "cptlib/Exceptions.h"
#include "cptlib/platform/BrokenPipe.h"
#include "cptlib/platform/ChildProcess.h"
#include "cptlib/platform/DesktopOpener.h"
#include "cptlib/platform/Disk.h"
#include "cptlib/platform/FolderEntries.h"
#include "cptlib/platform/FolderLock.h"
#include "cptlib/platform/FolderSafety.h"
#include "cptlib/platform/FolderTree.h"
#include "cptlib/platform/ProgramSearch.h"
#include "cptlib/platform/SignalWatch.h"
#include "cptlib/platform/TargetFolder.h"
#include "cptlib/platform/Terminal.h"
#include "cptlib/platform/TerminalInput.h"
#include "cptlib/platform/XdgFolders.h"

#include <iostream>

namespace cptlib::platform {

struct SignalWatch::State {};

namespace {
constexpr std::uint32_t kPending = kErrorCallNotImplemented;
}

std::vector<std::string> LocalWritableMountPoints() { return {}; }
std::uint32_t GetFreeBytes(const std::string&, std::uint64_t&) { return kPending; }
std::uint32_t QueryAllowsExecution(const std::string&, bool&) { return kPending; }
bool CanWriteFolder(const std::string&) { return false; }
std::uint32_t RenameInFolder(FileHandle, const std::string&, const std::string&) { return kPending; }
void RemoveFileInFolder(FileHandle, const std::string&) {}
void MarkBeingWritten(FileHandle) {}
void RemoveAbandonedFiles(FileHandle, const std::function<bool(const std::string&)>&, std::int64_t) {}
std::string UserNameOf(UserId) { return {}; }
bool ChangedLongerAgoThan(const std::string&, std::int64_t) { return false; }
bool IsProgramFile(const std::string&) { return false; }
std::uint32_t ChildProcess::Start(const std::string&, const std::vector<std::string>&,
                                  const std::string&) { return kPending; }
std::uint32_t ChildProcess::StartIn(const FolderHandle&, const std::string&,
                                    const std::vector<std::string>&, const std::string&) {
    return kPending;
}
std::optional<int> ChildProcess::Wait() { return std::nullopt; }
bool ChildProcess::Started() const { return false; }
void ChildProcess::ForwardStopSignal(StopSignal, bool) {}
std::uint32_t TargetFolder::Open(const std::string&) { return kPending; }
std::uint32_t TargetFolder::Open(const FolderHandle&) { return kPending; }
std::uint32_t TargetFolder::Lookup(NameParts, TargetEntry&) { return kPending; }
std::uint32_t TargetFolder::MakeFolder(NameParts, std::uint32_t) { return kPending; }
std::uint32_t TargetFolder::CreateFile(NameParts, std::uint32_t, FileDescriptor&) { return kPending; }
std::uint32_t TargetFolder::Remove(NameParts) { return kPending; }
std::uint32_t TargetFolder::OpenParentFolder(NameParts, FileDescriptor&) { return kPending; }
std::uint32_t TargetFolder::MakeSymlink(NameParts, const std::string&) { return kPending; }
std::uint32_t TargetFolder::MakeHardLink(NameParts, NameParts) { return kPending; }
std::uint32_t TargetFolder::SetFolderMode(NameParts, std::uint32_t) { return kPending; }
std::uint32_t TargetFolder::TouchNow(NameParts) { return kPending; }
std::uint32_t CreateFolderTree(const std::string&) { return kPending; }
std::uint32_t CurrentUmask() { return 0; }
std::uint32_t WriteFully(const FileDescriptor&, const std::uint8_t*, std::size_t) { return kPending; }
std::uint32_t FinishFile(FileDescriptor&, std::optional<std::uint32_t>) { return kPending; }
FolderHandle::~FolderHandle() {}
FolderHandle& FolderHandle::operator=(FolderHandle&&) noexcept { return *this; }
void FolderHandle::Close() noexcept {}
std::uint32_t CreateOwnFolder(const std::string&, FolderHandle&) { return kPending; }
std::uint32_t RenameNoReplace(const std::string&, const std::string&) { return kPending; }
std::uint32_t RemoveFolderIfSame(const std::string&, const FolderHandle&) { return kPending; }
std::string PathThrough(const FolderHandle&, const std::string& name) { return name; }
bool NameIsStable(const std::string&, const FolderHandle&) { return false; }
std::uint32_t GetEntryStatus(const FolderHandle*, const std::string&, EntryStatus&) { return kPending; }
std::uint32_t OpenFolder(const FolderHandle*, const std::string&, FolderHandle&) { return kPending; }
std::uint32_t ListFolder(const FolderHandle&, std::vector<std::string>&) { return kPending; }
std::uint32_t MakeWritable(const FolderHandle*, const std::string&) { return kPending; }
std::uint32_t DeleteEntry(const FolderHandle*, const std::string&) { return kPending; }
std::uint32_t RemoveFolder(const FolderHandle*, const std::string&) { return kPending; }
bool StdinIsTerminal() { return false; }
bool StderrIsTerminal() { return false; }
int StderrColumns() { return 80; }
int DisplayColumns(std::string_view text) { return static_cast<int>(text.size()); }
std::string FitToColumns(std::string_view text, int) { return std::string(text); }
std::uint32_t FolderLock::PassToChildren() noexcept { return kPending; }
std::uint32_t LockOwnFolder(const std::string&, FolderLock&) { return kPending; }
bool LockStaleFolder(const std::string&, FolderLock&) { return false; }
std::string GetHomeDirectory() { return {}; }
bool IsDirectory(const std::string&) { return false; }
void IgnoreBrokenPipe() {}
void IgnoreFileSizeLimit() {}
std::istream& TerminalIn() { return std::cin; }
bool ReadHiddenLine(std::string&) { return false; }
PromptWake::PromptWake() {}
PromptWake::~PromptWake() {}
void PromptWake::Wake() const noexcept {}
std::unique_ptr<std::istream> OpenPrompt(PromptOptions) { return nullptr; }
std::uint32_t ShareWithDelegatingUser(const std::string&, const std::string&) { return kPending; }
void OpenWithDesktop(const std::string&, const std::string&, std::chrono::milliseconds) {}
bool OthersMayReplaceEntries(const std::string&) { return true; }
bool OpenFolderSafely(const std::string&, FolderHandle&, FolderRefusal&) { return false; }
bool RunningAsRoot() { return false; }
std::string FindProgram(std::string_view) { return {}; }
std::filesystem::path StartedAsPath(std::string_view argument0) {
    return PathFromUtf8(std::string(argument0));
}
SignalWatch::SignalWatch(std::function<void(const StopSignalEvent&)>) {}
SignalWatch::~SignalWatch() {}
void SignalWatch::EndPrompts() {}

} // namespace cptlib::platform
