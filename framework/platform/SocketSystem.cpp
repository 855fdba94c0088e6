#include "framework/platform/SocketSystem.h"

#include <unistd.h>

Socket::Socket(int fd) : descriptor(fd)
{
    open.store(fd >= 0 ? 1 : 0);
}

Socket::~Socket()
{
    if (descriptor >= 0)
        ::close(descriptor);
}

SocketSystem::SocketSystem() : logger(String("Sockets")) {}

SocketSystem::~SocketSystem()
{
    shutdown();
}

bool SocketSystem::start()
{
    // POSIX sockets need no start-up call.
    active = 1;
    return true;
}

bool SocketSystem::adopt(Socket* socket)
{
    ScopedLock guard(lock);
    if (!active || !sockets.push(socket)) {
        memDelete(socket);
        return false;
    }
    return true;
}

void SocketSystem::shutdown()
{
    if (!active)
        return;
    logger.debug("Stopping...");
    {
        ScopedLock guard(lock);
        if (sockets.count) {
            logger.debug("Closing %u active sockets...", sockets.count);
            for (Socket* s : sockets)
                s->open.exchange(0);
            sockets.clear();
        }
    }
    active = 0;
}
