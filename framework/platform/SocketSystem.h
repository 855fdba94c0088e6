#pragma once
#include "framework/core/PtrArray.h"
#include "framework/core/Types.h"
#include "framework/log/Logger.h"
#include "framework/platform/CriticalSection.h"

#include <atomic>

// One open socket of the socket system; the descriptor is closed when the socket is deleted.
class Socket
{
public:
    std::atomic<u32> open{0};
    int descriptor = -1;

    explicit Socket(int descriptor);
    virtual ~Socket();
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
};

// The sockets of the application. Nothing in this program opens one; shutdown closes those
// that exist.
class SocketSystem
{
public:
    Logger logger;
    u8 active = 0;
    PtrArray<Socket> sockets;
    CriticalSection lock;

    SocketSystem();
    ~SocketSystem();
    SocketSystem(const SocketSystem&) = delete;
    SocketSystem& operator=(const SocketSystem&) = delete;

    // Makes the system active; true.
    bool start();
    // Takes the socket; false (socket deleted) when the system is not active.
    bool adopt(Socket* socket);
    void shutdown();
};
