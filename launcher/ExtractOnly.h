#pragma once
// The extract-only mode's own pieces: the overwrite question and the closing message with a link
// to the folder.

#include "cptlib/localization/StringResources.h"
#include "cptlib/platform/FolderTree.h"
#include "cptlib/ui/MessageBox.h"
#include "launcher/ProgressView.h"

#include <memory>
#include <string>
#include <vector>

namespace sfx {

// The question box for an existing file: "Overwrite all" (kIdOk) or "Cancel" (kIdCancel, the
// default).
cptlib::MessageBoxContent MakeOverwriteQuestion(const std::string& existingName,
                                                const cptlib::IStringResources& strings);

// The name a file manager shows for the item; throws SystemError "Could not get display name
// from path" when the item cannot be reached.
std::string GetDisplayName(const std::string& path);

// "file://" and the absolute path with every byte outside the unreserved characters and "/"
// percent-encoded; throws SystemError "Could not create URL from path" for a relative path.
std::string PathToUrl(const std::string& path);

// The inverse of PathToUrl; throws SystemError "Could not create path from URL" for anything
// but a local file URL.
std::string UrlToPath(const std::string& url);

// "<LINK path|url>" for the folder, or the plain folder when no link can be made.
std::string ExtractFolderLinkText(const std::string& extractDir);

// After a successful extraction: the message naming the folder, from the level 2 up. Its link
// shows the folder with the extracted top-level items selected.
void FinishExtractOnly(int uiLevel, const std::string& extractDir,
                       const std::vector<std::string>& extractedNames,
                       const cptlib::IStringResources& strings, IProgressView& view);

// Empty when this process may extract into `folder`; otherwise why not. A run as root opens
// the folder, making what is missing, by walking it from "/" (OpenFolderSafely) and keeps it in
// `handle`, so that every item is made through it: it refuses a folder on the way that another
// user owns or may change, and a link that another user could replace, naming which one. Other
// runs leave `handle` empty.
std::string OpenTargetFolder(const std::string& folder,
                             std::shared_ptr<const cptlib::platform::FolderHandle>& handle);

} // namespace sfx
