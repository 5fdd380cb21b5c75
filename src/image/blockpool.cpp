// Memory blocks kept from one frame to the next.
#include "image/blockpool.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

struct KeptBlock {
    void* block;
    size_t bytes;
};

struct Pool {
    std::mutex lock;
    KeptBlock kept[kPoolBlocks] = {};
    size_t count = 0;
    size_t bytes = 0;
};

Pool& ThePool() {
    // Never destroyed: render threads of a host may still give blocks back
    // while the process exits.
    static Pool* pool = new Pool;
    return *pool;
}

// Moves every kept block into `into` (the caller frees them outside the lock).
size_t EmptyPool(Pool& pool, void** into) {
    const size_t count = pool.count;
    for (size_t i = 0; i < count; ++i)
        into[i] = pool.kept[i].block;
    pool.count = 0;
    pool.bytes = 0;
    return count;
}

// A kept block of exactly `bytes` bytes, else null; a miss frees the kept
// blocks (outside the lock).
void* TakeKeptBlock(size_t bytes) {
    void* stale[kPoolBlocks];
    size_t staleCount = 0;
    void* found = nullptr;
    {
        Pool& pool = ThePool();
        std::lock_guard<std::mutex> guard(pool.lock);
        for (size_t i = 0; i < pool.count; ++i) {
            if (pool.kept[i].bytes != bytes) continue;
            found = pool.kept[i].block;
            pool.bytes -= bytes;
            pool.kept[i] = pool.kept[--pool.count];
            break;
        }
        if (!found) {
            // A size not kept: the frame size changed, so the kept blocks of
            // other sizes will not be asked for again.
            staleCount = EmptyPool(pool, stale);
        }
    }
    for (size_t i = 0; i < staleCount; ++i)
        std::free(stale[i]);
    return found;
}

std::atomic<BlockClearer> blockClearer{nullptr};

} // namespace

void SetBlockClearer(BlockClearer clearer) {
    blockClearer.store(clearer);
}

void* TakeZeroedBlock(size_t bytes) {
    if (bytes < kPoolSmallest) return std::calloc(bytes ? bytes : 1, 1);
    void* found = TakeKeptBlock(bytes);
    if (!found) return std::calloc(bytes, 1);
    const BlockClearer clearer = blockClearer.load();
    if (clearer && bytes >= kPoolClearerSmallest)
        clearer(found, bytes);
    else
        std::memset(found, 0, bytes);
    return found;
}

void* TakeBlock(size_t bytes) {
    if (bytes < kPoolSmallest) return std::malloc(bytes ? bytes : 1);
    void* found = TakeKeptBlock(bytes);
    return found ? found : std::malloc(bytes);
}

void GiveBlock(void* block, size_t bytes) {
    if (!block) return;
    if (bytes >= kPoolSmallest) {
        Pool& pool = ThePool();
        std::lock_guard<std::mutex> guard(pool.lock);
        if (pool.count < kPoolBlocks && pool.bytes + bytes <= kPoolBytes) {
            pool.kept[pool.count++] = KeptBlock{block, bytes};
            pool.bytes += bytes;
            return;
        }
    }
    std::free(block);
}

void ReleaseBlocks() {
    void* blocks[kPoolBlocks];
    size_t count = 0;
    {
        Pool& pool = ThePool();
        std::lock_guard<std::mutex> guard(pool.lock);
        count = EmptyPool(pool, blocks);
    }
    for (size_t i = 0; i < count; ++i)
        std::free(blocks[i]);
}

size_t KeptBlocks() {
    Pool& pool = ThePool();
    std::lock_guard<std::mutex> guard(pool.lock);
    return pool.count;
}

size_t KeptBytes() {
    Pool& pool = ThePool();
    std::lock_guard<std::mutex> guard(pool.lock);
    return pool.bytes;
}
