#include "launcher/gui/DesktopBus.h"

#include "common/setup/CommonSetupLogger.h"
#include "cptlib/ErrorText.h"
#include "cptlib/Exceptions.h"
#include "cptlib/SystemError.h"
#include "cptlib/sys/ShellDispatch.h"
#include "cptlib/ui/MessageBox.h"
#include "launcher/ExtractFolder.h"
#include "launcher/ExtractOnly.h"

#include <QCoreApplication>
#include <QDBusError>
#include <QDBusMessage>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHash>
#include <QStringList>

#include <filesystem>
#include <system_error>

namespace sfx {

namespace {

constexpr auto kLauncherEntryInterface = "com.canonical.Unity.LauncherEntry";
constexpr auto kFileManagerService = "org.freedesktop.FileManager1";
constexpr auto kFileManagerPath = "/org/freedesktop/FileManager1";
// A file manager that has to start first may take a while to answer.
constexpr int kShowItemsTimeoutMs = 10000;

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

std::string WithoutTrailingSlashes(std::string name) {
    while (!name.empty() && name.back() == '/')
        name.pop_back();
    return name;
}

// The item must exist for the file manager to select it.
void CheckExists(const std::string& path, const char* text) {
    std::error_code error;
    const auto status = std::filesystem::symlink_status(cptlib::PathFromUtf8(path), error);
    if (!error && std::filesystem::exists(status))
        return;
    CPT_THROW(cptlib::SystemError(error ? cptlib::ErrnoToWin32Error(error.value())
                                        : cptlib::MakeWin32Error(cptlib::kErrorFileNotFound),
                                  text + Quoted(path)));
}

bool NoFileManager(const QDBusMessage& reply) {
    const QString name = reply.errorName();
    // A file manager that the bus knows but cannot start counts as none.
    if (name.startsWith(QLatin1String("org.freedesktop.DBus.Error.Spawn.")))
        return true;
    return name == QDBusError::errorString(QDBusError::ServiceUnknown) ||
           name == QDBusError::errorString(QDBusError::NoServer) ||
           name == QDBusError::errorString(QDBusError::Disconnected) ||
           name == QDBusError::errorString(QDBusError::UnknownMethod) ||
           name == QDBusError::errorString(QDBusError::UnknownInterface) ||
           name == QDBusError::errorString(QDBusError::UnknownObject);
}

} // namespace

CTaskbarProgress::CTaskbarProgress(QDBusConnection bus, QString appUri)
    : bus_(std::move(bus)), appUri_(std::move(appUri)),
      objectPath_(QStringLiteral("/com/canonical/unity/launcherentry/%1").arg(qHash(appUri_))) {}

CTaskbarProgress::~CTaskbarProgress() {
    if (visible_ || urgent_)
        Update({{QStringLiteral("progress-visible"), false}, {QStringLiteral("urgent"), false}});
}

QString CTaskbarProgress::DefaultAppUri() {
    QString name = QGuiApplication::desktopFileName();
    if (name.isEmpty())
        name = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    if (!name.endsWith(QLatin1String(".desktop")))
        name += QLatin1String(".desktop");
    return QStringLiteral("application://") + name;
}

void CTaskbarProgress::SetVisible(bool visible) {
    if (visible == visible_)
        return;
    visible_ = visible;
    QVariantMap properties{{QStringLiteral("progress-visible"), visible}};
    if (visible && permille_ >= 0)
        properties.insert(QStringLiteral("progress"), permille_ / 1000.0);
    Update(properties);
}

void CTaskbarProgress::SetProgress(int permille) {
    if (permille == permille_)
        return;
    permille_ = permille;
    if (visible_)
        Update({{QStringLiteral("progress"), permille / 1000.0}});
}

void CTaskbarProgress::SetState(ProgressBarState state) {
    const bool urgent = state == ProgressBarState::Error;
    if (urgent == urgent_)
        return;
    urgent_ = urgent;
    Update({{QStringLiteral("urgent"), urgent}});
}

void CTaskbarProgress::Update(const QVariantMap& properties) {
    if (!bus_.isConnected())
        return;
    QDBusMessage signal = QDBusMessage::createSignal(
        objectPath_, QLatin1String(kLauncherEntryInterface), QStringLiteral("Update"));
    signal << appUri_ << properties;
    bus_.send(signal);
}

std::vector<std::string> TopLevelItems(const std::string& extractDir,
                                       const std::vector<std::string>& extractedNames) {
    std::vector<std::string> items;
    for (const std::string& name : extractedNames) {
        const std::string item = WithoutTrailingSlashes(name);
        if (item.empty() || item.find('/') != std::string::npos)
            continue;
        items.push_back(JoinPath(extractDir, item));
    }
    return items;
}

void ShowExtractedItems(const std::string& extractDir,
                        const std::vector<std::string>& extractedNames, QDBusConnection bus,
                        const FolderOpener& fallback) {
    const std::string folder = AddTrailingSlash(extractDir);
    CheckExists(folder, "Could not convert extract folder to PIDL:\n");
    QStringList uris;
    for (const std::string& item : TopLevelItems(folder, extractedNames)) {
        CheckExists(item, "Could not convert path to PIDL:\n");
        uris << QString::fromStdString(PathToUrl(item));
    }
    // Nothing to select: the folder itself is shown selected in its parent.
    if (uris.isEmpty())
        uris << QString::fromStdString(PathToUrl(WithoutTrailingSlashes(folder)));

    if (bus.isConnected()) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QLatin1String(kFileManagerService), QLatin1String(kFileManagerPath),
            QLatin1String(kFileManagerService), "ShowItems");
        call << uris << QString();
        const QDBusMessage reply = bus.call(call, QDBus::Block, kShowItemsTimeoutMs);
        if (reply.type() == QDBusMessage::ReplyMessage)
            return;
        if (!NoFileManager(reply))
            CPT_THROW(cptlib::RuntimeError("Could not open folder:\n" + Quoted(folder) + "\n" +
                                           reply.errorMessage().toStdString()));
        SETUP_LOG(cptlib::Severity::Normal)
            << "No file manager on the session bus (" << reply.errorName().toStdString()
            << "); opening the folder instead.";
    }
    try {
        if (fallback)
            fallback(folder);
        else
            cptlib::ShellOpenFolderFromExplorer(folder.c_str());
    } catch (...) {
        CPT_THROW(
            cptlib::NestedError<cptlib::RuntimeError>("Could not open folder:\n" + Quoted(folder)));
    }
}

void OpenExtractFolder(const std::string& extractDir,
                       const std::vector<std::string>& extractedNames, QDBusConnection bus,
                       const FolderOpener& fallback) {
    try {
        ShowExtractedItems(extractDir, extractedNames, std::move(bus), fallback);
    } catch (...) {
        const std::string text = cptlib::ErrorText();
        SETUP_LOG(cptlib::Severity::Error) << "Could not show the extracted files: " << text;
        cptlib::ShowMessageBox(text, cptlib::kMbIconError, 0, 4, nullptr);
    }
}

} // namespace sfx
