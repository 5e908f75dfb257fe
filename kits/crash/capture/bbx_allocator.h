// Guarded memory for crash-time state: one anonymous mapping laid out as guard page, writable region,
// guard page, protectable region, guard page. Allocation bumps a region's next-free pointer by
// compare-and-swap (no locks, nothing is given back); the protectable region can be made read-only
// once installation is done. When a region cannot serve, malloc() does, with a warning in sdk.log.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

struct BBXAllocator {
    void* base;
    std::uint8_t protectedFlag;
    std::size_t writableCapacity;
    char* writableStart;
    std::atomic<char*> writableNext;
    std::size_t protectableCapacity;
    char* protectableStart;
    std::atomic<char*> protectableNext;
};
static_assert(sizeof(BBXAllocator) <= 64, "the allocator's record takes 64 bytes of its region");

enum BBXAllocationKind : int {
    BBXAllocationKindProtectable = 0,
    BBXAllocationKindWritable = 1,
};

// The whole pages a region of `requested` bytes takes: requested / page size, rounded down, plus one.
std::size_t BBXAllocatorRegionPages(std::size_t requested, std::size_t pageSize);
// Maps the regions (the protectable one with 64 bytes more, for the record); none on failure.
BBXAllocator* BBXAllocatorCreate(std::size_t writableSize, std::size_t protectableSize);
// Kind 1: writable region, 0: protectable region; any other kind gives no memory and logs nothing.
// Sizes are not rounded: callers ask for sizes that keep their alignment.
void* BBXAllocatorSafeAllocate(BBXAllocator* allocator, std::size_t size, int kind);
// Makes the protectable region read-only; later allocations of either kind come from malloc().
bool BBXAllocatorProtect(BBXAllocator* allocator);
// Frees only memory that came from malloc() because there was no allocator.
void BBXAllocatorFree(BBXAllocator* allocator, void* pointer);
// Does nothing: the mapping lives as long as the process.
void BBXAllocatorDestroy(BBXAllocator* allocator);
