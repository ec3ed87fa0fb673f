/* Network interface queries. */
#ifndef VELMORA_QXIF_H
#define VELMORA_QXIF_H

#include <netinet/in.h>

#include "velmora/defs.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Stores the IPv4 address of interface ifname (network byte order) into addr.
 * 0, or -1 with errno set: EINVAL for a NULL, empty or too long (16 characters
 * or more) name or a NULL addr, EPROTO when the address is not IPv4, else the
 * error of the interface query. */
int qxif_get_ipv4_addr(const char *ifname, struct in_addr *addr) VELMORA_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
