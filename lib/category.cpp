#include "velmora/category.h"

#include <cstdlib>
#include <cstring>

extern "C" {

int category_search(const cat_t *cat, uint32_t number) noexcept
{
    if (cat == nullptr || cat->catnums == nullptr)
        return -1;
    uint32_t low = 0;
    uint32_t high = cat->num;
    while (low < high) {
        uint32_t mid = low + (high - low) / 2;
        uint32_t value = cat->catnums[mid];
        if (value == number)
            return static_cast<int>(mid);
        if (value < number)
            low = mid + 1;
        else
            high = mid;
    }
    return -1;
}

int category_add_number(cat_t *cat, uint32_t number) noexcept
{
    if (cat == nullptr)
        return -1;
    uint32_t pos = 0;
    while (pos < cat->num && cat->catnums[pos] < number)
        pos++;
    if (pos < cat->num && cat->catnums[pos] == number)
        return 0;
    if (cat->num >= cat->size) {
        uint32_t grown = cat->size + CATEGORY_SET_STEP;
        auto *nums = static_cast<uint32_t *>(std::realloc(cat->catnums, grown * sizeof(uint32_t)));
        if (nums == nullptr)
            return -1;
        cat->catnums = nums;
        cat->size = grown;
    }
    std::memmove(cat->catnums + pos + 1, cat->catnums + pos, (cat->num - pos) * sizeof(uint32_t));
    cat->catnums[pos] = number;
    cat->num++;
    return 0;
}

void category_clear(cat_t *cat) noexcept
{
    if (cat == nullptr)
        return;
    if (cat->size > CATEGORY_SET_STEP) {
        auto *fresh = static_cast<uint32_t *>(std::malloc(CATEGORY_SET_STEP * sizeof(uint32_t)));
        if (fresh != nullptr) {
            std::free(cat->catnums);
            cat->catnums = fresh;
            cat->size = CATEGORY_SET_STEP;
        }
    }
    cat->num = 0;
}

int category_init(cat_t *cat) noexcept
{
    if (cat == nullptr)
        return -1;
    cat->num = 0;
    cat->catnums = static_cast<uint32_t *>(std::malloc(CATEGORY_SET_STEP * sizeof(uint32_t)));
    cat->size = cat->catnums != nullptr ? CATEGORY_SET_STEP : 0;
    return cat->catnums != nullptr ? 0 : -1;
}

cat_t *category_new(void) noexcept
{
    auto *cat = static_cast<cat_t *>(std::malloc(sizeof(cat_t)));
    if (cat == nullptr)
        return nullptr;
    if (category_init(cat) != 0) {
        std::free(cat);
        return nullptr;
    }
    return cat;
}

void category_destroy(cat_t *cat) noexcept
{
    if (cat == nullptr)
        return;
    std::free(cat->catnums);
    cat->catnums = nullptr;
    cat->num = 0;
    cat->size = 0;
}

void category_free(cat_t *cat) noexcept
{
    category_destroy(cat);
    std::free(cat);
}

} // extern "C"
