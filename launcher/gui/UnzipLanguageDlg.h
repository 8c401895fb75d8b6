#pragma once
// The language dialog of start-up: the user confirms or changes the culture chosen for the run.

#include "cptlib/localization/CultureSelection.h"
#include "cptlib/localization/StringResources.h"
#include "cptlib/ui/qt/VistaDialog.h"

#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QPushButton;

namespace sfx {

// The line a sorted list preselects for `wanted`: the first line from the second on whose text
// begins with it (letter case ignored), the first line last; line 0 when none does. An empty
// name stands for itself only, so an unnamed culture does not preselect a named one.
std::size_t PreselectedLine(const std::vector<std::string>& sortedNames, const std::string& wanted);

// The culture a chosen line stands for: the first in map order with exactly that display name;
// empty when none has it.
std::string CultureForDisplayName(const cptlib::CultureMap& cultures, const std::string& name);

class CUnzipLanguageDlg : public cptlib::CVistaDialog {
public:
    CUnzipLanguageDlg(QWidget* parent, cptlib::CultureMap cultures, std::string selectedCulture,
                      const cptlib::IStringResources& strings);
    ~CUnzipLanguageDlg() override;

    // The preselection before the run, the choice after kIdOk.
    const std::string& SelectedCulture() const { return selectedCulture_; }

    QComboBox* CultureList() const { return cultureList_; }
    QPushButton* OkButton() const { return ok_; }
    QPushButton* CancelButton() const { return cancel_; }

protected:
    void accept() override;

private:
    cptlib::CultureMap cultures_;
    std::string selectedCulture_;
    QLabel* prompt_ = nullptr;
    QComboBox* cultureList_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

// Runs the dialog modally; kIdOk (`selected` holds the choice) or kIdCancel.
int RunLanguageDialogWindow(const cptlib::CultureMap& cultures, std::string& selected,
                            const cptlib::IStringResources& strings);

} // namespace sfx
