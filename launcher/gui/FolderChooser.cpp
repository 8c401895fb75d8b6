#include "launcher/gui/FolderChooser.h"

#include "cptlib/ui/MessageBox.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace sfx {

bool LoadQtTranslations() {
    static QTranslator* installed = nullptr;
    static std::string language;
    const std::string wanted = cptlib::UiText("QtLanguage", "");
    if (installed != nullptr && wanted == language)
        return true;
    if (installed != nullptr) {
        QCoreApplication::removeTranslator(installed);
        delete installed;
        installed = nullptr;
    }
    language = wanted;
    if (wanted.empty() || QCoreApplication::instance() == nullptr)
        return false;
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QString::fromStdString("qtbase_" + wanted),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    installed = translator.release();
    QCoreApplication::installTranslator(installed);
    return true;
}

std::unique_ptr<QFileDialog> MakeFolderChooser(QWidget* parent, const QString& title,
                                               const QString& initialFolder) {
    LoadQtTranslations();
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
