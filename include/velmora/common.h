/* IP address values (qx_ipaddr) and the qxnet_ helpers that parse, print and
 * compare them. */
#ifndef VELMORA_COMMON_H
#define VELMORA_COMMON_H

#include <stdint.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "velmora/defs.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One IPv4 or IPv6 address by value, network byte order. family is AF_INET or
 * AF_INET6; any other value holds no usable address. The default address
 * (unset or unparsable) is AF_INET 255.255.255.255. */
typedef struct qx_ipaddr {
    int32_t family;
    union {
        in_addr_t ip;
        struct in6_addr ip6;
    } addr;
} qx_ipaddr;

int qxnet_aton(const char *text, qx_ipaddr *out) VELMORA_NOEXCEPT;
qx_ipaddr *qxnet_addr(const char *text, qx_ipaddr *out) VELMORA_NOEXCEPT;
char *qxnet_ntop(const qx_ipaddr *addr, char *buf, uint32_t len) VELMORA_NOEXCEPT;
char *qxnet_ntoa(const qx_ipaddr *addr) VELMORA_NOEXCEPT;
char *qxnet_ntohost(const qx_ipaddr *addr, char *buf, uint32_t len) VELMORA_NOEXCEPT;
int qxnet_compare(const qx_ipaddr *a, const qx_ipaddr *b) VELMORA_NOEXCEPT;
int qxnet_fallin_range(const qx_ipaddr *addr, const qx_ipaddr *net, const qx_ipaddr *mask) VELMORA_NOEXCEPT;
int qxnet_hash_input(const qx_ipaddr *addr) VELMORA_NOEXCEPT;
void qxnet_defaultip(qx_ipaddr *addr) VELMORA_NOEXCEPT;
int qxnet_isdefaultip(const qx_ipaddr *addr) VELMORA_NOEXCEPT;
void qxnet_singleip_subnet(const qx_ipaddr *addr, qx_ipaddr *mask) VELMORA_NOEXCEPT;
int qxnet_netmask_to_cidr(const char *text) VELMORA_NOEXCEPT;
int qxnet_ipv4_netmask_to_cidr(const char *text) VELMORA_NOEXCEPT;
int qxnet_ipv6_netmask_to_cidr(const char *text) VELMORA_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
