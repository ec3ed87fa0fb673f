// Lookup into a configuration store, shared by the file reader and the typed
// value accessors.
#ifndef VELMORA_INTERNAL_CONFIG_STORE_H
#define VELMORA_INTERNAL_CONFIG_STORE_H

#include "velmora/config.h"

namespace velmora {

// Line number index (0 = first added) of key, or nullptr when the
// configuration or key is NULL or the key has no such line.
const configuration_item *config_find_item(void *config, const char *key, int index = 0) noexcept;

// Token 1 of the first line of key, or nullptr when the line has fewer than
// two tokens or does not exist.
const char *config_value_token(void *config, const char *key) noexcept;

// Stores a new copy of text in *value; 1 when it cannot be allocated.
int config_copy_out(const char *text, char **value) noexcept;

} // namespace velmora

#endif
