#include "eventwait.h"

#include <QEventLoop>
#include <QTimer>

void waitWhileDispatching(int milliseconds)
{
    if (milliseconds <= 0)
        return;
    QEventLoop loop;
    QTimer::singleShot(milliseconds, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}
