#pragma once
// What the GUI module offers the launcher. The module is a shared object that the launcher
// carries in its own file and loads only when a window is to be shown, so that the launcher
// itself needs no window libraries. The module is built against the launcher's exported
// symbols: it uses the launcher's string tables, logger and message-box state, not copies.

#include "cptlib/localization/CultureSelection.h"
#include "cptlib/localization/StringResources.h"
#include "cptlib/ui/MessageBox.h"
#include "launcher/ProgressView.h"

#include <functional>
#include <memory>
#include <string>

namespace sfx {

// Raised whenever this interface or anything that crosses it changes.
constexpr int kGuiModuleVersion = 4;

class IGuiModule {
public:
    virtual ~IGuiModule() = default;

    // The windowed message box; null when the module has none.
    virtual std::shared_ptr<cptlib::IMessageBoxPresenter> CreateMessageBoxPresenter() = 0;
    // A progress window; null when the module has none.
    virtual std::unique_ptr<IProgressView> CreateProgressView() = 0;
    // The language dialog: kIdOk with `selected` set, or kIdCancel.
    virtual int RunLanguageDialog(const cptlib::CultureMap& cultures, std::string& selected,
                                  const cptlib::IStringResources& strings) = 0;
    // The folder chooser: the folder with a trailing "/", or empty when cancelled.
    virtual std::string PickFolder(const std::string& initialFolder, const std::string& title) = 0;
    // The password question of an enciphered archive: true with `password` set, false when
    // refused.
    virtual bool AskPassword(std::string& password) = 0;
    // Closes the module's open dialogs as cancelled (a stop signal ended the run). From any
    // thread; the dialogs close once the module's thread runs its events.
    virtual void CloseDialogs() = 0;
    // Runs `task` on the module's thread once its events run (inside an open dialog too). From
    // any thread.
    virtual void RunLater(std::function<void()> task) = 0;
};

// The module's one entry, exported under kGuiModuleEntry. Returns the module, or null with
// `whyNot` set when the interface versions differ or no window can be opened (no display, the
// display refuses the connection). The caller owns the result and keeps the module loaded
// while it lives.
using GuiModuleEntry = IGuiModule* (*)(int interfaceVersion, std::string& whyNot);
constexpr const char* kGuiModuleEntry = "SfxCreateGuiModule";

} // namespace sfx
