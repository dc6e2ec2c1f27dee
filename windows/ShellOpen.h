#pragma once
// The shell's "open" for documents, programs and web addresses: handed to the desktop
// (xdg-open) and never assembled into a command line. Its result is not reported.

#include <QUrl>

#include <functional>

namespace evb {

void ShellOpen(const QUrl& url);
// A file name relative to the working directory, as the shell would resolve it.
void ShellOpenFile(const QString& fileName);

// Replaces the desktop hand-over (tests record the requests instead); null restores it.
// UI thread only.
void SetShellOpenHook(std::function<void(const QUrl&)> hook);

} // namespace evb
