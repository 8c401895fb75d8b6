#include "launcher/gui/FolderChooser.h"

namespace sfx {

std::unique_ptr<QFileDialog> MakeFolderChooser(QWidget* parent, const QString& title,
                                               const QString& initialFolder) {
    auto dialog = std::make_unique<QFileDialog>(parent, title, initialFolder);
    // Without DontUseNativeDialog, exec() hands over to the desktop's chooser where the platform
    // offers one; the settings below shape Qt's own dialog, the fallback.
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly, true);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    // Folders have no useful size or type column; a cut-off date column helps no one either.
    dialog->setViewMode(QFileDialog::List);
    return dialog;
}

std::string ChooseFolder(QWidget* parent, const std::string& title,
                         const std::string& initialFolder) {
    const auto dialog = MakeFolderChooser(parent, QString::fromStdString(title),
                                          QString::fromStdString(initialFolder));
    if (dialog->exec() != QDialog::Accepted)
        return {};
    const QStringList chosen = dialog->selectedFiles();
    if (chosen.isEmpty() || chosen.front().isEmpty())
        return {};
    std::string path = chosen.front().toStdString();
    if (path.back() != '/')
        path += '/';
    return path;
}

} // namespace sfx
