#pragma once
// Messages between the workers (extraction, setup) and the progress dialog's inbox.

#include "cptlib/sys/MessageInbox.h"

#include <cstddef>

namespace sfx {

constexpr cptlib::MessageId kWmApp = 0x8000;

// Posted by the dialog to itself.
constexpr cptlib::MessageId WM_SFX_START_EXTRACT = kWmApp + 1;
// Posted by the setup worker once the setup program runs.
constexpr cptlib::MessageId WM_SFX_HIDE = kWmApp + 2;
// Posted by the setup worker last: wParam = setup exit code, lParam = SetupOutcome.
constexpr cptlib::MessageId WM_SFX_SETUP_DONE = kWmApp + 3;
// Posted by the extraction worker; exactly one of these three ends a run.
constexpr cptlib::MessageId WM_SFX_EXTRACT_DONE = kWmApp + 4;
constexpr cptlib::MessageId WM_SFX_EXTRACT_CANCELLED = kWmApp + 5;
constexpr cptlib::MessageId WM_SFX_EXTRACT_FAILED = kWmApp + 6;
// Sent: wParam = address of the ExtractionError, valid during the send; reply ignored.
constexpr cptlib::MessageId WM_SFX_EXTRACT_ERROR = kWmApp + 7;
// Sent: lParam = progress in tenths of a percent (0..1000); reply ignored.
constexpr cptlib::MessageId WM_SFX_PROGRESS = kWmApp + 8;
// Sent: lParam = address of the existing file's name (const char*, UTF-8, NUL-terminated); reply
// is an OverwriteAnswer.
constexpr cptlib::MessageId WM_SFX_ASK_OVERWRITE = kWmApp + 9;
// Posted before the extract folder is deleted.
constexpr cptlib::MessageId WM_SFX_DELETING = kWmApp + 10;
// Sent: wParam = address of the password buffer (char*, filled with UTF-8 and a NUL), lParam =
// its capacity in bytes; reply kPasswordEntered when the buffer holds the password, else
// kPasswordRefused.
constexpr cptlib::MessageId WM_SFX_ASK_PASSWORD = kWmApp + 11;

// Replies to WM_SFX_ASK_OVERWRITE, and the preset answer of /overwriteanswer (named there in
// this order).
enum OverwriteAnswer : int {
    kOverwriteYes = 0,
    kOverwriteYesToAll = 1,
    kOverwriteNo = 2,
    kOverwriteNoToAll = 3,
    kOverwriteCancel = 4,
};

// lParam of WM_SFX_SETUP_DONE.
constexpr cptlib::LParam kSetupFinished = 0;
constexpr cptlib::LParam kSetupCancelled = 1;
constexpr cptlib::LParam kSetupFailed = 2; // the setup worker holds the exception

// Replies to WM_SFX_ASK_PASSWORD.
constexpr cptlib::LResult kPasswordEntered = 1;
constexpr cptlib::LResult kPasswordRefused = 2;
constexpr std::size_t kPasswordCapacity = 1024;

} // namespace sfx
