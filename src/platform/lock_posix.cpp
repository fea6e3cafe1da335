#include "platform/lock.h"

#include <pthread.h>

namespace zel::platform {

struct RecursiveLock {
    pthread_mutex_t mutex;
};

RecursiveLock *NewRecursiveLock() {
    auto *lock = new RecursiveLock;
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    const int failed = pthread_mutex_init(&lock->mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
    if (failed) {
        delete lock;
        return nullptr;
    }
    return lock;
}

void AcquireRecursiveLock(RecursiveLock *lock) { pthread_mutex_lock(&lock->mutex); }

void ReleaseRecursiveLock(RecursiveLock *lock) { pthread_mutex_unlock(&lock->mutex); }

void DeleteRecursiveLock(RecursiveLock *lock) {
    pthread_mutex_destroy(&lock->mutex);
    delete lock;
}

} // namespace zel::platform
