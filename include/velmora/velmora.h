/* Velmora: the whole public C interface. */
#ifndef VELMORA_VELMORA_H
#define VELMORA_VELMORA_H

#include "velmora/defs.h"
#include "velmora/category.h"
#include "velmora/common.h"
#include "velmora/intarray.h"
#include "velmora/base64.h"
#include "velmora/qxif.h"
#include "velmora/qxlog.h"
#include "velmora/logsession.h"
#include "velmora/qxstring.h"
#include "velmora/qxtime.h"
#include "velmora/urldecode.h"
#include "velmora/rwlock.h"
#include "velmora/file.h"
#include "velmora/config.h"
#include "velmora/policyevent.h"
#include "velmora/keywordlist.h"
#include "velmora/extlist.h"
#include "velmora/urllist.h"
#include "velmora/urllist_explode.h"
#include "velmora/varniksecret.h"
#include "velmora/patricia.h"
#include "velmora/iplist.h"
#include "velmora/urllist_action.h"

#endif
