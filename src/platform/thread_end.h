// A per-thread pointer whose owner learns when its thread ends, without a
// C++ thread_local object that has a destructor: in a Windows DLL built
// with mingw-w64 those are destroyed at thread exit out of order with the
// compiler's own thread storage, and on 32 bits through a destructor called
// with the wrong convention, which corrupts the process heap.  The system's
// own thread storage (a pthread key, a fiber-local slot) has no such fault.
#pragma once

namespace qv::platform {

// One slot per process.  set() stores the calling thread's value; when a
// thread whose value is not null ends, on_end(value) runs on that thread.
// The slot lives as long as the process (or the library, which frees it
// at unload).
class ThreadEndSlot {
 public:
  using OnEnd = void (*)(void *value);
  explicit ThreadEndSlot(OnEnd on_end);
  ~ThreadEndSlot();
  ThreadEndSlot(const ThreadEndSlot &) = delete;
  ThreadEndSlot &operator=(const ThreadEndSlot &) = delete;

  // False only when the system had no slot to give.
  bool usable() const { return usable_; }
  void *get() const;
  bool set(void *value) const;

 private:
  unsigned long index_ = 0;
  bool usable_ = false;
};

}  // namespace qv::platform
