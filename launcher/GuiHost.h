#pragma once
// The launcher's side of the GUI module: loads it the first time a window is wanted, and
// falls back to the terminal where it cannot be loaded (silent level, no display, no window
// libraries on the machine, a damaged module).

#include "cptlib/platform/MemoryModule.h"
#include "cptlib/ui/MessageBox.h"
#include "launcher/GuiModule.h"
#include "launcher/ProgressView.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace sfx {

class GuiHost {
public:
    using EnvReader = std::function<const char*(const char*)>;

    // `image`: the module's bytes, as they are or xz-compressed (empty: the program carries
    // none); they must outlive the host.
    explicit GuiHost(std::string_view image, EnvReader getenv = {});
    // Windows linked into the program: `linked` is the module's entry.
    explicit GuiHost(GuiModuleEntry linked, EnvReader getenv = {});
    ~GuiHost();
    GuiHost(const GuiHost&) = delete;
    GuiHost& operator=(const GuiHost&) = delete;

    // The module when a window may be shown at this level; null otherwise. Loading is tried
    // once; the reason for not using the module is logged once.
    IGuiModule* Get(int uiLevel);
    // The module for a question that every level asks (the password), the silent one included.
    IGuiModule* GetForQuestion();
    // The module once loaded, without loading it; from any thread.
    IGuiModule* Loaded() const { return loaded_.load(); }
    // Why the module is not in use; empty while it is, or before it was first wanted.
    const std::string& WhyNot() const { return whyNot_; }

    // Unpacked modules larger than this are refused as damaged.
    static constexpr std::size_t kMaxModuleSize = std::size_t{64} << 20;

private:
    IGuiModule* Load();
    IGuiModule* Start(GuiModuleEntry entry);
    void Refuse(std::string reason);

    std::string_view image_;
    GuiModuleEntry linked_ = nullptr;
    EnvReader getenv_;
    bool tried_ = false;
    bool silentLogged_ = false;
    std::string whyNot_;
    std::optional<cptlib::platform::MemoryModule> library_;
    // Declared after the library: destroyed while its code is still loaded.
    std::unique_ptr<IGuiModule> module_;
    std::atomic<IGuiModule*> loaded_{nullptr};
};

// Draws message boxes with the module's presenter when the module can be used at the level
// `uiLevel` returns at the time of the box, else with `fallback`.
class GuiMessageBoxPresenter : public cptlib::IMessageBoxPresenter {
public:
    GuiMessageBoxPresenter(GuiHost& host, std::function<int()> uiLevel,
                           std::shared_ptr<cptlib::IMessageBoxPresenter> fallback);
    int Show(const cptlib::MessageBoxContent& box) override;
    bool MainWindowVisible() const override;

private:
    GuiHost& host_;
    std::function<int()> uiLevel_;
    std::shared_ptr<cptlib::IMessageBoxPresenter> fallback_;
    std::shared_ptr<cptlib::IMessageBoxPresenter> windowed_;
};

// The progress dialog's view: the module's progress window from level 2 up, else `fallback`
// (the terminal view), whose folder chooser is still the module's where it can be loaded.
std::unique_ptr<IProgressView> MakeProgressView(GuiHost& host, int uiLevel,
                                                std::unique_ptr<IProgressView> fallback);

} // namespace sfx
