#include "launcher/GuiHost.h"

#include "common/setup/CommonSetupLogger.h"
#include "cptlib/ErrorText.h"
#include "launcher/StartupState.h"

#include <lzma.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace sfx {

namespace {

// The module is carried xz-compressed (a third of its size); its bytes are unpacked only when
// a window is wanted. False when the bytes are damaged or would need more than `limit`.
bool UnpackXz(std::string_view packed, std::string& image, std::size_t limit) {
    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_stream_decoder(&stream, UINT64_MAX, 0) != LZMA_OK)
        return false;
    // The decoder's state is released on every way out.
    const std::unique_ptr<lzma_stream, void (*)(lzma_stream*)> owner(&stream, &lzma_end);
    stream.next_in = reinterpret_cast<const std::uint8_t*>(packed.data());
    stream.avail_in = packed.size();
    image.clear();
    lzma_ret ret = LZMA_OK;
    while (ret == LZMA_OK) {
        const std::size_t done = image.size();
        if (done >= limit)
            return false;
        image.resize(std::min(limit, done + std::max<std::size_t>(done, 1 << 20)));
        stream.next_out = reinterpret_cast<std::uint8_t*>(image.data() + done);
        stream.avail_out = image.size() - done;
        ret = lzma_code(&stream, LZMA_FINISH);
        image.resize(image.size() - stream.avail_out);
    }
    return ret == LZMA_STREAM_END && stream.avail_in == 0;
}

bool IsXz(std::string_view bytes) {
    constexpr char kMagic[] = {'\xFD', '7', 'z', 'X', 'Z', '\0'};
    return bytes.substr(0, sizeof kMagic) == std::string_view(kMagic, sizeof kMagic);
}

} // namespace

GuiHost::GuiHost(std::string_view image, EnvReader getenv)
    : image_(image), getenv_(getenv ? std::move(getenv) : EnvReader(&std::getenv)) {}

GuiHost::GuiHost(GuiModuleEntry linked, EnvReader getenv)
    : linked_(linked), getenv_(getenv ? std::move(getenv) : EnvReader(&std::getenv)) {}

GuiHost::~GuiHost() {
    loaded_.store(nullptr);
}

void GuiHost::Refuse(std::string reason) {
    whyNot_ = std::move(reason);
    SETUP_LOG(cptlib::Severity::Normal) << "GUI module not used: " << whyNot_;
}

IGuiModule* GuiHost::Get(int uiLevel) {
    if (uiLevel <= UiSilent) {
        if (!silentLogged_ && !module_) {
            silentLogged_ = true;
            SETUP_LOG(cptlib::Severity::Normal) << "GUI module not used: UiLevel is Silent.";
        }
        return nullptr;
    }
    if (!tried_) {
        tried_ = true;
        return Load();
    }
    return module_.get();
}

IGuiModule* GuiHost::GetForQuestion() {
    if (!tried_) {
        tried_ = true;
        return Load();
    }
    return module_.get();
}

IGuiModule* GuiHost::Load() {
    if (linked_ != nullptr)
        return Start(linked_);
    const auto set = [this](const char* name) {
        const char* value = getenv_(name);
        return value != nullptr && *value != '\0';
    };
    if (image_.empty()) {
        Refuse("this program carries no GUI module.");
        return nullptr;
    }
    // Qt's own platforms without a display (offscreen) need no display variable.
    if (!set("DISPLAY") && !set("WAYLAND_DISPLAY") && !set("QT_QPA_PLATFORM")) {
        Refuse("no display (neither DISPLAY nor WAYLAND_DISPLAY is set).");
        return nullptr;
    }
    std::string unpacked;
    const bool packed = IsXz(image_);
    if (packed && !UnpackXz(image_, unpacked, kMaxModuleSize)) {
        Refuse("the module cannot be unpacked: its bytes are damaged.");
        return nullptr;
    }
    try {
        library_.emplace(packed ? std::string_view(unpacked) : image_, "sfxgui");
    } catch (const std::exception&) {
        Refuse("the module cannot be loaded: " + cptlib::ErrorText(0));
        return nullptr;
    }
    const auto entry = reinterpret_cast<GuiModuleEntry>(library_->FindSymbol(kGuiModuleEntry));
    if (entry == nullptr) {
        library_.reset();
        Refuse(std::string("the module has no entry ") + kGuiModuleEntry + ".");
        return nullptr;
    }
    return Start(entry);
}

IGuiModule* GuiHost::Start(GuiModuleEntry entry) {
    std::string whyNot;
    module_.reset(entry(kGuiModuleVersion, whyNot));
    if (!module_) {
        Refuse(whyNot.empty() ? "the module declined." : whyNot);
        return nullptr;
    }
    whyNot_.clear();
    loaded_.store(module_.get());
    SETUP_LOG(cptlib::Severity::Normal) << "GUI module loaded.";
    return module_.get();
}

GuiMessageBoxPresenter::GuiMessageBoxPresenter(
    GuiHost& host, std::function<int()> uiLevel,
    std::shared_ptr<cptlib::IMessageBoxPresenter> fallback)
    : host_(host), uiLevel_(std::move(uiLevel)), fallback_(std::move(fallback)) {}

int GuiMessageBoxPresenter::Show(const cptlib::MessageBoxContent& box) {
    if (!windowed_) {
        if (IGuiModule* module = host_.Get(uiLevel_()))
            windowed_ = module->CreateMessageBoxPresenter();
    }
    // A box shown despite the silent level (the help) stays on the terminal.
    if (windowed_ && uiLevel_() > UiSilent)
        return windowed_->Show(box);
    return fallback_->Show(box);
}

bool GuiMessageBoxPresenter::MainWindowVisible() const {
    return windowed_ ? windowed_->MainWindowVisible() : fallback_->MainWindowVisible();
}

namespace {

// The terminal view with the module's folder chooser and boxes. While one of the module's
// dialogs is open, its event loop runs the dialog's messages, so that a stop signal reaches it.
class WindowedFolderPickerView : public IProgressView {
public:
    WindowedFolderPickerView(std::unique_ptr<IProgressView> inner, GuiHost& host, int uiLevel)
        : inner_(std::move(inner)), host_(host), uiLevel_(uiLevel) {}

    bool Create(const ProgressViewLayout& layout) override { return inner_->Create(layout); }
    void Show(bool visible) override { inner_->Show(visible); }
    void SetTitle(const std::string& title) override { inner_->SetTitle(title); }
    void SetText(const std::string& text) override { inner_->SetText(text); }
    void SetCancelText(const std::string& text) override { inner_->SetCancelText(text); }
    void EnableCancel(bool enabled) override { inner_->EnableCancel(enabled); }
    void SetProgress(int permille) override { inner_->SetProgress(permille); }
    void SetBarState(ProgressBarState state) override { inner_->SetBarState(state); }
    void SetTaskbarProgress(int permille) override { inner_->SetTaskbarProgress(permille); }
    void SetTaskbarState(ProgressBarState state) override { inner_->SetTaskbarState(state); }
    void FlashIfNotForeground() override { inner_->FlashIfNotForeground(); }
    void EndStatusLine(bool progressGoesOn) override { inner_->EndStatusLine(progressGoesOn); }
    void RedrawStatus() override { inner_->RedrawStatus(); }
    bool CanAsk() override { return host_.Get(uiLevel_) != nullptr || inner_->CanAsk(); }
    int AskOverwrite(const cptlib::MessageBoxContent& question) override {
        return inner_->AskOverwrite(question);
    }
    int AskCancel(const cptlib::MessageBoxContent& question) override {
        if (host_.Get(uiLevel_) != nullptr)
            return IProgressView::AskCancel(question);
        // The terminal's prompt runs the messages itself.
        const int answer = inner_->AskCancel(question);
        ServeInbox();
        return answer;
    }
    // A window where one can be opened; at the silent level the terminal comes first, as the
    // user who typed /q there is at it.
    bool AskPassword(std::string& password) override {
        const bool terminalFirst = uiLevel_ <= UiSilent && inner_->CanAsk();
        if (!terminalFirst) {
            if (IGuiModule* module = host_.GetForQuestion())
                return module->AskPassword(password);
        }
        return inner_->AskPassword(password);
    }
    std::string PickFolder(const std::string& initialFolder, const std::string& title) override {
        if (IGuiModule* module = host_.Get(uiLevel_))
            return module->PickFolder(initialFolder, title);
        return inner_->PickFolder(initialFolder, title);
    }
    void ShowExtractSuccess(const cptlib::MessageBoxContent& box,
                            const std::string& folder) override {
        inner_->ShowExtractSuccess(box, folder);
    }
    void CloseQuestions() override {
        if (IGuiModule* module = host_.Loaded())
            module->CloseDialogs();
        inner_->CloseQuestions();
    }
    void RunModalLoop(cptlib::MessageInbox& inbox, const std::function<bool()>& ended) override {
        serving_ = std::make_shared<Serving>();
        serving_->inbox = &inbox;
        ServeInbox();
        try {
            inner_->RunModalLoop(inbox, ended);
        } catch (...) {
            StopServing();
            throw;
        }
        StopServing();
    }

private:
    struct Serving {
        cptlib::MessageInbox* inbox = nullptr; // null once the loop has ended
        std::atomic<bool> queued{false};
    };

    void ServeInbox() {
        if (!serving_)
            return;
        serving_->inbox->SetWakeCallback([serving = serving_, &host = host_] {
            IGuiModule* module = host.Loaded();
            if (module == nullptr || serving->queued.exchange(true))
                return;
            // Runs on the dialog's thread, inside whatever dialog of the module is open.
            module->RunLater([serving] {
                serving->queued = false;
                if (serving->inbox != nullptr)
                    serving->inbox->ProcessPending();
            });
        });
    }

    void StopServing() {
        serving_->inbox->SetWakeCallback({});
        serving_->inbox = nullptr;
        serving_.reset();
    }

    std::unique_ptr<IProgressView> inner_;
    GuiHost& host_;
    int uiLevel_;
    std::shared_ptr<Serving> serving_;
};

} // namespace

std::unique_ptr<IProgressView> MakeProgressView(GuiHost& host, int uiLevel,
                                                std::unique_ptr<IProgressView> fallback) {
    if (uiLevel <= UiHidden) {
        SETUP_LOG(cptlib::Severity::Normal)
            << "No progress window at UiLevel " << uiLevel << "; GUI module not loaded for it.";
    } else {
        if (IGuiModule* module = host.Get(uiLevel)) {
            if (auto window = module->CreateProgressView()) {
                SETUP_LOG(cptlib::Severity::Normal) << "Progress window from the GUI module.";
                return window;
            }
            SETUP_LOG(cptlib::Severity::Normal)
                << "GUI module offers no progress window; the terminal shows the progress.";
        }
    }
    return std::make_unique<WindowedFolderPickerView>(std::move(fallback), host, uiLevel);
}

} // namespace sfx
