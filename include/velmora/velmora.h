/* Velmora: the whole public C interface. */
#ifndef VELMORA_VELMORA_H
#define VELMORA_VELMORA_H

#include "velmora/defs.h"
#include "velmora/category.h"
#include "velmora/common.h"
#include "velmora/qxlog.h"
#include "velmora/urllist_action.h"

#endif
