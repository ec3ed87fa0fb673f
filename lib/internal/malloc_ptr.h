// Ownership of blocks that come from (and go back to) the C allocator.
#ifndef VELMORA_INTERNAL_MALLOC_PTR_H
#define VELMORA_INTERNAL_MALLOC_PTR_H

#include <cstdlib>
#include <memory>

namespace velmora {

struct FreeDeleter {
    void operator()(void *p) const noexcept { std::free(p); }
};

// A block from malloc, released with free.
template <class T>
using MallocPtr = std::unique_ptr<T, FreeDeleter>;

} // namespace velmora

#endif
