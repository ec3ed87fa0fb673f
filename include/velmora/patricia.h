/* Patricia tries: path-compressed binary radix trees of IPv4 or IPv6
 * prefixes, each prefix carrying one opaque data pointer, answering exact,
 * longest-prefix and covering-prefix questions. */
#ifndef VELMORA_PATRICIA_H
#define VELMORA_PATRICIA_H

#include <stddef.h>
#include <stdint.h>
#include <netinet/in.h>

#include "velmora/defs.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Untyped callback. The walks call it as
 * void func(prefix_t *prefix, void *data, void *arg), patricia_free and
 * patricia_terminate as void func(void *data); C++ callers cast their
 * function to this type. */
typedef void (*void_fn_t)();

/* One prefix: address (network order) and length in bits. A heap prefix of
 * family AF_INET has room for the 4-byte address only. ref_count 0 marks a
 * prefix the caller does not own through a reference: one in caller storage,
 * or the tree's own copy of such a prefix held by a node (released with the
 * node; patricia_prefix_ref of it returns an independent heap copy). A heap
 * prefix given to patricia_lookup is shared by the node (one more
 * reference). */
typedef struct _prefix_t {
    uint16_t family;
    uint16_t bitlen;
    int32_t ref_count;
    union {
        struct in_addr sin;
        struct in6_addr sin6;
    } add;
} prefix_t;

typedef struct _patricia_node_t {
    uint32_t bit;                     /* bit tested here; a prefix node's bitlen */
    prefix_t *prefix;                 /* NULL in a glue node */
    struct _patricia_node_t *l, *r;   /* r: addresses with bit `bit` set */
    struct _patricia_node_t *parent;  /* NULL at the head */
    void *data;                       /* always NULL in a glue node */
    void *user1;                      /* free for the caller */
} patricia_node_t;

/* Filter of longest-prefix answers: a node is accepted when it returns
 * non-zero. */
typedef int (*patricia_match_func_t)(patricia_node_t *node);

/* Trees are made by patricia_init only: the tree record is the head of a
 * larger private block holding the tree's nodes. */
typedef struct _patricia_tree_t {
    patricia_node_t *head;
    uint32_t maxbits;                 /* 32 or 128 */
    int32_t num_active_node;          /* glue nodes included */
    patricia_match_func_t match_func; /* NULL accepts every node */
} patricia_tree_t;

/* Trees created and not yet terminated. */
extern int num_active_patricia;

prefix_t *patricia_prefix_new2(int family, const void *dest, int bitlen, prefix_t *prefix) VELMORA_NOEXCEPT;
prefix_t *patricia_prefix_new(int family, const void *dest, int bitlen) VELMORA_NOEXCEPT;
prefix_t *patricia_prefix_ref(prefix_t *prefix) VELMORA_NOEXCEPT;
void patricia_prefix_deref(prefix_t *prefix) VELMORA_NOEXCEPT;

/* Text of a prefix; without a buffer one of 16 rotating static buffers of 53
 * bytes is used. A caller buffer must hold 53 bytes. */
char *prefix_toa2x(const prefix_t *prefix, char *buff, int with_len) VELMORA_NOEXCEPT;
char *prefix_toa2(const prefix_t *prefix, char *buff) VELMORA_NOEXCEPT;
char *prefix_toa(const prefix_t *prefix) VELMORA_NOEXCEPT;

patricia_tree_t *patricia_init(int maxbits, patricia_match_func_t match_func) VELMORA_NOEXCEPT;
void patricia_terminate(patricia_tree_t *patricia, void_fn_t func) VELMORA_NOEXCEPT;
void patricia_free(patricia_tree_t *patricia, void_fn_t func) VELMORA_NOEXCEPT;

patricia_node_t *patricia_search_exact(patricia_tree_t *patricia, const prefix_t *prefix) VELMORA_NOEXCEPT;
patricia_node_t *patricia_search_best2(patricia_tree_t *patricia, const prefix_t *prefix, int inclusive) VELMORA_NOEXCEPT;
patricia_node_t *patricia_search_best(patricia_tree_t *patricia, const prefix_t *prefix) VELMORA_NOEXCEPT;
int patricia_search_best_exact(patricia_tree_t *patricia, const prefix_t *prefix, patricia_node_t **exact,
                               patricia_node_t **best, patricia_node_t **place) VELMORA_NOEXCEPT;
patricia_node_t *patricia_lookup(patricia_tree_t *patricia, prefix_t *prefix) VELMORA_NOEXCEPT;
void patricia_remove(patricia_tree_t *patricia, patricia_node_t *node) VELMORA_NOEXCEPT;
int prefix_match(const prefix_t *a, const prefix_t *b, int bitlen) VELMORA_NOEXCEPT;

size_t patricia_walk(patricia_tree_t *patricia, void_fn_t func, void *arg) VELMORA_NOEXCEPT;
size_t patricia_walk_inorder(patricia_node_t *node, void_fn_t func, void *arg) VELMORA_NOEXCEPT;
void patricia_process(patricia_tree_t *patricia, void_fn_t func, void *arg) VELMORA_NOEXCEPT;

/* Convenience calls on a raw address (network order) and a prefix length; a
 * negative length means the full width. The find calls return 0 when found
 * and 1 when not. */
int patricia_add(patricia_tree_t *tree, in_addr_t ip, int cidr, void *data) VELMORA_NOEXCEPT;
int patricia_ipv6_add(patricia_tree_t *tree, const struct in6_addr *ip, int cidr, void *data) VELMORA_NOEXCEPT;
void *patricia_delete(patricia_tree_t *tree, in_addr_t ip, int cidr) VELMORA_NOEXCEPT;
void *patricia_ipv6_delete(patricia_tree_t *tree, const struct in6_addr *ip, int cidr) VELMORA_NOEXCEPT;
int patricia_find_exact(patricia_tree_t *tree, in_addr_t ip, int cidr) VELMORA_NOEXCEPT;
int patricia_ipv6_find_exact(patricia_tree_t *tree, const struct in6_addr *ip, int cidr) VELMORA_NOEXCEPT;
void *patricia_find_exact_data(patricia_tree_t *tree, in_addr_t ip, int cidr) VELMORA_NOEXCEPT;
void *patricia_ipv6_find_exact_data(patricia_tree_t *tree, const struct in6_addr *ip, int cidr) VELMORA_NOEXCEPT;
int patricia_find(patricia_tree_t *tree, in_addr_t ip) VELMORA_NOEXCEPT;
int patricia_ipv6_find(patricia_tree_t *tree, const struct in6_addr *ip) VELMORA_NOEXCEPT;
void *patricia_find_data(patricia_tree_t *tree, in_addr_t ip) VELMORA_NOEXCEPT;
void *patricia_ipv6_find_data(patricia_tree_t *tree, const struct in6_addr *ip) VELMORA_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
