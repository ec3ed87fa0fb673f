/* IP lists: IPv4 and IPv6 networks mapped to opaque data pointers, with
 * longest-prefix lookup, parsers for address, network and range texts, and
 * the conversion of an address range into the fewest aligned networks. */
#ifndef VELMORA_IPLIST_H
#define VELMORA_IPLIST_H

#include <stdint.h>
#include <netinet/in.h>

#include "velmora/common.h"
#include "velmora/defs.h"
#include "velmora/patricia.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Receives the data of every entry a delete removes and of every entry left
 * at terminate. */
typedef void (*iplist_free_func_t)(void *data);

/* The list handle (iplist_init returns it as void *). */
typedef struct iphead {
    patricia_tree_t *head_ipv4; /* maxbits 32 */
    patricia_tree_t *head_ipv6; /* maxbits 128 */
    iplist_free_func_t free_func;
} iphead;

/* One network produced by the range converter; subnet and data are left for
 * the caller. */
typedef struct ip_cidr {
    qx_ipaddr ip;
    qx_ipaddr subnet;
    int32_t cidr;
    void *data;
} ip_cidr;

void *iplist_init(iplist_free_func_t free_func, patricia_match_func_t match_func) VELMORA_NOEXCEPT;
void iplist_terminate(void *head) VELMORA_NOEXCEPT;

/* Adds: 0 added; -1 text, prefix length or mask not acceptable; -2 already
 * present (the earlier data stays); -3 the trie returned no node; -4 no list
 * or no memory for a range. */
int iplist_add_string(void *head, const char *ipaddr, void *data) VELMORA_NOEXCEPT;
int iplist_ipv4_add_string(void *head, const char *ipaddr, void *data) VELMORA_NOEXCEPT;
int iplist_ipv6_add_string(void *head, const char *ipaddr, void *data) VELMORA_NOEXCEPT;
int iplist_add_cidr(void *head, const qx_ipaddr *ip, int cidr, void *data) VELMORA_NOEXCEPT;
int iplist_ipv4_add_cidr(void *head, in_addr_t ip, int cidr, void *data) VELMORA_NOEXCEPT;
int iplist_ipv6_add_cidr(void *head, const struct in6_addr *ip, int cidr, void *data) VELMORA_NOEXCEPT;
int iplist_add_subnet(void *head, in_addr_t ip, in_addr_t subnet, void *data) VELMORA_NOEXCEPT;
int iplist_add_range(void *head, const char *range, void *data) VELMORA_NOEXCEPT;

/* Deletes: 0 removed; 1 not present; -1 prefix length, mask or range not
 * acceptable; -4 no memory for a range. */
int iplist_delete_cidr(void *head, const qx_ipaddr *ip, int cidr) VELMORA_NOEXCEPT;
int iplist_ipv4_delete_cidr(void *head, in_addr_t ip, int cidr) VELMORA_NOEXCEPT;
int iplist_ipv6_delete_cidr(void *head, const struct in6_addr *ip, int cidr) VELMORA_NOEXCEPT;
int iplist_delete_subnet(void *head, in_addr_t ip, in_addr_t subnet) VELMORA_NOEXCEPT;
int iplist_delete_range(void *head, const char *range) VELMORA_NOEXCEPT;

/* 0 when a stored network contains the address, 1 when none does (or no
 * list), -1 for another family. */
int iplist_find(void *head, const qx_ipaddr *ip) VELMORA_NOEXCEPT;
int iplist_ipv4_find(void *head, in_addr_t ip) VELMORA_NOEXCEPT;
int iplist_ipv6_find(void *head, const struct in6_addr *ip) VELMORA_NOEXCEPT;
void *iplist_find_data(void *head, const qx_ipaddr *ip) VELMORA_NOEXCEPT;
void *iplist_ipv4_find_data(void *head, in_addr_t ip) VELMORA_NOEXCEPT;
void *iplist_ipv6_find_data(void *head, const struct in6_addr *ip) VELMORA_NOEXCEPT;
void *iplist_find_exact_data(void *head, const qx_ipaddr *ip, int cidr) VELMORA_NOEXCEPT;
int iplist_walk(void *head, void_fn_t func, void *arg) VELMORA_NOEXCEPT;

/* exact: data of the entry for exactly ip/cidr; best: data of the longest
 * shorter entry containing it. Returns the placement node for
 * iplist_get_smaller_subnets. */
void *iplist_get_overlapped(void *iplist, const qx_ipaddr *ip, int cidr, void **exact, void **best) VELMORA_NOEXCEPT;
void *iplist_ipv4_get_overlapped(void *iplist, in_addr_t ip, int cidr, void **exact, void **best) VELMORA_NOEXCEPT;
void *iplist_ipv6_get_overlapped(void *iplist, const struct in6_addr *ip, int cidr, void **exact,
                                 void **best) VELMORA_NOEXCEPT;
/* Data of the stored networks inside ip/cidr found below start, in a malloc'd
 * array (NULL when none); returns their number, or -1. */
int iplist_get_smaller_subnets(void *start, const qx_ipaddr *ip, int cidr, void ***subnets) VELMORA_NOEXCEPT;
int iplist_ipv4_get_smaller_subnets(void *start, in_addr_t ip, int cidr, void ***subnets) VELMORA_NOEXCEPT;
int iplist_ipv6_get_smaller_subnets(void *start, const struct in6_addr *ip, int cidr,
                                    void ***subnets) VELMORA_NOEXCEPT;
/* Data of every stored network strictly inside ip/cidr, also when the trie
 * holds nothing above them (no placement node); same results as
 * iplist_get_smaller_subnets. */
int iplist_get_contained_subnets(void *iplist, const qx_ipaddr *ip, int cidr, void ***subnets) VELMORA_NOEXCEPT;

int iplist_ipaddr_check(const char *str) VELMORA_NOEXCEPT;
int iplist_hostname_is_ip_range(const char *hostname, int len, int ipv6) VELMORA_NOEXCEPT;
int iplist_rangestring_to_ips(const char *range, qx_ipaddr *low_ip, qx_ipaddr *high_ip) VELMORA_NOEXCEPT;
int iplist_subnetstring_to_ip_and_cidr(const char *subnet_string, in_addr_t *ip, int *cidr) VELMORA_NOEXCEPT;

/* Range to networks: the count written, or -1 with errno EINVAL (low above
 * high, no array, ends of different families) or ENOMEM (max_subnets too
 * small). */
int iplist_iprange_to_subnets(const qx_ipaddr *low_ip, const qx_ipaddr *hi_ip, ip_cidr *subnets,
                              int max_subnets) VELMORA_NOEXCEPT;
int iplist_iprange_to_subnets_limited(const qx_ipaddr *low_ip, const qx_ipaddr *hi_ip, ip_cidr *subnets,
                                      int max_subnets, int max_subnet_bits) VELMORA_NOEXCEPT;
int iplist_ipv4_iprange_to_subnets(in_addr_t low_ip, in_addr_t hi_ip, ip_cidr *subnets, int max_subnets,
                                   int max_subnet_bits) VELMORA_NOEXCEPT;
int iplist_ipv6_iprange_to_subnets(const struct in6_addr *low_ip, const struct in6_addr *hi_ip,
                                   ip_cidr *subnets, int max_subnets, int max_subnet_bits) VELMORA_NOEXCEPT;

int iplist_subnet_size_to_bits(uint64_t max_size) VELMORA_NOEXCEPT;
void iplist_ipv6_mask_cidr(struct in6_addr *ip, int cidr) VELMORA_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
