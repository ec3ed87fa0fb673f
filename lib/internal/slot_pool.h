// Fixed-size slots carved from slabs, for the many small records of a
// patricia tree: no allocator header per record and neighbouring records
// share cache lines. Freed slots go to a free list; the slabs are released
// together with the pool.
#ifndef VELMORA_INTERNAL_SLOT_POOL_H
#define VELMORA_INTERNAL_SLOT_POOL_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define VELMORA_SLOT_POOL_ASAN 1
#endif

namespace velmora {

class SlotPool {
public:
    // slot_size is a multiple of 8 and at least 8.
    explicit SlotPool(size_t slot_size) : slot_size_(slot_size) {}
    ~SlotPool() { release_all(); }
    SlotPool(const SlotPool &) = delete;
    SlotPool &operator=(const SlotPool &) = delete;

    // A zero-filled slot, or nullptr when no slab could be allocated.
    void *take()
    {
        if (free_ == nullptr && !grow())
            return nullptr;
        void *slot = free_;
        unpoison(slot, slot_size_);
        std::memcpy(&free_, slot, sizeof(free_));
        std::memset(slot, 0, slot_size_);
        return slot;
    }

    void give_back(void *slot)
    {
        std::memcpy(slot, &free_, sizeof(free_));
        free_ = slot;
        // The link stays readable; the rest is poisoned so that a use after
        // release is still reported under AddressSanitizer.
        poison(static_cast<char *>(slot) + sizeof(free_), slot_size_ - sizeof(free_));
    }

    void release_all()
    {
        while (slabs_ != nullptr) {
            Slab *next = slabs_->next;
            unpoison(slabs_->first(), slabs_->slots * slot_size_);
            std::free(slabs_);
            slabs_ = next;
        }
        free_ = nullptr;
        next_slab_slots_ = kFirstSlabSlots;
    }

private:
    struct Slab {
        Slab *next;
        size_t slots;
        char *first() { return reinterpret_cast<char *>(this + 1); }
    };
    static constexpr size_t kFirstSlabSlots = 8;
    static constexpr size_t kLargestSlabSlots = 4096;

    bool grow()
    {
        size_t count = next_slab_slots_;
        auto *slab = static_cast<Slab *>(std::malloc(sizeof(Slab) + count * slot_size_));
        if (slab == nullptr)
            return false;
        slab->next = slabs_;
        slab->slots = count;
        slabs_ = slab;
        // Small trees stay small; large ones grow in large steps.
        if (next_slab_slots_ < kLargestSlabSlots)
            next_slab_slots_ *= 2;
        for (size_t i = count; i-- > 0;)
            give_back(slab->first() + i * slot_size_);
        return true;
    }

    static void poison([[maybe_unused]] void *start, [[maybe_unused]] size_t size)
    {
#ifdef VELMORA_SLOT_POOL_ASAN
        ASAN_POISON_MEMORY_REGION(start, size);
#endif
    }
    static void unpoison([[maybe_unused]] void *start, [[maybe_unused]] size_t size)
    {
#ifdef VELMORA_SLOT_POOL_ASAN
        ASAN_UNPOISON_MEMORY_REGION(start, size);
#endif
    }

    size_t slot_size_;
    Slab *slabs_ = nullptr;
    void *free_ = nullptr;
    size_t next_slab_slots_ = kFirstSlabSlots;
};

} // namespace velmora

#endif
