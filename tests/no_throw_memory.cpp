// Preloaded into pixmar by a test, for memory that runs out where nothing can
// be thrown: every request of 16 KiB or more fails from the start, so the C++
// runtime gets no reserve for throwing, and once the header's new file has
// its stream every request fails, the exception's own memory included. A
// file without a name cannot be made, so the new file has one.
#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

extern "C" void* __libc_malloc(std::size_t size);

namespace {
bool failing = false;
int new_file = -1;
}  // namespace

extern "C" void* malloc(std::size_t size)
{
    if (failing || size >= 16384) {
        errno = ENOMEM;
        return nullptr;
    }
    return __libc_malloc(size);
}

// Blocks aligned to a boundary (the header's text) fail the same way.
extern "C" void* aligned_alloc(std::size_t alignment, std::size_t size)
{
    using AlignedAlloc = void* (*)(std::size_t, std::size_t);
    static const AlignedAlloc real = reinterpret_cast<AlignedAlloc>(dlsym(RTLD_NEXT, "aligned_alloc"));
    if (failing || size >= 16384) {
        errno = ENOMEM;
        return nullptr;
    }
    return real(alignment, size);
}

extern "C" int openat(int folder, const char* path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const int mode = (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(arguments, int) : 0;
    va_end(arguments);
    if ((flags & O_TMPFILE) == O_TMPFILE) {
        errno = EOPNOTSUPP;
        return -1;
    }
    const int fd = int(syscall(SYS_openat, folder, path, flags, mode));
    if (fd >= 0 && (flags & O_CREAT) && std::strncmp(path, "pixmar-", 7) == 0)
        new_file = fd;
    return fd;
}

extern "C" int openat64(int folder, const char* path, int flags, ...) __attribute__((alias("openat")));

extern "C" FILE* fdopen(int fd, const char* mode)
{
    using Fdopen = FILE* (*)(int, const char*);
    static const Fdopen real = reinterpret_cast<Fdopen>(dlsym(RTLD_NEXT, "fdopen"));
    FILE* const file = real(fd, mode);
    failing = failing || (file && fd == new_file);
    return file;
}
