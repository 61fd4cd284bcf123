// Lean stand-ins for the few POSIX thread calls that the static C++ runtime
// makes (exception handling's once-only set-up and locks, thread-local
// storage of exception state), so that what we ship carries no POSIX thread
// library for them: that library would be a seventh of the link handler and
// a tenth of the module. Linked as an object, so that these win over the
// library's.
//
// Thread-local destructors run when a thread ends, through the MinGW
// runtime's own list of key destructors, which its TLS callback walks for
// programs and DLLs alike (and drops when the DLL unloads).
#include <windows.h>

#include <cstdint>

extern "C" {

// The MinGW runtime's registry of destructors for TLS indexes.
int __mingwthr_key_dtor(DWORD key, void (*destructor)(void*));

using pthread_once_t = long;
using pthread_mutex_t = intptr_t;
using pthread_key_t = unsigned;

namespace {

// 0 not run, 1 running, 2 done.
constexpr long kOnceRunning = 1, kOnceDone = 2;

// A mutex is a pointer to its critical section; anything else (0 or one of
// the library's static initialisers, small negative numbers) is not made yet.
CRITICAL_SECTION* Section(pthread_mutex_t* mutex)
{
    const intptr_t value = *mutex;
    if (value > 0)
        return reinterpret_cast<CRITICAL_SECTION*>(value);
    auto* made = static_cast<CRITICAL_SECTION*>(HeapAlloc(GetProcessHeap(), 0, sizeof(CRITICAL_SECTION)));
    if (!made)
        return nullptr;
    InitializeCriticalSection(made);
    void* const before = InterlockedCompareExchangePointer(reinterpret_cast<void* volatile*>(mutex), made,
                                                           reinterpret_cast<void*>(value));
    if (before == reinterpret_cast<void*>(value))
        return made;
    // Another thread made it first.
    DeleteCriticalSection(made);
    HeapFree(GetProcessHeap(), 0, made);
    return Section(mutex);
}

constexpr int kNoMemory = 12;  // ENOMEM

}  // namespace

int pthread_once(pthread_once_t* once, void (*run)(void))
{
    if (InterlockedCompareExchange(once, kOnceRunning, 0) == 0) {
        run();
        InterlockedExchange(once, kOnceDone);
        return 0;
    }
    while (InterlockedCompareExchange(once, kOnceDone, kOnceDone) != kOnceDone)
        Sleep(0);
    return 0;
}

int pthread_mutex_init(pthread_mutex_t* mutex, const void*)
{
    *mutex = 0;
    return Section(mutex) ? 0 : kNoMemory;
}

int pthread_mutex_destroy(pthread_mutex_t* mutex)
{
    if (*mutex > 0) {
        auto* section = reinterpret_cast<CRITICAL_SECTION*>(*mutex);
        DeleteCriticalSection(section);
        HeapFree(GetProcessHeap(), 0, section);
    }
    *mutex = 0;
    return 0;
}

int pthread_mutex_lock(pthread_mutex_t* mutex)
{
    CRITICAL_SECTION* section = Section(mutex);
    if (!section)
        return kNoMemory;
    EnterCriticalSection(section);
    return 0;
}

int pthread_mutex_unlock(pthread_mutex_t* mutex)
{
    LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(*mutex));
    return 0;
}

int pthread_key_create(pthread_key_t* key, void (*destructor)(void*))
{
    const DWORD index = TlsAlloc();
    if (index == TLS_OUT_OF_INDEXES)
        return kNoMemory;
    if (destructor && __mingwthr_key_dtor(index, destructor) != 0) {
        TlsFree(index);
        return kNoMemory;
    }
    *key = index;
    return 0;
}

void* pthread_getspecific(pthread_key_t key)
{
    // TlsGetValue clears the last error; the runtime may run inside code that reads it.
    const DWORD error = GetLastError();
    void* value = TlsGetValue(key);
    SetLastError(error);
    return value;
}

int pthread_setspecific(pthread_key_t key, const void* value)
{
    return TlsSetValue(key, const_cast<void*>(value)) ? 0 : kNoMemory;
}

}  // extern "C"
