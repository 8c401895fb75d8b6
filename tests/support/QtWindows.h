#pragma once
// Helpers for the launcher's window tests: string tables from the source tree, a scripted
// message-box presenter (support/Presenter.h), acting on a modal window once it is up, and a
// private message bus.

#include "common/setup/InstallStringResources.h"
#include "cptlib/localization/XmlStringResourcesLoader.h"
#include "cptlib/sys/MfcWorkerThread.h"
#include "cptlib/ui/MessageBox.h"
#include "launcher/ProgressDialog.h"
#include "support/Presenter.h"
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

namespace testsupport {

// Polls from the event loop every `interval` ms until `ready` holds, then calls `act` once; gives
// up after a few seconds so that a missing state fails the test instead of hanging it.
inline void PollThenAct(std::function<bool()> ready, std::function<void()> act, int interval) {
    auto timer = std::make_shared<QElapsedTimer>();
    timer->start();
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [ready = std::move(ready), act = std::move(act), timer, poll, interval]() {
        if (ready()) {
            act();
            *poll = nullptr;
            return;
        }
        if (timer->elapsed() > 5000) {
            *poll = nullptr;
            return;
        }
        QTimer::singleShot(interval, [poll] {
            if (*poll)
                (*poll)();
        });
    };
    QTimer::singleShot(0, [poll] { (*poll)(); });
}

// Calls `act` with the modal window once one is up.
inline void WhenModal(std::function<void(QWidget*)> act) {
    PollThenAct([] { return QApplication::activeModalWidget() != nullptr; },
                [act = std::move(act)] { act(QApplication::activeModalWidget()); }, 10);
}

// Calls `act` once `ready` holds.
inline void WhenReady(std::function<bool()> ready, std::function<void()> act) {
    PollThenAct(std::move(ready), std::move(act), 5);
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

} // namespace testsupport
