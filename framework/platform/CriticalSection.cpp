#include "framework/platform/CriticalSection.h"

CriticalSection::CriticalSection()
{
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&mutex, &attr);
    pthread_mutexattr_destroy(&attr);
}

CriticalSection::~CriticalSection()
{
    // A holder finishes before the lock goes.
    pthread_mutex_lock(&mutex);
    pthread_mutex_unlock(&mutex);
    pthread_mutex_destroy(&mutex);
}

void CriticalSection::enter()
{
    pthread_mutex_lock(&mutex);
}

void CriticalSection::leave()
{
    pthread_mutex_unlock(&mutex);
}
