#include "windows/ShellOpen.h"

#include <QDesktopServices>
#include <QDir>

namespace evb {

namespace {
std::function<void(const QUrl&)> gHook; // UI thread only
}

void ShellOpen(const QUrl& url) {
    if (gHook) {
        gHook(url);
        return;
    }
    QDesktopServices::openUrl(url);
}

void ShellOpenFile(const QString& fileName) {
    ShellOpen(QUrl::fromLocalFile(QDir::current().absoluteFilePath(fileName)));
}

void SetShellOpenHook(std::function<void(const QUrl&)> hook) {
    gHook = std::move(hook);
}

} // namespace evb
