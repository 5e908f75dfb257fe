// Memory for the objects of one context and their values, handed out from large blocks aligned to
// huge pages (which the kernel may use where transparent huge pages are on for every program).
// Loading a store of hundreds of thousands of objects from the heap one by one spent most of its time
// in page faults. Nothing is freed before the context goes: objects live as long as their context,
// deleted ones included.
#pragma once

#include <cstddef>

namespace data {

class ObjectArena {
public:
    ObjectArena() = default;
    ~ObjectArena();
    ObjectArena(const ObjectArena&) = delete;
    ObjectArena& operator=(const ObjectArena&) = delete;

    // Uninitialised memory for `size` bytes aligned to `alignment` (a power of two, at most 64).
    void* allocate(std::size_t size, std::size_t alignment);

    // Takes over the blocks of `other` (filled on another thread, say), which is left empty; what
    // was handed out from them stays valid as long as this arena. It cannot fail, so objects made in
    // `other` never outlive their memory because a merge ran out of it.
    void adopt(ObjectArena&& other) noexcept;

    // Bytes taken from the system so far.
    std::size_t reservedBytes() const { return reserved_; }

private:
    // Each block begins with this header; the blocks form a chain from the newest, so neither
    // taking a block nor adopting another arena's chain allocates anything else.
    struct Block {
        Block* previous;
        std::size_t size;
    };
    Block* newest_ = nullptr;
    std::byte* next_ = nullptr;
    std::byte* end_ = nullptr;
    std::size_t reserved_ = 0;
};

} // namespace data
