#pragma once
// Helpers for the launcher's window tests: string tables from the source tree, a scripted
// message-box presenter, acting on a modal window once it is up, and a private message bus.

#include "common/setup/InstallStringResources.h"
#include "cptlib/localization/XmlStringResourcesLoader.h"
#include "cptlib/sys/MfcWorkerThread.h"
#include "cptlib/ui/MessageBox.h"
#include "launcher/ProgressDialog.h"
#include "support/QtApp.h"
#include "support/StringTables.h"

#include <QApplication>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace sfxtest {

// Answers boxes without showing them and keeps what they said.
class ScriptedPresenter : public cptlib::IMessageBoxPresenter {
public:
    int Show(const cptlib::MessageBoxContent& box) override {
        shown.push_back(box);
        return answer ? answer(box) : cptlib::IDOK;
    }
    std::vector<cptlib::MessageBoxContent> shown;
    std::function<int(const cptlib::MessageBoxContent&)> answer;
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

// Calls `act` with the modal window once one is up (polling from the event loop); gives up
// after a few seconds so that a missing window fails the test instead of hanging it.
inline void WhenModal(std::function<void(QWidget*)> act) {
    auto timer = std::make_shared<QElapsedTimer>();
    timer->start();
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [act = std::move(act), timer, poll]() {
        if (QWidget* modal = QApplication::activeModalWidget(); modal != nullptr) {
            act(modal);
            *poll = nullptr;
            return;
        }
        if (timer->elapsed() > 5000) {
            *poll = nullptr;
            return;
        }
        QTimer::singleShot(10, [poll] {
            if (*poll)
                (*poll)();
        });
    };
    QTimer::singleShot(0, [poll] { (*poll)(); });
}

// A message bus of the test's own, so that nothing reaches the user's desktop session.
class PrivateBus {
public:
    PrivateBus() {
        if (!dir_.isValid())
            return;
        const QString config = dir_.filePath(QStringLiteral("bus.conf"));
        std::ofstream(config.toStdString())
            << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
               "1.0//EN\" \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig><type>session</type><listen>unix:dir="
            << dir_.path().toStdString()
            << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
               "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
               "<allow own=\"*\"/></policy></busconfig>\n";
        daemon_.start(QStringLiteral("dbus-daemon"),
                      {QStringLiteral("--nofork"), QStringLiteral("--print-address=1"),
                       QStringLiteral("--config-file=") + config});
        if (!daemon_.waitForStarted(5000) || !daemon_.waitForReadyRead(5000))
            return;
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    }
    ~PrivateBus() {
        for (const QString& name : names_)
            QDBusConnection::disconnectFromBus(name);
        if (daemon_.state() != QProcess::NotRunning) {
            daemon_.terminate();
            if (!daemon_.waitForFinished(3000))
                daemon_.kill();
            daemon_.waitForFinished(3000);
        }
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // False where no dbus-daemon can be started.
    bool Running() const { return !address_.isEmpty(); }

    // A new connection to the bus under a name of the test's choice.
    QDBusConnection Connect(const QString& name) {
        names_.push_back(name);
        return QDBusConnection::connectToBus(address_, name);
    }

private:
    QTemporaryDir dir_;
    QProcess daemon_;
    QString address_;
    std::vector<QString> names_;
};

// The worker: plays its script against the dialog's inbox.
class ScriptThread : public cptlib::CMfcWorkerThread {
public:
    using Script = std::function<void(ScriptThread&)>;

    ~ScriptThread() override { CancelAndWait(); }

    bool Start(const sfx::ExtractionJob& job) {
        job_ = job;
        return CMfcWorkerThread::Start();
    }
    const std::vector<std::string>& ExtractedNames() const { return names; }

    void Progress(int permille) const { job_.notifyWindow.Send(sfx::WM_SFX_PROGRESS, 0, permille); }
    cptlib::LResult AskPassword(std::string& password) const {
        std::vector<char> buffer(sfx::kPasswordCapacity, 'x');
        const auto reply = job_.notifyWindow.Send(sfx::WM_SFX_ASK_PASSWORD,
                                                  reinterpret_cast<cptlib::WParam>(buffer.data()),
                                                  static_cast<cptlib::LParam>(buffer.size()));
        password.assign(buffer.data(), ::strnlen(buffer.data(), buffer.size()));
        return reply;
    }
    cptlib::LResult AskOverwrite(const std::string& name) const {
        return job_.notifyWindow.Send(sfx::WM_SFX_ASK_OVERWRITE, 0,
                                      reinterpret_cast<cptlib::LParam>(name.c_str()));
    }
    void Fail(sfx::ExtractionError error) const {
        job_.notifyWindow.Send(sfx::WM_SFX_EXTRACT_ERROR, reinterpret_cast<cptlib::WParam>(&error));
        job_.notifyWindow.Post(sfx::WM_SFX_EXTRACT_FAILED);
    }
    void Post(cptlib::MessageId id) const { job_.notifyWindow.Post(id); }
    // Reports progress until cancelled, then ends as cancelled.
    void ProgressUntilCancelled() {
        for (int i = 0; !IsCancelled(); i = (i + 1) % 1000) {
            Progress(i);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        Post(sfx::WM_SFX_EXTRACT_CANCELLED);
    }

    Script script;
    std::vector<std::string> names;

protected:
    std::uint32_t Run() override {
        if (script)
            script(*this);
        return 0;
    }

private:
    sfx::ExtractionJob job_;
};

// Polls from the event loop until `ready` holds, then calls `act` once; gives up after a few
// seconds.
inline void WhenReady(std::function<bool()> ready, std::function<void()> act) {
    auto timer = std::make_shared<QElapsedTimer>();
    timer->start();
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [ready = std::move(ready), act = std::move(act), timer, poll]() {
        if (ready()) {
            act();
            *poll = nullptr;
            return;
        }
        if (timer->elapsed() > 5000) {
            *poll = nullptr;
            return;
        }
        QTimer::singleShot(5, [poll] {
            if (*poll)
                (*poll)();
        });
    };
    QTimer::singleShot(0, [poll] { (*poll)(); });
}

} // namespace sfxtest
