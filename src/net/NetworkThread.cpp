#include "net/NetworkThread.h"

#include <pthread.h>

#include <cstdio>
#include <exception>

namespace ostrel {

bool NetworkThread::start()
{
    m_started = true; // before the thread: a handler on it may already ask
    try {
        m_thread = std::thread([this] {
            m_id.store(std::this_thread::get_id());
            ::pthread_setname_np(::pthread_self(), "network"); // for the soak's CPU per thread
            for (;;) {
                try {
                    m_io.run();
                    return;
                } catch (const std::exception& e) {
                    reportEscaped(e.what());
                } catch (...) {
                    reportEscaped("an exception of unknown type");
                }
                // Handlers catch what they expect; anything else costs one event, not the thread.
            }
        });
    } catch (...) {
        m_started = false; // no thread could be had: the server does not listen
        return false;
    }
    return true;
}

void NetworkThread::join()
{
    m_thread.join();
    m_started = false;
}

void NetworkThread::reportEscaped(const char* what)
{
    if (m_escapedTold)
        return;
    m_escapedTold = true;
    std::fprintf(stderr, "ostrel-server: a network handler failed (%s); the network thread goes on\n", what);
    std::fflush(stderr);
}

} // namespace ostrel
