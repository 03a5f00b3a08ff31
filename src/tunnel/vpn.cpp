#include "vpn.h"

void TunnelNotifier::postRasDialEvent(int wParam, int lParam)
{
    QMetaObject::invokeMethod(
        this, [this, wParam, lParam] { Q_EMIT rasDialEvent(wParam, lParam); },
        Qt::QueuedConnection);
}

void TunnelNotifier::postOvpnEvent(int code)
{
    QMetaObject::invokeMethod(
        this, [this, code] { Q_EMIT ovpnEvent(code); }, Qt::QueuedConnection);
}
