#include "launcher/gui/UnzipLanguageDlg.h"

#include "cptlib/ui/MessageBox.h"
#include "cptlib/ui/qt/DialogUnits.h"
#include "launcher/LanguageChoice.h"
#include "launcher/gui/DialogLayout.h"
#include "launcher/gui/ProductIcon.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include <algorithm>

namespace sfx {

namespace {

// Dialog units.
constexpr QSize kSize(186, 76);
constexpr QRect kPrompt(7, 7, 172, 19);
constexpr QRect kList(7, 28, 172, 12);
constexpr QRect kOk(71, 55, 50, 14);
constexpr QRect kCancel(129, 55, 50, 14);
constexpr int kButtonGapDlu = 8;

QString Text(const cptlib::IStringResources& strings, const char* id, const char* fallback) {
    const std::string text = strings.GetText(id);
    return QString::fromStdString(text.empty() ? fallback : text);
}

} // namespace

std::size_t PreselectedLine(const std::vector<std::string>& sortedNames,
                            const std::string& wanted) {
    // Unicode case folding, not the C locale's, which may know only ASCII.
    const QString prefix = QString::fromStdString(wanted);
    const auto matches = [&](const std::string& name) {
        return wanted.empty()
                   ? name.empty()
                   : QString::fromStdString(name).startsWith(prefix, Qt::CaseInsensitive);
    };
    for (std::size_t i = 1; i < sortedNames.size(); ++i)
        if (matches(sortedNames[i]))
            return i;
    return 0;
}

std::string CultureForDisplayName(const cptlib::CultureMap& cultures, const std::string& name) {
    for (const auto& [culture, displayName] : cultures)
        if (displayName == name)
            return culture;
    return {};
}

CUnzipLanguageDlg::CUnzipLanguageDlg(QWidget* parent, cptlib::CultureMap cultures,
                                     std::string selectedCulture,
                                     const cptlib::IStringResources& strings)
    : CVistaDialog(parent), cultures_(std::move(cultures)),
      selectedCulture_(std::move(selectedCulture)) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    SetResizable(false);
    setFont(cptlib::MessageBoxFont());
    const QIcon icon = ProductIcon();
    if (!icon.isNull())
        setWindowIcon(icon);

    setWindowTitle(Text(strings, "LanguageSelectionTitle", "Select Language"));
    prompt_ = new QLabel(Text(strings, "LanguageSelection",
                              "Please select the language that you would like to use during "
                              "the installation."),
                         this);
    prompt_->setTextFormat(Qt::PlainText);
    prompt_->setWordWrap(true);
    prompt_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    cultureList_ = new QComboBox(this);
    prompt_->setBuddy(cultureList_);
    ok_ = new QPushButton(Text(strings, "OK", "OK"), this);
    ok_->setDefault(true);
    cancel_ = new QPushButton(Text(strings, "Cancel", "Cancel"), this);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);

    const std::vector<std::string> names = SortedDisplayNames(cultures_);
    for (const std::string& name : names)
        cultureList_->addItem(QString::fromStdString(name));
    const auto it = cultures_.find(selectedCulture_);
    const std::string wanted = it != cultures_.end() ? it->second : std::string();
    if (!names.empty())
        cultureList_->setCurrentIndex(static_cast<int>(PreselectedLine(names, wanted)));

    setFixedSize(MapDialogRect(QRect(QPoint(0, 0), kSize)).size());
    PlaceControl(*this, prompt_, kPrompt);
    PlaceControl(*this, cultureList_, kList);
    cultureList_->resize(cultureList_->width(),
                         std::max(cultureList_->height(), cultureList_->sizeHint().height()));
    PlaceControl(*this, ok_, kOk);
    PlaceControl(*this, cancel_, kCancel);
    FitButtonRow({ok_, cancel_}, DluToPixelsX(kButtonGapDlu));
    GrowLabelToFit(*this, prompt_);
    cultureList_->setFocus();
}

CUnzipLanguageDlg::~CUnzipLanguageDlg() = default;

void CUnzipLanguageDlg::accept() {
    selectedCulture_ = CultureForDisplayName(cultures_, cultureList_->currentText().toStdString());
    CVistaDialog::accept();
}

int RunLanguageDialogWindow(const cptlib::CultureMap& cultures, std::string& selected,
                            const cptlib::IStringResources& strings) {
    CUnzipLanguageDlg dialog(nullptr, cultures, selected, strings);
    if (dialog.DoModal() != cptlib::kIdOk)
        return cptlib::kIdCancel;
    selected = dialog.SelectedCulture();
    return cptlib::kIdOk;
}

} // namespace sfx
