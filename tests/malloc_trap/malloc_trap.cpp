// libmalloc_trap.so, for LD_PRELOAD in the tests (glibc only): the C allocator, glibc's own,
// under one lock for the whole process, and a trap that faults inside it with that lock held.
// Once it has fired, every allocation in the process waits for ever, as it does after a fault
// inside a real allocator that a handler then jumped out of.
#include <errno.h>
#include <malloc.h>
#include <pthread.h>
#include <stdlib.h>

// glibc's allocator under names of its own.
extern "C" {
void* __libc_malloc(size_t size);
void __libc_free(void* block);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void* __libc_valloc(size_t size);
void* __libc_pvalloc(size_t size);
}

namespace {

// Initialised statically: allocations before any constructor runs find it ready.
pthread_mutex_t heapLock = PTHREAD_MUTEX_INITIALIZER;
bool trapSet = false;  // guarded by heapLock
pthread_t trapThread;

// The lock for one call into the allocator; on the trapped thread it is never given back.
class Held {
  public:
    Held() {
        pthread_mutex_lock(&heapLock);
        if (trapSet && pthread_equal(trapThread, pthread_self())) {
            trapSet = false;
            volatile int* volatile nowhere = nullptr;
            *nowhere = 1;
        }
    }
    ~Held() { pthread_mutex_unlock(&heapLock); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
};

// As glibc does with its own locks: a fork in another thread's allocation would leave the
// child's heap locked.
__attribute__((constructor)) void KeepLockAcrossFork() {
    pthread_atfork([] { pthread_mutex_lock(&heapLock); }, [] { pthread_mutex_unlock(&heapLock); },
                   [] { pthread_mutex_unlock(&heapLock); });
}

}  // namespace

extern "C" {

// The next call into the allocator on the calling thread faults with the lock held.
void malloc_trap_arm() {
    pthread_mutex_lock(&heapLock);
    trapThread = pthread_self();
    trapSet = true;
    pthread_mutex_unlock(&heapLock);
}

void* malloc(size_t size) noexcept {
    Held held;
    return __libc_malloc(size);
}

void free(void* block) noexcept {
    Held held;
    __libc_free(block);
}

void* calloc(size_t count, size_t size) noexcept {
    Held held;
    return __libc_calloc(count, size);
}

void* realloc(void* block, size_t size) noexcept {
    Held held;
    return __libc_realloc(block, size);
}

// glibc's reallocarray, memalign and the rest reach its allocator without passing through
// the names above, so they are replaced too. malloc_usable_size takes no lock: glibc's works.
void* reallocarray(void* block, size_t count, size_t size) noexcept {
    size_t bytes = 0;
    if (__builtin_mul_overflow(count, size, &bytes)) {
        errno = ENOMEM;
        return nullptr;
    }
    return realloc(block, bytes);
}

void* memalign(size_t alignment, size_t size) noexcept {
    Held held;
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size) noexcept {
    return memalign(alignment, size);
}

int posix_memalign(void** result, size_t alignment, size_t size) noexcept {
    if (alignment == 0 || alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0)
        return EINVAL;
    void* block = memalign(alignment, size);
    if (block == nullptr) return ENOMEM;
    *result = block;
    return 0;
}

void* valloc(size_t size) noexcept {
    Held held;
    return __libc_valloc(size);
}

void* pvalloc(size_t size) noexcept {
    Held held;
    return __libc_pvalloc(size);
}

}  // extern "C"
