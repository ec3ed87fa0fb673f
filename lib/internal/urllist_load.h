// Shared between the entry loader and the URL-pattern adds.
#ifndef VELMORA_INTERNAL_URLLIST_LOAD_H
#define VELMORA_INTERNAL_URLLIST_LOAD_H

#include "velmora/urllist.h"

namespace velmora {

// Adds a URL-like entry of kind 'U', 'P', 'Q' or 'S' (the scheme entry is
// already completed with "://"). The record is neither released nor taken
// over: afterwards it is held by the tree slots that store it (refcount above
// 0) or by nobody, and the caller releases it in the second case.
int add_url_entry(URLLIST *l, const char *item, char kind, URLLIST_ITEM_DATA *data, int flags) noexcept;

// Releases a record that no tree slot holds; true when it was released.
inline bool release_if_unheld(URLLIST_ITEM_DATA *data) noexcept
{
    if (data->refcount > 0)
        return false;
    urllist_destroy_item_data(data);
    return true;
}

} // namespace velmora

#endif
