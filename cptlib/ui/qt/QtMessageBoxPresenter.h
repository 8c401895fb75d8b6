#pragma once
// Shows message boxes as windows (needs a QApplication).

#include "cptlib/ui/MessageBox.h"

#include <QPointer>
#include <QWidget>

namespace cptlib {

class CQtMessageBoxPresenter : public IMessageBoxPresenter {
public:
    CQtMessageBoxPresenter();
    ~CQtMessageBoxPresenter() override;

    // Shows a CBigMessageBox for the content; returns the pressed button's id.
    int Show(const MessageBoxContent& box) override;
    bool MainWindowVisible() const override;

    // The application's main window (the progress dialog): boxes are centred on it while it
    // is visible. The presenter does not own it.
    void SetMainWindow(QWidget* window);

private:
    QPointer<QWidget> mainWindow_;
};

} // namespace cptlib
