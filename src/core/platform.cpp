#include "core/platform.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace orvel {

#ifdef _WIN32

void* zeroed_alloc(size_t bytes) {
  if (bytes >= LARGE_BLOCK_BYTES) return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  return std::calloc(bytes, 1);
}

void zeroed_free(void* p, size_t bytes) {
  if (p == nullptr) return;
  if (bytes >= LARGE_BLOCK_BYTES)
    VirtualFree(p, 0, MEM_RELEASE);
  else
    std::free(p);
}

bool zero_fill(void* p, size_t bytes) {
  if (bytes <= RESIDENT_BLOCK_BYTES) {
    std::memset(p, 0, bytes);
    return true;
  }
  // Decommitted pages come back zero-filled on the next commit, and only
  // the pages the search touches afterwards become resident.
  if (!VirtualFree(p, bytes, MEM_DECOMMIT)) {
    std::memset(p, 0, bytes);
    return true;
  }
  return VirtualAlloc(p, bytes, MEM_COMMIT, PAGE_READWRITE) != nullptr;
}

uint64_t physical_memory_bytes() {
  MEMORYSTATUSEX status;
  status.dwLength = sizeof status;
  if (!GlobalMemoryStatusEx(&status)) return 0;
  return status.ullTotalPhys;
}

void use_binary_stdio() {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
}

#else

namespace {

// The size of a huge page on the systems that have them.
constexpr size_t HUGE_PAGE_BYTES = size_t{1} << 21;

// A private anonymous mapping of bytes that starts on a huge-page boundary:
// one that much larger is mapped, and the ends outside the aligned part are
// given back, so munmap(p, bytes) frees it whole.
void* map_aligned(size_t bytes) {
  const long page_size = sysconf(_SC_PAGESIZE);
  const size_t page = page_size > 0 ? static_cast<size_t>(page_size) : 4096;
  const size_t length = (bytes + page - 1) / page * page;  // what munmap(p, bytes) frees
  const size_t span = length + HUGE_PAGE_BYTES;
  void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const uintptr_t start = reinterpret_cast<uintptr_t>(raw);
  const uintptr_t aligned = (start + HUGE_PAGE_BYTES - 1) & ~uintptr_t{HUGE_PAGE_BYTES - 1};
  const size_t head = aligned - start;
  if (head > 0) munmap(raw, head);
  const size_t tail = span - head - length;
  if (tail > 0) munmap(reinterpret_cast<void*>(aligned + length), tail);
  return reinterpret_cast<void*>(aligned);
}

}  // namespace

void* zeroed_alloc(size_t bytes) {
  if (bytes >= LARGE_BLOCK_BYTES) {
    void* p = map_aligned(bytes);
    if (p == nullptr) return nullptr;
    // The tables are read at random: on huge pages far fewer of those reads
    // miss the address cache. A system without them keeps small pages.
#ifdef MADV_HUGEPAGE
    madvise(p, bytes, MADV_HUGEPAGE);
#endif
    // Fault every page in now, outside any think (the pages read as zero).
    if (bytes <= RESIDENT_BLOCK_BYTES) std::memset(p, 0, bytes);
    return p;
  }
  return std::calloc(bytes, 1);
}

void zeroed_free(void* p, size_t bytes) {
  if (p == nullptr) return;
  if (bytes >= LARGE_BLOCK_BYTES)
    munmap(p, bytes);
  else
    std::free(p);
}

bool zero_fill(void* p, size_t bytes) {
  // Private anonymous pages read as zero again after MADV_DONTNEED.
  if (bytes > RESIDENT_BLOCK_BYTES && madvise(p, bytes, MADV_DONTNEED) == 0) return true;
  std::memset(p, 0, bytes);
  return true;
}

uint64_t physical_memory_bytes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return 0;
  const uint64_t p = static_cast<uint64_t>(pages);
  const uint64_t s = static_cast<uint64_t>(page_size);
  if (p > UINT64_MAX / s) return UINT64_MAX;
  return p * s;
}

void use_binary_stdio() {}

#endif

// pthreads on both systems: glibc's on Linux, winpthreads (which honours the
// stack size attribute) with the mingw-w64 posix thread model.
SystemThread::~SystemThread() { join(); }

bool SystemThread::start(void (*fn)(void*), void* arg, size_t stack_bytes) {
  if (started_) return false;
  struct Start {
    void (*fn)(void*);
    void* arg;
  };
  auto* start = new Start{fn, arg};
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) {
    delete start;
    return false;
  }
  pthread_attr_setstacksize(&attr, stack_bytes);
  const int rc = pthread_create(
      &thread_, &attr,
      [](void* p) -> void* {
        Start* s = static_cast<Start*>(p);
        Start copy = *s;
        delete s;
        copy.fn(copy.arg);
        return nullptr;
      },
      start);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete start;
    return false;
  }
  started_ = true;
  return true;
}

void SystemThread::join() {
  if (!started_) return;
  pthread_join(thread_, nullptr);
  started_ = false;
}

}  // namespace orvel
