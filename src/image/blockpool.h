// Zeroed memory blocks kept from one frame to the next. A frame's work images
// (matte, edge, underlay, ...) are the same sizes frame after frame; taking
// them from here and clearing them costs far less than fresh pages, which the
// system hands out one fault at a time. A block comes back zeroed exactly as
// a fresh zeroed allocation would; a caller that writes every byte before it
// reads one may take a block as it is.
//
// Safe for several render threads at once. Bounded: at most kPoolBlocks blocks
// and kPoolBytes bytes are kept; blocks of a size that is no longer asked for
// are freed as soon as a block of another size is asked for and missed.
#pragma once

#include <cstddef>
#include <new>

// Blocks below this size go straight to the system allocator.
constexpr size_t kPoolSmallest = size_t(1) << 16;
constexpr size_t kPoolBlocks = 16;
constexpr size_t kPoolBytes = size_t(1) << 30;

// A zeroed block of `bytes` bytes (like calloc), or null when memory is short.
void* TakeZeroedBlock(size_t bytes);
// A block of `bytes` bytes of any content (like malloc), for a caller that
// writes all of it before reading; null when memory is short.
void* TakeBlock(size_t bytes);
// Clears a kept block for TakeZeroedBlock; a layer above may install one that
// splits the work over threads. It must leave every byte zero.
using BlockClearer = void (*)(void* block, size_t bytes);
// Installs the clearer (null: memset) for kept blocks of at least
// kPoolClearerSmallest bytes.
void SetBlockClearer(BlockClearer clearer);
constexpr size_t kPoolClearerSmallest = size_t(1) << 20;

// Returns a block of `bytes` bytes taken above (like free); null does nothing.
void GiveBlock(void* block, size_t bytes);
// Frees every kept block (the effect's sequence set-down).
void ReleaseBlocks();
// Blocks and bytes kept now (for tests).
size_t KeptBlocks();
size_t KeptBytes();

// An array of n trivially copyable T from the kept blocks, zeroed unless the
// caller writes every element before reading it (zeroed false), given back
// when it goes; throws std::bad_alloc when memory is short.
template <typename T> class PooledArray {
  public:
    PooledArray(size_t n, bool zeroed)
        : data_(
              static_cast<T*>(zeroed ? TakeZeroedBlock(n * sizeof(T)) : TakeBlock(n * sizeof(T)))),
          count_(n) {
        if (!data_) throw std::bad_alloc();
    }
    ~PooledArray() { GiveBlock(data_, count_ * sizeof(T)); }
    PooledArray(const PooledArray&) = delete;
    PooledArray& operator=(const PooledArray&) = delete;

    T* data() const { return data_; }
    T& operator[](size_t i) const { return data_[i]; }
    size_t size() const { return count_; }

  private:
    T* data_;
    size_t count_;
};
