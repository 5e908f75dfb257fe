// The guarded mapping, its lock-free bump allocation and the protection of its protectable region.
#include "kits/crash/capture/bbx_allocator.h"

#include "kits/crash/capture/bbx_sdk_log.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr std::size_t recordSize = 64;

std::size_t pageSize()
{
    const long size = ::sysconf(_SC_PAGESIZE);
    return size > 0 ? static_cast<std::size_t>(size) : 4096;
}

const char* errorText(int error)
{
    const char* text = strerrordesc_np(error);
    return text ? text : "unknown error";
}

void* BBXAllocatorSafeAllocateFromRegion(BBXAllocator* allocator, std::size_t size, int kind)
{
    const bool writable = kind == BBXAllocationKindWritable;
    std::atomic<char*>& next = writable ? allocator->writableNext : allocator->protectableNext;
    char* const start = writable ? allocator->writableStart : allocator->protectableStart;
    const std::size_t capacity = writable ? allocator->writableCapacity : allocator->protectableCapacity;
    char* current = next.load(std::memory_order_seq_cst);
    for (;;) {
        if (static_cast<std::size_t>(current - start) + size > capacity) {
            BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Unable to allocate sufficient memory, falling back to malloc\n");
            return std::malloc(size);
        }
        if (next.compare_exchange_weak(current, current + size, std::memory_order_seq_cst))
            return current;
    }
}

} // namespace

std::size_t BBXAllocatorRegionPages(std::size_t requested, std::size_t pageSize)
{
    return requested / pageSize + 1;
}

BBXAllocator* BBXAllocatorCreate(std::size_t writableSize, std::size_t protectableSize)
{
    const std::size_t page = pageSize();
    const std::size_t writableBytes = BBXAllocatorRegionPages(writableSize, page) * page;
    const std::size_t protectableBytes = BBXAllocatorRegionPages(protectableSize + recordSize, page) * page;
    const std::size_t total = writableBytes + protectableBytes + 3 * page;
    void* mapping = ::mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED) {
        BBX_LOG(BBXSDKLogLevelError, "ERROR [%s:%d] Mapping failed %s\n", errorText(errno));
        return nullptr;
    }
    char* const base = static_cast<char*>(mapping);
    char* const writableStart = base + page;
    char* const middleGuard = writableStart + writableBytes;
    char* const protectableStart = middleGuard + page;
    char* const lastGuard = protectableStart + protectableBytes;
    BBX_LOG(BBXSDKLogLevelInfo, "INFO  [%s:%d] Mapping: %p %p %p, total: %zu K\n", static_cast<void*>(base),
            static_cast<void*>(writableStart), static_cast<void*>(protectableStart), total / 1024);
    if (::mprotect(base, page, PROT_NONE) != 0) {
        BBX_LOG(BBXSDKLogLevelError, "ERROR [%s:%d] First guard protection failed %s\n", errorText(errno));
        return nullptr;
    }
    if (::mprotect(middleGuard, page, PROT_NONE) != 0) {
        BBX_LOG(BBXSDKLogLevelError, "ERROR [%s:%d] Middle guard protection failed %s\n", errorText(errno));
        return nullptr;
    }
    if (::mprotect(lastGuard, page, PROT_NONE) != 0) {
        BBX_LOG(BBXSDKLogLevelError, "ERROR [%s:%d] Last guard protection failed %s\n", errorText(errno));
        return nullptr;
    }
    // The record is the protectable region's first 64 bytes.
    auto* allocator = new (protectableStart) BBXAllocator{};
    allocator->base = base;
    allocator->protectedFlag = 0;
    allocator->writableCapacity = writableBytes;
    allocator->writableStart = writableStart;
    allocator->writableNext.store(writableStart);
    allocator->protectableCapacity = protectableBytes;
    allocator->protectableStart = protectableStart;
    allocator->protectableNext.store(protectableStart + recordSize);
    BBX_LOG(BBXSDKLogLevelDebug, "DEBUG [%s:%d] Allocator successfully created %p", static_cast<void*>(allocator));
    return allocator;
}

void* BBXAllocatorSafeAllocate(BBXAllocator* allocator, std::size_t size, int kind)
{
    if (kind != BBXAllocationKindWritable && kind != BBXAllocationKindProtectable)
        return nullptr;
    if (!allocator) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Allocator invalid, falling back to malloc\n");
        return std::malloc(size);
    }
    if (allocator->protectedFlag) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Allocator already protected, falling back to malloc\n");
        return std::malloc(size);
    }
    return BBXAllocatorSafeAllocateFromRegion(allocator, size, kind);
}

bool BBXAllocatorProtect(BBXAllocator* allocator)
{
    if (reinterpret_cast<std::uintptr_t>(allocator) < 4096) {
        BBX_LOG(BBXSDKLogLevelError, "ERROR [%s:%d] Invalid allocator");
        return false;
    }
    if (allocator->protectedFlag) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Write protection already enabled");
        return true;
    }
    allocator->protectedFlag = 1;
    return ::mprotect(allocator->protectableStart, allocator->protectableCapacity, PROT_READ) == 0;
}

void BBXAllocatorFree(BBXAllocator* allocator, void* pointer)
{
    if (!allocator)
        std::free(pointer);
}

void BBXAllocatorDestroy(BBXAllocator*) {}
