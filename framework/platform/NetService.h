#pragma once
#include "framework/core/ByteArray.h"
#include "framework/core/PtrArray.h"
#include "framework/core/Types.h"
#include "framework/log/Logger.h"

class Thread;

// Carries a connection's bytes; closed and deleted with the connection.
class NetTransport
{
public:
    virtual ~NetTransport() = default;
    virtual void close() = 0;
};

// One connection of the network service: its buffers, pending messages, receive block and
// either a transport of its own or a byte block.
struct NetConnection
{
    ByteArray* buffers[3] = {};
    PtrArray<ByteArray> messages{true};
    u8* receiveBlock = nullptr;
    u8* ownedBlock = nullptr;
    NetTransport* transport = nullptr;

    NetConnection() = default;
    NetConnection(const NetConnection&) = delete;
    NetConnection& operator=(const NetConnection&) = delete;
    ~NetConnection();
};

// Told when the service stops; deleted by it afterwards.
class NetHandler
{
public:
    virtual ~NetHandler() = default;
    virtual void onServiceStopping() {}
};

// The network service. Nothing in this program starts one; shutdown tears down what exists.
class NetService
{
public:
    Logger logger;
    u8 active = 0;
    PtrArray<NetConnection> connections;
    PtrArray<NetHandler> handlers;
    Thread* serviceThread = nullptr;

    NetService();
    virtual ~NetService();
    NetService(const NetService&) = delete;
    NetService& operator=(const NetService&) = delete;

    void shutdown();
};
