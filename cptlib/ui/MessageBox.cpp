#include "cptlib/ui/MessageBox.h"

#include "cptlib/Log.h"
#include "cptlib/ui/TerminalMessageBox.h"

#include <mutex>

namespace cptlib {

namespace {

struct UiState {
    std::mutex mutex;
    std::shared_ptr<IMessageBoxPresenter> presenter;
    std::string appName;
    const IStringResources* uiStrings = nullptr;
};

UiState& State() {
    static UiState state;
    return state;
}

Severity SeverityForType(std::uint32_t type) {
    switch (type & 0xF0) {
    case kMbIconError:
        return Severity::Error;
    case kMbIconWarning:
        return Severity::Warning;
    default:
        return Severity::Normal;
    }
}

std::string ButtonText(int id, const IStringResources* strings) {
    const char* stringId = "OK";
    switch (id) {
    case kIdOk:
        stringId = "OK";
        break;
    case kIdCancel:
    case kIdAbort:
        stringId = "Cancel";
        break;
    case kIdRetry:
    case kIdTryAgain:
        stringId = "Retry";
        break;
    case kIdIgnore:
    case kIdContinue:
        stringId = "Ignore";
        break;
    case kIdYes:
        stringId = "Yes";
        break;
    case kIdNo:
        stringId = "No";
        break;
    }
    std::string text = strings != nullptr ? strings->GetText(stringId) : std::string();
    return text.empty() ? stringId : text;
}

} // namespace

void SetMessageBoxPresenter(std::shared_ptr<IMessageBoxPresenter> presenter) {
    std::lock_guard lock(State().mutex);
    State().presenter = std::move(presenter);
}

IMessageBoxPresenter& GetMessageBoxPresenter() {
    std::lock_guard lock(State().mutex);
    if (!State().presenter)
        State().presenter = std::make_shared<TerminalMessageBox>();
    return *State().presenter;
}

void SetAppName(const std::string& name) {
    std::lock_guard lock(State().mutex);
    State().appName = name;
}

std::string GetAppName() {
    std::lock_guard lock(State().mutex);
    return State().appName;
}

void SetUiStrings(const IStringResources* strings) {
    std::lock_guard lock(State().mutex);
    State().uiStrings = strings;
}

const IStringResources* GetUiStrings() {
    std::lock_guard lock(State().mutex);
    return State().uiStrings;
}

std::string UiText(const char* id, const char* english) {
    const IStringResources* strings = GetUiStrings();
    std::string text = strings != nullptr ? strings->GetText(id) : std::string();
    return text.empty() ? english : text;
}

IconKind IconKindFromType(std::uint32_t type) {
    switch (type & 0xF0) {
    case kMbIconError:
        return IconKind::Error;
    case kMbIconQuestion:
        return IconKind::Question;
    case kMbIconWarning:
        return IconKind::Warning;
    case kMbIconInformation:
        return IconKind::Information;
    default:
        return IconKind::None;
    }
}

std::vector<ButtonSpec> ButtonsForType(std::uint32_t type, const IStringResources* strings) {
    static const std::vector<int> kButtonIds[] = {
        {kIdOk},
        {kIdOk, kIdCancel},
        {kIdAbort, kIdRetry, kIdIgnore},
        {kIdYes, kIdNo, kIdCancel},
        {kIdYes, kIdNo},
        {kIdRetry, kIdCancel},
        {kIdCancel, kIdTryAgain, kIdContinue},
    };
    std::vector<ButtonSpec> buttons;
    const std::uint32_t set = type & 0xF;
    const std::uint32_t defaultPosition = (type >> 8) & 0xF;
    if (set < std::size(kButtonIds)) {
        const auto& ids = kButtonIds[set];
        for (std::size_t i = 0; i < ids.size(); ++i)
            buttons.push_back({ids[i], i == defaultPosition, ButtonText(ids[i], strings)});
    }
    if (buttons.empty())
        buttons.push_back({kIdOk, true, ButtonText(kIdOk, strings)});
    return buttons;
}

int ShowBigMessageBox(const IStringResources* strings, const std::string* caption,
                      const std::string* mainInstruction, const std::string& text,
                      std::uint32_t type, std::uint32_t flags, IMessageBoxPresenter* presenter) {
    MessageBoxContent box;
    box.caption = caption != nullptr ? *caption : GetAppName();
    if (mainInstruction != nullptr)
        box.mainInstruction = *mainInstruction;
    box.content = text;
    box.iconKind = IconKindFromType(type);
    box.flags = flags;
    box.buttons = ButtonsForType(type, strings);
    return (presenter != nullptr ? *presenter : GetMessageBoxPresenter()).Show(box);
}

int ShowMessageBox(const std::string& text, std::uint32_t type, unsigned /*helpId*/, int uiLevel,
                   const IStringResources* strings, IMessageBoxPresenter* presenter) {
    const Severity severity = SeverityForType(type);
    SETUP_LOG(severity) << "MessageBox: text='" << text << "', type=" << type;
    if (uiLevel == 0) {
        SETUP_LOG(severity) << "Skipping MessageBox because UiLevel is Silent.";
        return 0;
    }
    const std::uint32_t icon = type & 0xF0;
    if (uiLevel != 4 && icon != kMbIconError && icon != kMbIconWarning) {
        SETUP_LOG(severity)
            << "Skipping MessageBox because UiLevel is not Normal and message is neither error "
               "nor warning.";
        return 0;
    }
    const bool mainVisible = GetMessageBoxPresenter().MainWindowVisible();
    const std::string caption = GetAppName();
    const int result = ShowBigMessageBox(strings, &caption, nullptr, text, type,
                                         mainVisible ? 0x42u : 0x62u, presenter);
    SETUP_LOG(severity) << "MessageBox return value: " << result;
    return result;
}

} // namespace cptlib
