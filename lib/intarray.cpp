#include "velmora/intarray.h"

#include <cstdint>
#include <cstdlib>

namespace {

bool holds_slot(const intarray *array, int id)
{
    return array != nullptr && id >= 0 && id < array->size;
}

// Size after growing far enough for slot id: whole chunks beyond the current
// size, capped at maxsize. An index beyond the first chunk is served by
// several chunks at once rather than refused, so callers may insert anywhere
// below maxsize.
int32_t grown_size(const intarray *array, int id)
{
    if (array->chunksize == 0)
        return array->maxsize;
    int64_t missing = static_cast<int64_t>(id) + 1 - array->size;
    int64_t chunks = (missing + array->chunksize - 1) / array->chunksize;
    int64_t wanted = array->size + chunks * array->chunksize;
    return wanted < array->maxsize ? static_cast<int32_t>(wanted) : array->maxsize;
}

bool grow_for(intarray *array, int id)
{
    if (array->size >= array->maxsize)
        return false;
    int32_t new_size = grown_size(array, id);
    auto **items = static_cast<void **>(std::realloc(array->items, static_cast<std::size_t>(new_size) * sizeof(void *)));
    if (items == nullptr)
        return false;
    for (int32_t i = array->size; i < new_size; i++)
        items[i] = nullptr;
    array->items = items;
    array->size = new_size;
    return true;
}

} // namespace

extern "C" {

intarray *intarray_create(int size, int maxsize, int chunksize) noexcept
{
    if (size < 1 || maxsize < size || chunksize < 0)
        return nullptr;
    auto *array = static_cast<intarray *>(std::malloc(sizeof(intarray)));
    if (array == nullptr)
        return nullptr;
    array->items = static_cast<void **>(std::calloc(static_cast<std::size_t>(size), sizeof(void *)));
    if (array->items == nullptr) {
        std::free(array);
        return nullptr;
    }
    array->size = size;
    array->maxsize = maxsize;
    array->chunksize = chunksize;
    return array;
}

void intarray_destroy(intarray *array) noexcept
{
    if (array == nullptr)
        return;
    std::free(array->items);
    std::free(array);
}

void *intarray_get(intarray *array, int id) noexcept
{
    return holds_slot(array, id) ? array->items[id] : nullptr;
}

void *intarray_delete(intarray *array, int id) noexcept
{
    if (!holds_slot(array, id))
        return nullptr;
    void *item = array->items[id];
    array->items[id] = nullptr;
    return item;
}

int intarray_insert(intarray *array, int id, void *item) noexcept
{
    if (array == nullptr || id < 0 || id >= array->maxsize)
        return 1;
    if (id >= array->size && !grow_for(array, id))
        return 1;
    if (array->items[id] != nullptr)
        return 1;
    array->items[id] = item;
    return 0;
}

} // extern "C"
