#include "velmora/category.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<uint32_t> numbers(const cat_t &set)
{
    return {set.catnums, set.catnums + set.num};
}

TEST(Category, AddKeepsAscendingUniqueAndGrowsByTen)
{
    cat_t set;
    ASSERT_EQ(category_init(&set), 0);
    EXPECT_EQ(set.size, 10u);
    for (uint32_t n : {30u, 10u, 20u, 10u, 5u, 30u})
        EXPECT_EQ(category_add_number(&set, n), 0);
    EXPECT_EQ(numbers(set), (std::vector<uint32_t>{5, 10, 20, 30}));
    for (uint32_t n = 100; n < 111; n++)
        ASSERT_EQ(category_add_number(&set, n), 0);
    EXPECT_EQ(set.num, 15u);
    EXPECT_EQ(set.size, 20u);
    category_destroy(&set);
}

TEST(Category, SearchFindsIndexOrMinusOne)
{
    cat_t set;
    ASSERT_EQ(category_init(&set), 0);
    EXPECT_EQ(category_search(&set, 3), -1);
    for (uint32_t n : {2u, 4u, 6u, 8u, 0xffffffffu})
        category_add_number(&set, n);
    EXPECT_EQ(category_search(&set, 2), 0);
    EXPECT_EQ(category_search(&set, 8), 3);
    EXPECT_EQ(category_search(&set, 0xffffffffu), 4);
    EXPECT_EQ(category_search(&set, 5), -1);
    EXPECT_EQ(category_search(&set, 0), -1);
    category_destroy(&set);
}

TEST(Category, ClearShrinksLargeArrayToTenSlots)
{
    cat_t *set = category_new();
    ASSERT_NE(set, nullptr);
    for (uint32_t n = 0; n < 25; n++)
        category_add_number(set, n);
    EXPECT_EQ(set->size, 30u);
    category_clear(set);
    EXPECT_EQ(set->num, 0u);
    EXPECT_EQ(set->size, 10u);
    EXPECT_EQ(category_search(set, 1), -1);
    EXPECT_EQ(category_add_number(set, 9), 0);
    EXPECT_EQ(category_search(set, 9), 0);
    category_free(set);
}

} // namespace
