#include "framework/platform/NetService.h"
#include "framework/threads/Thread.h"

NetConnection::~NetConnection()
{
    if (transport) {
        transport->close();
        memDelete(transport);
    } else {
        memFree(ownedBlock);
    }
    for (ByteArray*& b : buffers) {
        memDelete(b);
        b = nullptr;
    }
    memFree(receiveBlock);
}

NetService::NetService() : logger(String("Network")) {}

NetService::~NetService()
{
    shutdown();
}

void NetService::shutdown()
{
    if (!active)
        return;
    logger.debug("Stopping...");
    for (NetConnection* c : connections)
        memDelete(c);
    connections.reset();
    for (NetHandler* h : handlers)
        h->onServiceStopping();
    for (NetHandler* h : handlers)
        memDelete(h);
    handlers.reset();
    if (serviceThread) {
        serviceThread->stop();
        memDelete(serviceThread);
        serviceThread = nullptr;
    }
    active = 0;
}
