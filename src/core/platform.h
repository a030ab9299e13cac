// What differs between the systems Orvel runs on, in one place: large
// zero-filled memory for the hash tables, the machine's physical memory,
// binary standard input and output, and a thread with a chosen stack
// reserve. Linux (and other POSIX systems) use mmap, madvise, sysconf and
// pthreads; Windows uses VirtualAlloc, GlobalMemoryStatusEx, _setmode and
// the winpthreads of the mingw-w64 toolchain.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <cstdint>

namespace orvel {

// Blocks of at least this many bytes come straight from the system;
// smaller ones use calloc.
constexpr size_t LARGE_BLOCK_BYTES = size_t{1} << 21;
// Large blocks up to this size stay resident: on Linux their pages are
// mapped when the block is allocated, and a clear writes zeros instead of
// handing the pages back. A search that met a page fault at every new page
// of a cleared table ran its first thinks of a game at a small fraction of
// its speed (on a busy machine under a twentieth: each fault on a page
// first read as zero waits for the other cores). Larger blocks arrive
// zero-filled on first touch, and clearing one hands its pages back, so a
// huge table never costs a think the time to fill it.
constexpr size_t RESIDENT_BLOCK_BYTES = size_t{1} << 28;

// A zero-filled block, or nullptr when the system refuses it. On Windows the
// whole block is committed at once, so a refusal shows here, not later.
void* zeroed_alloc(size_t bytes);
void zeroed_free(void* p, size_t bytes);
// Set every byte of a block from zeroed_alloc to zero. False when the block
// had to be given back to the system and could not be had again (Windows
// only, when other processes took the commit in between); the block is then
// unusable and must only be freed.
bool zero_fill(void* p, size_t bytes);

// The machine's physical memory in bytes, or 0 when unknown.
uint64_t physical_memory_bytes();

// Standard input and output as raw bytes: no CR LF translation on output
// and no end of input at a Ctrl-Z byte on Windows. Nothing to do elsewhere.
void use_binary_stdio();

// The stack reserve of the search thread. The deepest search recurses
// through alpha_beta and next_batch once per ply slot, about 5.2 KB a slot
// with GCC 12 -O3 on both systems (alpha_beta 0.4-0.5 KB, next_batch 4.7 KB),
// so 1,280 slots take under 7 MiB, and the threat search below the last one
// at most a few hundred KB more. That is close to Linux's default 8 MiB and
// far beyond the 2 MiB mingw-w64 gives a thread, so the worker asks for
// 32 MiB. Only touched pages become resident: the reserve costs address
// space, not memory.
constexpr size_t SEARCH_STACK_BYTES = size_t{32} << 20;

// A joinable thread running fn(arg) on a stack of stack_bytes.
class SystemThread {
 public:
  SystemThread() = default;
  ~SystemThread();
  SystemThread(const SystemThread&) = delete;
  SystemThread& operator=(const SystemThread&) = delete;

  // False when the system could not start the thread.
  bool start(void (*fn)(void*), void* arg, size_t stack_bytes);
  void join();
  bool joinable() const { return started_; }

 private:
  pthread_t thread_{};
  bool started_ = false;
};

}  // namespace orvel
