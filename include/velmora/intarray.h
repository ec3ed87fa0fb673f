/* A growable array of pointers indexed by small non-negative integers, with an
 * upper bound on its length and growth in fixed chunks. Empty slots hold NULL;
 * the array does not own what its slots point to. No locking inside. */
#ifndef VELMORA_INTARRAY_H
#define VELMORA_INTARRAY_H

#include <stdint.h>

#include "velmora/defs.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct intarray {
    void **items;      /* the slots; NULL marks an empty slot */
    int32_t size;      /* slots allocated, 1 <= size <= maxsize */
    int32_t maxsize;   /* most slots the array may ever have */
    int32_t chunksize; /* slots added per growth step (0: grow to maxsize) */
} intarray;

/* A new array of size empty slots, or NULL (size below 1, maxsize below size,
 * chunksize below 0, or allocation failed). */
intarray *intarray_create(int size, int maxsize, int chunksize) VELMORA_NOEXCEPT;
/* Frees the slots and the handle, not the items; NULL is ignored. */
void intarray_destroy(intarray *array) VELMORA_NOEXCEPT;
/* The item in slot id, or NULL. */
void *intarray_get(intarray *array, int id) VELMORA_NOEXCEPT;
/* Empties slot id and returns what it held, or NULL. */
void *intarray_delete(intarray *array, int id) VELMORA_NOEXCEPT;
/* Stores item in the empty slot id, growing the array up to maxsize when id
 * lies beyond its slots: 0 stored, 1 refused (occupied slot, id out of range,
 * growing failed). */
int intarray_insert(intarray *array, int id, void *item) VELMORA_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
