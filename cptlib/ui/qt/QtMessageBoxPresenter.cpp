#include "cptlib/ui/qt/QtMessageBoxPresenter.h"

#include "cptlib/ui/qt/BigMessageBox.h"

namespace cptlib {

CQtMessageBoxPresenter::CQtMessageBoxPresenter() = default;
CQtMessageBoxPresenter::~CQtMessageBoxPresenter() = default;

int CQtMessageBoxPresenter::Show(const MessageBoxContent& box) {
    QWidget* parent = MainWindowVisible() ? mainWindow_.data() : nullptr;
    CBigMessageBox dialog(box, parent);
    return dialog.DoModal();
}

bool CQtMessageBoxPresenter::MainWindowVisible() const {
    return mainWindow_ && mainWindow_->isVisible();
}

void CQtMessageBoxPresenter::SetMainWindow(QWidget* window) {
    mainWindow_ = window;
}

} // namespace cptlib
