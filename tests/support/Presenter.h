#pragma once
// A message-box presenter that answers boxes without showing them and keeps what they said.

#include "cptlib/ui/MessageBox.h"

#include <functional>
#include <memory>
#include <vector>

namespace testsupport {

class ScriptedPresenter : public cptlib::IMessageBoxPresenter {
public:
    int Show(const cptlib::MessageBoxContent& box) override {
        shown.push_back(box);
        return answer ? answer(box) : reply;
    }
    bool MainWindowVisible() const override { return mainVisible; }

    std::vector<cptlib::MessageBoxContent> shown;
    // Decides the answer when set; otherwise every box gets `reply`.
    std::function<int(const cptlib::MessageBoxContent&)> answer;
    int reply = cptlib::kIdOk;
    bool mainVisible = false;
};

// Installs a scripted presenter for one test.
class PresenterScope {
public:
    PresenterScope() : presenter(std::make_shared<ScriptedPresenter>()) {
        cptlib::SetMessageBoxPresenter(presenter);
    }
    ~PresenterScope() { cptlib::SetMessageBoxPresenter(nullptr); }
    PresenterScope(const PresenterScope&) = delete;
    PresenterScope& operator=(const PresenterScope&) = delete;

    std::shared_ptr<ScriptedPresenter> presenter;
};

} // namespace testsupport
