#pragma once
// One QApplication for every window test in the process, on the platform that the
// environment names (the tests run with QT_QPA_PLATFORM=offscreen).

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QString>
#include <QWidget>

#include <memory>
#include <string>

namespace testsupport {

inline QApplication& EnsureQApplication() {
    static int argc = 1;
    static char name[] = "qt_tests";
    static char* argv[] = {name, nullptr};
    // Never destroyed: at exit QTest's input devices are already gone, and tearing the
    // application down after them crashes the test process.
    static QApplication* const app = std::make_unique<QApplication>(argc, argv).release();
    return *app;
}

// Saves what the widget draws as build/screenshots/<name>.png (or in $SFX_SCREENSHOT_DIR);
// returns the file's path.
inline std::string SaveScreenshot(QWidget& widget, const std::string& name) {
    // `make screenshots` gives each density a folder of its own.
    const QString folder = qEnvironmentVariableIsEmpty("SFX_SCREENSHOT_DIR")
                               ? QStringLiteral(SFX_SCREENSHOT_DIR)
                               : qEnvironmentVariable("SFX_SCREENSHOT_DIR");
    QDir().mkpath(folder);
    const QString path = folder + "/" + QString::fromStdString(name) + ".png";
    widget.grab().save(path);
    return path.toStdString();
}

} // namespace testsupport
