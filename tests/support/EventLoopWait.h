#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>

namespace ostrel::testing {

// Runs the event loop until `done` holds, for at most `ms` milliseconds; true when it held.
template <class Done> bool processEventsUntil(Done done, int ms = 5000)
{
    const QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

} // namespace ostrel::testing
