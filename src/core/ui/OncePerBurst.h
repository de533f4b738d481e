#pragma once

#include <QMetaObject>
#include <QObject>

#include <atomic>
#include <memory>
#include <utility>

namespace ostrel {

// A call posted from any thread to a receiver's thread at most once per burst: the first post since
// the call last ran queues it, the rest ride on it until it runs (it clears the mark just before).
// For a worker that tells the window something changed, as often as it likes, without flooding the
// event queue. Copies share the mark, so a copy may live in a callback that outlives the owner.
class OncePerBurst
{
public:
    template <typename Call> void post(QObject* receiver, Call call) const
    {
        if (m_posted->exchange(true))
            return;
        QMetaObject::invokeMethod(
            receiver,
            [posted = m_posted, call = std::move(call)]() mutable {
                posted->store(false);
                call();
            },
            Qt::QueuedConnection);
    }

private:
    std::shared_ptr<std::atomic<bool>> m_posted = std::make_shared<std::atomic<bool>>(false);
};

} // namespace ostrel
