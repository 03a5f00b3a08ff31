#include "tunnelflags.h"

void TunnelFlags::setTunnelUp(bool up)
{
    const int value = up ? 1 : 0;
    if (m_tunnelUp.exchange(value) != value)
        Q_EMIT tunnelUpChanged(up);
}
