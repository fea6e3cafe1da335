// Recursive lock: the thread that holds it may take it again.
#pragma once

namespace zel::platform {

struct RecursiveLock;

// Null when the lock cannot be made.
RecursiveLock *NewRecursiveLock();
void AcquireRecursiveLock(RecursiveLock *lock);
void ReleaseRecursiveLock(RecursiveLock *lock);
void DeleteRecursiveLock(RecursiveLock *lock);

} // namespace zel::platform
