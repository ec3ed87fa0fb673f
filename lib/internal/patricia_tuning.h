// Size from which a patricia tree keeps an index of the first 16 address bits.
// Tests lower it to exercise the index on small trees.
#ifndef VELMORA_INTERNAL_PATRICIA_TUNING_H
#define VELMORA_INTERNAL_PATRICIA_TUNING_H

#include <cstdint>

namespace velmora {

// Node count (glue nodes included) at which a tree of 16 bits or more builds
// its index; the index stays until the tree is freed.
extern int32_t patricia_index_min_nodes;

} // namespace velmora

#endif
