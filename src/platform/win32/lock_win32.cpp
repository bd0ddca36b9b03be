// The locks that the core asks the platform for: a slim reader/writer lock
// held exclusively, in place (it needs no initialisation at run time and
// nothing given back).
#include "platform/win32/win32_backend.h"

#include <new>

namespace tavio::platform {

static_assert(sizeof(SRWLOCK) <= 64 && alignof(SRWLOCK) <= 8);
Lock::Lock() { InitializeSRWLock(::new (place_) SRWLOCK); }
void Lock::lock() { AcquireSRWLockExclusive(reinterpret_cast<SRWLOCK *>(place_)); }
void Lock::unlock() { ReleaseSRWLockExclusive(reinterpret_cast<SRWLOCK *>(place_)); }

} // namespace tavio::platform
