#pragma once
// What the desktop session offers over its message bus: the progress on the dock's entry for
// this program, and a file manager that shows a folder with some of its items selected.

#include "launcher/ProgressView.h"

#include <QDBusConnection>
#include <QString>

#include <functional>
#include <string>
#include <vector>

namespace sfx {

// The dock's entry for this program ("com.canonical.Unity.LauncherEntry"). Without a bus, or
// without a dock listening, the signals go nowhere and nothing else happens.
class CTaskbarProgress {
public:
    explicit CTaskbarProgress(QDBusConnection bus = QDBusConnection::sessionBus(),
                              QString appUri = DefaultAppUri());
    // Takes the progress off the entry.
    ~CTaskbarProgress();
    CTaskbarProgress(const CTaskbarProgress&) = delete;
    CTaskbarProgress& operator=(const CTaskbarProgress&) = delete;

    // "application://<desktop file name>" of this program.
    static QString DefaultAppUri();

    void SetVisible(bool visible);
    void SetProgress(int permille);
    // The dock has no error or paused look: an error asks for attention instead.
    void SetState(ProgressBarState state);

private:
    void Update(const QVariantMap& properties);

    QDBusConnection bus_;
    QString appUri_;
    QString objectPath_;
    bool visible_ = false;
    int permille_ = -1;
    bool urgent_ = false;
};

// The extracted items that lie directly in `extractDir`, as full paths without a trailing "/",
// in the order extracted.
std::vector<std::string> TopLevelItems(const std::string& extractDir,
                                       const std::vector<std::string>& extractedNames);

// Opens `folder` for the desktop when the file manager cannot be asked.
using FolderOpener = std::function<void(const std::string& folder)>;

// Shows `extractDir` in the file manager with its top-level extracted items selected
// ("org.freedesktop.FileManager1.ShowItems"); without such a service the folder is opened with
// `fallback` (by default the desktop opener). Throws SystemError or a nested error with the
// folder or item that failed.
void ShowExtractedItems(const std::string& extractDir,
                        const std::vector<std::string>& extractedNames,
                        QDBusConnection bus = QDBusConnection::sessionBus(),
                        const FolderOpener& fallback = {});

// The success box's link: ShowExtractedItems, with a failure shown in an error box.
void OpenExtractFolder(const std::string& extractDir,
                       const std::vector<std::string>& extractedNames,
                       QDBusConnection bus = QDBusConnection::sessionBus(),
                       const FolderOpener& fallback = {});

} // namespace sfx
