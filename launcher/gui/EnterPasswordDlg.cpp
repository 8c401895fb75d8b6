#include "launcher/gui/EnterPasswordDlg.h"

#include "cptlib/ui/MessageBox.h"
#include "cptlib/ui/qt/DialogUnits.h"
#include "launcher/gui/DialogLayout.h"
#include "launcher/gui/FolderChooser.h"
#include "launcher/gui/ProductIcon.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>

namespace sfx {

namespace {

// Dialog units.
constexpr QSize kSize(197, 62);
constexpr QRect kPrompt(7, 7, 183, 8);
constexpr QRect kEdit(7, 18, 183, 12);
constexpr QRect kOk(86, 41, 50, 14);
constexpr QRect kCancel(140, 41, 50, 14);
constexpr int kButtonGapDlu = 4;

QString Text(const char* id, const char* english) {
    return QString::fromStdString(cptlib::UiText(id, english));
}

} // namespace

CEnterPasswordDlg::CEnterPasswordDlg(QWidget* parent) : CVistaDialog(parent) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    // The product's name where the configuration gives one, else the launcher's own.
    const std::string product = cptlib::GetAppName();
    setWindowTitle(QString::fromStdString(
        !product.empty() ? product : cptlib::UiText("SfxAppTitle", "Setup Self-Extractor")));
    LoadQtTranslations();
    SetResizable(false);
    setFont(cptlib::MessageBoxFont());
    const QIcon icon = ProductIcon();
    if (!icon.isNull())
        setWindowIcon(icon);

    prompt_ = new QLabel(Text("TerminalPassword", "Enter password:"), this);
    edit_ = new QLineEdit(this);
    edit_->setEchoMode(QLineEdit::Password);
    prompt_->setBuddy(edit_);
    ok_ = new QPushButton(Text("OK", "OK"), this);
    ok_->setDefault(true);
    cancel_ = new QPushButton(Text("Cancel", "Cancel"), this);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);

    setFixedSize(MapDialogRect(QRect(QPoint(0, 0), kSize)).size());
    PlaceControl(*this, prompt_, kPrompt);
    PlaceControl(*this, edit_, kEdit);
    // A line edit's own height keeps its frame and text whole.
    edit_->resize(edit_->width(), std::max(edit_->height(), edit_->sizeHint().height()));
    PlaceControl(*this, ok_, kOk);
    PlaceControl(*this, cancel_, kCancel);
    FitButtonRow({ok_, cancel_}, DluToPixelsX(kButtonGapDlu));
    edit_->setFocus();
}

CEnterPasswordDlg::~CEnterPasswordDlg() = default;

void CEnterPasswordDlg::accept() {
    const std::string entered = edit_->text().toStdString();
    // A password cut to fit would only fail later as a damaged archive.
    if (entered.size() > kMaxPasswordBytes) {
        const std::string text = cptlib::UiText(
            "PasswordTooLong", "The password is too long. At most %d bytes can be used.");
        const std::size_t at = text.find("%d");
        const std::string shown =
            at == std::string::npos
                ? text
                : text.substr(0, at) + std::to_string(kMaxPasswordBytes) + text.substr(at + 2);
        cptlib::ShowBigMessageBox(cptlib::GetUiStrings(), nullptr, nullptr, shown,
                                  cptlib::kMbIconWarning, 0);
        edit_->setFocus();
        edit_->selectAll();
        return;
    }
    password_ = entered;
    CVistaDialog::accept();
}

} // namespace sfx
