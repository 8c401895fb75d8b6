#pragma once
// The folder chooser of the windows: the desktop's own (through its portal or the platform
// theme) where there is one, else Qt's dialog showing folders only.

#include <QFileDialog>
#include <QString>

#include <memory>
#include <string>

namespace sfx {

// Installs Qt's own translations (its dialogs' words, such as the folder chooser's) for the
// language of the run's string table; again only when that language changed. False when the
// table names none or no translation is installed.
bool LoadQtTranslations();

// The dialog as it is set up for choosing a folder, not yet shown.
std::unique_ptr<QFileDialog> MakeFolderChooser(QWidget* parent, const QString& title,
                                               const QString& initialFolder);

// Runs the chooser modally; the chosen folder with a trailing "/", or empty when cancelled.
std::string ChooseFolder(QWidget* parent, const std::string& title,
                         const std::string& initialFolder);

} // namespace sfx
