#pragma once
// The extract-only mode's own pieces: the overwrite question and the closing message with a link
// to the folder.

#include "cptlib/localization/StringResources.h"
#include "cptlib/ui/MessageBox.h"
#include "launcher/ProgressView.h"

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

// Empty when this process may extract into `folder`; otherwise why not. A run as root refuses a
// folder that another user owns (or whose nearest existing parent they own) and one reached
// through a symbolic link, since that user could redirect what root writes.
std::string RefusedTargetFolderText(const std::string& folder);

} // namespace sfx
