#include "app/SessionBridge.h"

SessionBridge::SessionBridge(QObject* parent) : QObject(parent) {
    qRegisterMetaType<evb::SessionWake>();
    // Queued even when raised on the UI thread, so every wake waits for the handler in turn.
    connect(
        this, &SessionBridge::woke, this,
        [this](const evb::SessionWake& wake) {
            if (m_wakeHandler) m_wakeHandler(wake);
        },
        Qt::QueuedConnection);
}
