#pragma once
// The one message box of the program: every message goes through ShowMessageBox, which logs it
// and lets the user-interface level decide whether it is shown.

#include "cptlib/localization/StringResources.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace cptlib {

// Message-box type bits.
constexpr std::uint32_t kMbOk = 0x0;
constexpr std::uint32_t kMbOkCancel = 0x1;
constexpr std::uint32_t kMbAbortRetryIgnore = 0x2;
constexpr std::uint32_t kMbYesNoCancel = 0x3;
constexpr std::uint32_t kMbYesNo = 0x4;
constexpr std::uint32_t kMbRetryCancel = 0x5;
constexpr std::uint32_t kMbCancelTryContinue = 0x6;
constexpr std::uint32_t kMbIconError = 0x10;
constexpr std::uint32_t kMbIconQuestion = 0x20;
constexpr std::uint32_t kMbIconWarning = 0x30;
constexpr std::uint32_t kMbIconInformation = 0x40;
constexpr std::uint32_t kMbDefButton2 = 0x100;
constexpr std::uint32_t kMbDefButton3 = 0x200;

constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kIdAbort = 3;
constexpr int kIdRetry = 4;
constexpr int kIdIgnore = 5;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;
constexpr int kIdTryAgain = 10;
constexpr int kIdContinue = 11;

enum class IconKind : int { None = 0, Information = 1, Warning = 2, Error = 3, Question = 4 };

// Behaviour bits of the box.
constexpr std::uint32_t MBF_NO_CLOSE = 0x01;
constexpr std::uint32_t MBF_NO_HEIGHT_LIMIT = 0x02;
constexpr std::uint32_t MBF_TOPMOST = 0x08;
constexpr std::uint32_t MBF_NO_AUTO_URL = 0x10;
constexpr std::uint32_t MBF_TASKBAR_BUTTON = 0x20;
constexpr std::uint32_t MBF_ATTENTION = 0x40;

struct ButtonSpec {
    int id = kIdOk;
    bool isDefault = false;
    std::string text;
};

// Everything a box shows; a presenter draws it and returns the pressed button's id, or
// kIdCancel for Esc and the close box.
struct MessageBoxContent {
    std::string caption;
    std::string mainInstruction;
    std::string content;
    IconKind iconKind = IconKind::None;
    std::uint32_t flags = 0;
    std::vector<ButtonSpec> buttons;
    // A clicked link's address (a file URL turned back into a path); true when handled, so the
    // box does not open the address itself. Empty: the box opens it.
    std::function<bool(const std::string& target)> linkHandler;
};

class IMessageBoxPresenter {
public:
    virtual ~IMessageBoxPresenter() = default;
    virtual int Show(const MessageBoxContent& box) = 0;
    // Whether the application's main window exists and is visible.
    virtual bool MainWindowVisible() const { return false; }
};

// The presenter that draws boxes; by default the terminal one.
void SetMessageBoxPresenter(std::shared_ptr<IMessageBoxPresenter> presenter);
IMessageBoxPresenter& GetMessageBoxPresenter();

// The application's name: the caption of boxes that name none.
void SetAppName(const std::string& name);
std::string GetAppName();

// The run's string table, for windows that are not handed one (null: none, English texts).
void SetUiStrings(const IStringResources* strings);
const IStringResources* GetUiStrings();
// The text of `id` in the run's string table, or `english` where there is none.
std::string UiText(const char* id, const char* english);

IconKind IconKindFromType(std::uint32_t type);
// The buttons of a message-box type with their texts from the string table.
std::vector<ButtonSpec> ButtonsForType(std::uint32_t type, const IStringResources* strings);

// `presenter` null: the installed one.
int ShowBigMessageBox(const IStringResources* strings, const std::string* caption,
                      const std::string* mainInstruction, const std::string& text,
                      std::uint32_t type, std::uint32_t flags,
                      IMessageBoxPresenter* presenter = nullptr);

// Returns the pressed button's id, or 0 when the level suppressed the box. `presenter` null:
// the installed one.
int ShowMessageBox(const std::string& text, std::uint32_t type, unsigned helpId, int uiLevel,
                   const IStringResources* strings, IMessageBoxPresenter* presenter = nullptr);

} // namespace cptlib
