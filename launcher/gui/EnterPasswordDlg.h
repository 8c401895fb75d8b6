#pragma once
// The password question of an encrypted archive, in the run's language.

#include "cptlib/ui/qt/VistaDialog.h"

#include <cstddef>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

namespace sfx {

class CEnterPasswordDlg : public cptlib::CVistaDialog {
public:
    // The longest password the extraction can take, in bytes of UTF-8.
    static constexpr std::size_t kMaxPasswordBytes = 1023;

    explicit CEnterPasswordDlg(QWidget* parent = nullptr);
    ~CEnterPasswordDlg() override;

    // After kIdOk.
    std::string Password() const { return password_; }

    QLineEdit* Edit() const { return edit_; }
    QPushButton* OkButton() const { return ok_; }
    QPushButton* CancelButton() const { return cancel_; }

protected:
    void accept() override;

private:
    QLabel* prompt_ = nullptr;
    QLineEdit* edit_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
    std::string password_;
};

} // namespace sfx
