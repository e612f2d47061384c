// The handles the library hands to hosts.  A handle is not an address: it
// is a number that names an entry of a table the library owns, with the
// entry's generation in its upper bits, so that
//  - a value the library never handed out, or one already destroyed, is
//    refused without reading anything through it (the table's entries are
//    never freed, and a stale generation never matches);
//  - a value is never handed out twice in the process: an entry whose
//    generations are used up is retired, so a stale handle can never name
//    a newer object;
//  - a call racing a destroy either enters before it (the destroy then
//    waits for it to leave) or is refused; it never touches freed memory.
// Looking a handle up takes no lock: one atomic word per entry holds its
// generation, whether it is live or closing, and the calls inside it.
// Making and destroying take the table's own lock, never a call.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace qv::api {

template <class Object>
class HandleTable {
 public:
  // The layout of a handle's value: bit 0 always set (no aligned address
  // ever looks like one), the entry's index, then its generation, which
  // fills the rest of a pointer's width.
  static constexpr unsigned kIndexBits = 16;
  static constexpr uint32_t kEntries = 1u << kIndexBits;
  static constexpr unsigned kGenerationBits = sizeof(uintptr_t) * 8 - 1 - kIndexBits > 32
                                                  ? 32
                                                  : sizeof(uintptr_t) * 8 - 1 - kIndexBits;
  static constexpr uint64_t kLastGeneration = (uint64_t{1} << kGenerationBits) - 1;

  // key scrambles the values handed out (its bit 0 is ignored), so that a
  // small number a host makes up is unlikely to name a live handle.
  explicit HandleTable(uintptr_t key = 0) : key_(key & ~uintptr_t{1}) {}
  HandleTable(const HandleTable &) = delete;
  HandleTable &operator=(const HandleTable &) = delete;

  // Hands out a new handle for object, which the table does not own; 0
  // when every handle the process may have is taken.
  uintptr_t add(Object *object) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (;;) {
      uint32_t index = 0;
      if (!free_.empty()) {
        index = free_.back();
        free_.pop_back();
      } else if (next_unused_ < kEntries) {
        index = next_unused_++;
      } else {
        return 0;
      }
      Entry &e = entry(index);
      const uint64_t generation = generation_of(e.state.load()) + 1;
      if (generation > kLastGeneration) continue;  // retired: its every value was handed out
      e.object.store(object, std::memory_order_relaxed);
      e.state.store(generation << kGenerationShift | kLive, std::memory_order_release);
      const uintptr_t value = uintptr_t{1} | uintptr_t{index} << 1 |
                              static_cast<uintptr_t>(generation) << (1 + kIndexBits);
      return value ^ key_;
    }
  }

 private:
  // An entry's state word: the generation above bit 32, then live, closing
  // and the number of calls inside.
  static constexpr unsigned kGenerationShift = 32;
  static constexpr uint64_t kLive = uint64_t{1} << 31;
  static constexpr uint64_t kClosing = uint64_t{1} << 30;
  static constexpr uint64_t kCalls = kClosing - 1;

  struct Entry {
    std::atomic<uint64_t> state{0};
    std::atomic<Object *> object{nullptr};
    // What a destroy waits on; never freed, so a call leaving late only
    // ever wakes a waiter that checks for itself.
    std::mutex mutex;
    std::condition_variable unused;
  };

 public:
  // A call inside a live handle's object: while it exists, a destroy of
  // the handle waits.  Empty (false) for any other value.
  class Use {
   public:
    Use() = default;
    Use(Use &&other) noexcept : entry_(other.entry_), object_(other.object_) {
      other.entry_ = nullptr;
    }
    Use(const Use &) = delete;
    Use &operator=(const Use &) = delete;
    Use &operator=(Use &&) = delete;
    ~Use() {
      if (entry_) leave(*entry_);
    }
    explicit operator bool() const { return entry_ != nullptr; }
    Object &operator*() const { return *object_; }
    Object *operator->() const { return object_; }

   private:
    friend class HandleTable;
    Use(Entry *entry, Object *object) : entry_(entry), object_(object) {}
    Entry *entry_ = nullptr;
    Object *object_ = nullptr;
  };

  Use use(uintptr_t value) {
    const uintptr_t handle = value ^ key_;
    Entry *e = find(handle);
    if (!e) return {};
    const uint64_t generation = generation_in(handle);
    uint64_t state = e->state.load(std::memory_order_acquire);
    for (;;) {
      if (generation_of(state) != generation || (state & (kLive | kClosing)) != kLive) return {};
      if ((state & kCalls) == kCalls) return {};  // no room to count another call
      if (e->state.compare_exchange_weak(state, state + 1, std::memory_order_acquire))
        return Use(e, e->object.load(std::memory_order_relaxed));
    }
  }

  // Starts the destroy of a live handle: no call enters it from now on.
  // Returns its object, or null for a value that is not live or is being
  // destroyed already (a second destroy is refused, never waits).
  Object *begin_destroy(uintptr_t value) {
    const uintptr_t handle = value ^ key_;
    Entry *e = find(handle);
    if (!e) return nullptr;
    const uint64_t generation = generation_in(handle);
    uint64_t state = e->state.load(std::memory_order_acquire);
    for (;;) {
      if (generation_of(state) != generation || (state & (kLive | kClosing)) != kLive)
        return nullptr;
      if (e->state.compare_exchange_weak(state, state | kClosing, std::memory_order_acq_rel))
        return e->object.load(std::memory_order_relaxed);
    }
  }

  // Waits until the calls inside a handle whose destroy began have left.
  void wait_until_unused(uintptr_t value) {
    Entry &e = *find(value ^ key_);
    std::unique_lock<std::mutex> lock(e.mutex);
    e.unused.wait(lock, [&] { return (e.state.load(std::memory_order_acquire) & kCalls) == 0; });
  }

  // Ends the destroy: the value is dead for good, and the entry may serve
  // a later handle of a higher generation.
  void finish_destroy(uintptr_t value) {
    const uintptr_t handle = value ^ key_;
    Entry &e = *find(handle);
    e.object.store(nullptr, std::memory_order_relaxed);
    e.state.store(generation_in(handle) << kGenerationShift, std::memory_order_release);
    std::lock_guard<std::mutex> lock(mutex_);
    free_.push_back(index_in(handle));
  }

 private:
  static constexpr uint32_t kBlockSize = 256;
  static constexpr uint32_t kBlocks = kEntries / kBlockSize;
  struct Block {
    Entry entries[kBlockSize];
  };

  static uint64_t generation_of(uint64_t state) { return state >> kGenerationShift; }
  static uint64_t generation_in(uintptr_t handle) {
    return static_cast<uint64_t>(handle >> (1 + kIndexBits)) & kLastGeneration;
  }
  static uint32_t index_in(uintptr_t handle) {
    return static_cast<uint32_t>(handle >> 1) & (kEntries - 1);
  }

  Entry &entry(uint32_t index) {
    std::atomic<Block *> &slot = blocks_[index / kBlockSize];
    Block *block = slot.load(std::memory_order_acquire);
    if (!block) {
      // Only add() gets here, under the table's lock; blocks live as long
      // as the table.
      owned_.push_back(std::make_unique<Block>());
      block = owned_.back().get();
      slot.store(block, std::memory_order_release);
    }
    return block->entries[index % kBlockSize];
  }

  // The entry a value names, or null when it cannot name one: no tag bit,
  // a generation never used, or an index beyond the entries made so far.
  Entry *find(uintptr_t handle) const {
    if ((handle & 1) == 0 || generation_in(handle) == 0) return nullptr;
    if constexpr (kGenerationBits + kIndexBits + 1 < sizeof(uintptr_t) * 8) {
      if (handle >> (kGenerationBits + kIndexBits + 1) != 0) return nullptr;  // bits no handle has
    }
    Block *block = blocks_[index_in(handle) / kBlockSize].load(std::memory_order_acquire);
    return block ? &block->entries[index_in(handle) % kBlockSize] : nullptr;
  }

  static void leave(Entry &e) {
    const uint64_t before = e.state.fetch_sub(1, std::memory_order_acq_rel);
    if ((before & kClosing) && (before & kCalls) == 1) {
      std::lock_guard<std::mutex> lock(e.mutex);
      e.unused.notify_all();
    }
  }

  const uintptr_t key_;
  std::mutex mutex_;
  std::vector<uint32_t> free_;
  uint32_t next_unused_ = 0;
  std::atomic<Block *> blocks_[kBlocks] = {};
  std::vector<std::unique_ptr<Block>> owned_;
};

}  // namespace qv::api
