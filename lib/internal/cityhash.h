// CityHash64 of the 1.0 release series (as released in 1.0.3), unseeded.
// URL tokens are stored and looked up by this value, so it must never change:
// lists written as hash strings depend on it.
#ifndef VELMORA_INTERNAL_CITYHASH_H
#define VELMORA_INTERNAL_CITYHASH_H

#include <cstddef>
#include <cstdint>

namespace velmora {

uint64_t city_hash64(const char *data, size_t len) noexcept;

} // namespace velmora

#endif
