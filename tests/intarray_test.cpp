#include "velmora/intarray.h"

#include <gtest/gtest.h>

#include <memory>
#include <tuple>

namespace {

struct Destroy {
    void operator()(intarray *array) const { intarray_destroy(array); }
};
using Array = std::unique_ptr<intarray, Destroy>;

int items[8];

void *item(int n)
{
    return &items[n];
}

TEST(IntArray, GrowsOneChunkPerInsertUpToMaxsize)
{
    Array array(intarray_create(1, 4, 1));
    ASSERT_NE(array, nullptr);
    for (int id = 0; id < 4; id++) {
        EXPECT_EQ(intarray_insert(array.get(), id, item(id)), 0);
        EXPECT_EQ(array->size, id + 1);
    }
    EXPECT_EQ(intarray_insert(array.get(), 4, item(4)), 1);
    EXPECT_EQ(array->size, 4);
    for (int id = 0; id < 4; id++)
        EXPECT_EQ(intarray_get(array.get(), id), item(id));
}

TEST(IntArray, OccupiedSlotRefusesUntilDeleted)
{
    Array array(intarray_create(2, 2, 0));
    ASSERT_NE(array, nullptr);
    EXPECT_EQ(intarray_insert(array.get(), 1, item(1)), 0);
    EXPECT_EQ(intarray_insert(array.get(), 1, item(2)), 1);
    EXPECT_EQ(intarray_get(array.get(), 1), item(1));
    EXPECT_EQ(intarray_delete(array.get(), 1), item(1));
    EXPECT_EQ(intarray_get(array.get(), 1), nullptr);
    EXPECT_EQ(intarray_delete(array.get(), 1), nullptr);
    EXPECT_EQ(intarray_insert(array.get(), 1, item(2)), 0);
    EXPECT_EQ(intarray_get(array.get(), 1), item(2));
}

TEST(IntArray, OutOfRangeIndexesGiveNull)
{
    Array array(intarray_create(2, 8, 2));
    ASSERT_NE(array, nullptr);
    intarray_insert(array.get(), 0, item(0));
    for (int id : {-1, 2, 7, 100}) {
        EXPECT_EQ(intarray_get(array.get(), id), nullptr) << id;
        EXPECT_EQ(intarray_delete(array.get(), id), nullptr) << id;
    }
    EXPECT_EQ(intarray_insert(array.get(), -1, item(1)), 1);
    EXPECT_EQ(intarray_insert(array.get(), 8, item(1)), 1);
    EXPECT_EQ(array->size, 2);
    EXPECT_EQ(intarray_get(nullptr, 0), nullptr);
    EXPECT_EQ(intarray_insert(nullptr, 0, item(0)), 1);
    intarray_destroy(nullptr);
}

TEST(IntArray, InsertFarAheadGrowsWholeChunksUntilTheIndexFits)
{
    struct {
        int size, maxsize, chunksize, id, grown;
    } cases[] = {{1, 100, 1, 10, 11}, {1, 100, 4, 10, 13}, {1, 12, 4, 10, 12}, {3, 50, 0, 4, 50}, {1, 11, 10, 10, 11}};
    for (const auto &c : cases) {
        Array array(intarray_create(c.size, c.maxsize, c.chunksize));
        ASSERT_NE(array, nullptr);
        EXPECT_EQ(intarray_insert(array.get(), c.id, item(3)), 0) << c.id;
        EXPECT_EQ(array->size, c.grown) << c.id;
        EXPECT_EQ(intarray_get(array.get(), c.id), item(3));
        for (int id = c.size; id < c.grown; id++) {
            if (id != c.id) {
                EXPECT_EQ(intarray_get(array.get(), id), nullptr) << "added slots start empty";
            }
        }
    }
}

TEST(IntArray, CreateRefusesInvalidBounds)
{
    for (auto [size, maxsize, chunksize] : {std::tuple{0, 4, 1}, std::tuple{5, 4, 1}, std::tuple{1, 4, -1}})
        EXPECT_EQ(intarray_create(size, maxsize, chunksize), nullptr) << size << " " << maxsize << " " << chunksize;
    Array array(intarray_create(3, 3, 0));
    ASSERT_NE(array, nullptr);
    EXPECT_EQ(array->size, 3);
    for (int id = 0; id < 3; id++)
        EXPECT_EQ(intarray_get(array.get(), id), nullptr);
}

} // namespace
