/* Category number sets: small ascending arrays of unique category numbers. */
#ifndef VELMORA_CATEGORY_H
#define VELMORA_CATEGORY_H

#include <stdint.h>

#include "velmora/defs.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Numbers that URL decomposition marks in a caller's category set. */
#define URLLIST_CATEGORY_INVALID_URL 247
#define URLLIST_CATEGORY_IP_URL 244

/* Slots of a new set, and the step by which a full set grows. */
#define CATEGORY_SET_STEP 10

typedef struct cat_t {
    uint32_t num;      /* numbers held */
    uint32_t size;     /* slots allocated in catnums */
    uint32_t *catnums; /* ascending, no duplicates; owned (malloc) */
} cat_t;

/* Index of number among the first num entries, or -1 when absent. */
int category_search(const cat_t *cat, uint32_t number) VELMORA_NOEXCEPT;
/* Inserts number at its sorted place unless present: 0 stored or already
 * present, -1 when the set could not grow (the number is then not added). */
int category_add_number(cat_t *cat, uint32_t number) VELMORA_NOEXCEPT;
/* Empties the set; an array of more than 10 slots is replaced by a fresh one
 * of 10 (kept as it was when that allocation fails). */
void category_clear(cat_t *cat) VELMORA_NOEXCEPT;

/* Fills *cat as an empty set of 10 slots: 0, or -1 when allocation failed
 * (the set is then empty with no slots). */
int category_init(cat_t *cat) VELMORA_NOEXCEPT;
/* A new empty set of 10 slots (malloc), or NULL. Release with category_free. */
cat_t *category_new(void) VELMORA_NOEXCEPT;
/* Releases the numbers of a set initialised with category_init. */
void category_destroy(cat_t *cat) VELMORA_NOEXCEPT;
/* Releases a set made by category_new (NULL is accepted). */
void category_free(cat_t *cat) VELMORA_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
