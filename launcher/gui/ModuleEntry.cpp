// The GUI module's entry: checks that a window can be opened at all, then makes the one
// QApplication of the process. Qt's platform plugins end the process (qFatal) when they cannot
// connect, so the display is probed here first and the launcher falls back to the terminal.

#include "common/setup/CommonSetupLogger.h"
#include "cptlib/ErrorText.h"
#include "cptlib/SystemError.h"
#include "cptlib/platform/LocalSocket.h"
#include "cptlib/ui/qt/QtMessageBoxPresenter.h"
#include "cptlib/ui/qt/VistaDialog.h"
#include "launcher/GuiModule.h"
#include "launcher/gui/EnterPasswordDlg.h"
#include "launcher/gui/FolderChooser.h"
#include "launcher/gui/ProductIcon.h"
#include "launcher/gui/ProgressWindow.h"
#include "launcher/gui/UnzipLanguageDlg.h"

#include <QApplication>
#include <QFileInfo>
#include <QLibrary>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace sfx {

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

using XcbConnection = std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)>;

// `probe` keeps the connection: an X server with no other client resets when the last one
// leaves, and would refuse Qt's connection while it does.
bool CanOpenX11(std::string& whyNot, XcbConnection& probe) {
    const std::string display = Env("DISPLAY");
    if (display.empty()) {
        whyNot = "DISPLAY is not set.";
        return false;
    }
    XcbConnection connection(xcb_connect(nullptr, nullptr), &xcb_disconnect);
    if (const int error = xcb_connection_has_error(connection.get()); error != 0) {
        whyNot = "the X display \"" + display + "\" cannot be opened (xcb error " +
                 std::to_string(error) + ").";
        return false;
    }
    probe = std::move(connection);
    return true;
}

bool CanOpenWayland(std::string& whyNot) {
    const std::string display = Env("WAYLAND_DISPLAY");
    if (display.empty()) {
        whyNot = "WAYLAND_DISPLAY is not set.";
        return false;
    }
    const std::string path =
        display.front() == '/' ? display : Env("XDG_RUNTIME_DIR") + "/" + display;
    const std::uint32_t error = cptlib::platform::ProbeLocalSocket(path);
    if (error == cptlib::kErrorFilenameExcedRange) {
        whyNot = "the Wayland socket path is too long.";
        return false;
    }
    if (error != cptlib::kErrorSuccess) {
        whyNot = "the Wayland display \"" + path + "\" cannot be opened.";
        return false;
    }
    return true;
}

// Qt ends the process too when the platform plugin or a library it needs is missing (Debian
// ships the plugins apart from the Qt libraries), so the plugin is loaded here first.
bool CanLoadPlatformPlugin(const std::string& name, std::string& whyNot) {
    const QStringList files = name == "wayland"
                                  ? QStringList{"libqwayland-generic.so", "libqwayland-egl.so"}
                                  : QStringList{"libq" + QString::fromStdString(name) + ".so"};
    QStringList folders;
    if (const std::string own = Env("QT_QPA_PLATFORM_PLUGIN_PATH"); !own.empty())
        folders.push_back(QString::fromStdString(own));
    for (const QString& path : QCoreApplication::libraryPaths())
        folders.push_back(path + "/platforms");
    std::string errors;
    for (const QString& folder : folders) {
        for (const QString& file : files) {
            const QString path = folder + "/" + file;
            if (!QFileInfo::exists(path))
                continue;
            QLibrary plugin(path);
            if (plugin.load())
                return true;
            errors += " " + plugin.errorString().toStdString();
        }
    }
    whyNot = errors.empty() ? "Qt's platform plugin \"" + name + "\" is not installed."
                            : "Qt's platform plugin \"" + name + "\" cannot be loaded:" + errors;
    return false;
}

// The platform Qt is to use: the first of QT_QPA_PLATFORM's list that can be opened, else
// Wayland or X11 as the session offers them. Empty with `whyNot` set when none can be opened.
std::string ChoosePlatform(std::string& whyNot, XcbConnection& probe) {
    std::vector<std::string> candidates;
    const std::string requested = Env("QT_QPA_PLATFORM");
    for (std::size_t start = 0; start < requested.size();) {
        const std::size_t end = std::min(requested.find(';', start), requested.size());
        if (end > start)
            candidates.push_back(requested.substr(start, end - start));
        start = end + 1;
    }
    if (candidates.empty())
        candidates = {"wayland", "xcb"};
    std::string reasons;
    for (const std::string& candidate : candidates) {
        const std::string name = candidate.substr(0, candidate.find(':'));
        std::string reason;
        bool usable = true;
        if (name == "offscreen" || name.rfind("minimal", 0) == 0) {
            // Nobody could answer a dialog there; the run would wait for ever.
            usable = false;
            reason = "Qt's platform \"" + name + "\" shows no window.";
        } else if (name == "xcb") {
            usable = CanOpenX11(reason, probe);
        } else if (name.rfind("wayland", 0) == 0) {
            usable = CanOpenWayland(reason);
        }
        // Other platforms (vnc, linuxfb, ...) need no display to connect to.
        if (usable && CanLoadPlatformPlugin(name, reason))
            return candidate;
        reasons += (reasons.empty() ? "" : " ") + reason;
    }
    whyNot = "no display can be opened: " + reasons;
    return {};
}

// Qt's own messages go to the log rather than onto the terminal.
void QtMessageToLog(QtMsgType type, const QMessageLogContext&, const QString& message) {
    const cptlib::Severity severity = type == QtWarningMsg    ? cptlib::Severity::Warning
                                      : type == QtCriticalMsg ? cptlib::Severity::Error
                                      : type == QtFatalMsg    ? cptlib::Severity::Error
                                                              : cptlib::Severity::Normal;
    SETUP_LOG(severity) << "Qt: " << message.toStdString();
}

class WindowsModule final : public IGuiModule {
public:
    explicit WindowsModule(const std::string& platform)
        : arguments_{"setup", "-platform", platform} {
        for (std::string& argument : arguments_)
            argv_.push_back(argument.data());
        argv_.push_back(nullptr);
        argc_ = static_cast<int>(arguments_.size());
        previousHandler_ = qInstallMessageHandler(&QtMessageToLog);
        app_ = std::make_unique<QApplication>(argc_, argv_.data());
        // The launcher ends its windows itself; closing one must not end a running loop.
        QApplication::setQuitOnLastWindowClosed(false);
        QApplication::setWindowIcon(ProductIcon());
        // The title of a window that has none (no ProductName) instead of the program's name.
        QCoreApplication::setApplicationName(
            QString::fromStdString(cptlib::UiText("SfxAppTitle", "Setup Self-Extractor")));
        LoadQtTranslations();
    }

    ~WindowsModule() override {
        app_.reset();
        qInstallMessageHandler(previousHandler_);
    }

    std::shared_ptr<cptlib::IMessageBoxPresenter> CreateMessageBoxPresenter() override {
        return std::make_shared<cptlib::CQtMessageBoxPresenter>();
    }

    std::unique_ptr<IProgressView> CreateProgressView() override {
        return std::make_unique<CProgressWindow>();
    }

    int RunLanguageDialog(const cptlib::CultureMap& cultures, std::string& selected,
                          const cptlib::IStringResources& strings) override {
        return RunLanguageDialogWindow(cultures, selected, strings);
    }

    std::string PickFolder(const std::string& initialFolder, const std::string& title) override {
        return ChooseFolder(nullptr, title, initialFolder);
    }

    bool AskPassword(std::string& password) override {
        CEnterPasswordDlg dialog;
        if (dialog.DoModal() != cptlib::kIdOk)
            return false;
        password = dialog.Password();
        return true;
    }

    void CloseDialogs() override {
        QMetaObject::invokeMethod(
            app_.get(), [] { cptlib::CloseModalDialogs(); }, Qt::QueuedConnection);
    }

    void RunLater(std::function<void()> task) override {
        QMetaObject::invokeMethod(app_.get(), std::move(task), Qt::QueuedConnection);
    }

private:
    std::vector<std::string> arguments_;
    std::vector<char*> argv_;
    int argc_ = 0;
    QtMessageHandler previousHandler_ = nullptr;
    std::unique_ptr<QApplication> app_;
};

} // namespace

} // namespace sfx

extern "C" __attribute__((visibility("default"))) sfx::IGuiModule*
SfxCreateGuiModule(int interfaceVersion, std::string& whyNot) {
    if (interfaceVersion != sfx::kGuiModuleVersion) {
        whyNot = "the module has interface version " + std::to_string(sfx::kGuiModuleVersion) +
                 ", the launcher expects " + std::to_string(interfaceVersion) + ".";
        return nullptr;
    }
    if (QCoreApplication::instance() != nullptr) {
        whyNot = "a Qt application object exists already.";
        return nullptr;
    }
    try {
        sfx::XcbConnection probe(nullptr, &xcb_disconnect);
        const std::string platform = sfx::ChoosePlatform(whyNot, probe);
        if (platform.empty())
            return nullptr;
        // The probe connection is let go once Qt holds its own.
        return std::make_unique<sfx::WindowsModule>(platform).release();
    } catch (const std::exception&) {
        whyNot = "the windows cannot be set up: " + cptlib::ErrorText(0);
        return nullptr;
    }
}
