/* Policy event codes: the nine event types a URL list can hold one result
 * record for, and the conversion between their numbers and names. */
#ifndef VELMORA_POLICYEVENT_H
#define VELMORA_POLICYEVENT_H

#include "velmora/defs.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Number of event types; valid event numbers are 0 to POLICYEVENT_COUNT - 1. */
#define POLICYEVENT_COUNT 9

/* Event names indexed by event number: "policy", "bandwidth", "interim",
 * "virus", "auth", "decrypt", "connect", "unknown", "keyword". */
extern const char *const policyevent_names[POLICYEVENT_COUNT];

/* The constant name of event num, or "???" for a number outside 0 to 8. */
const char *policyevent_ntoa(int num) VELMORA_NOEXCEPT;
/* The event number whose name shares the first four characters of str
 * (any case), or -1 when none does (also for NULL or shorter texts). */
int policyevent_aton(const char *str) VELMORA_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
