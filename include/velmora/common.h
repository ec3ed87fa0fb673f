/* IP address values (qx_ipaddr) and the qxnet_ helpers that parse, print and
 * compare them; process, socket and CPU-placement utilities. */
#ifndef VELMORA_COMMON_H
#define VELMORA_COMMON_H

#include <stdint.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>
#include <time.h>

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

/* CPU placement of a thread: filled from configuration, applied by
 * qxcpuinfo_set. It lives here, beside the function that applies it, so that
 * the configuration module above this layer can fill it. */
typedef struct qxcpuinfo {
    int32_t affinity_all;   /* 1: all CPUs; 0: only those in affinity_set */
    cpu_set_t affinity_set; /* 1024 CPUs */
    int32_t priority_set;   /* 1 when priority was configured */
    int32_t priority;
    int32_t scheduler_set;  /* 1 when scheduler was configured */
    int32_t scheduler;      /* 0 SCHED_OTHER, 1 SCHED_FIFO, 2 SCHED_RR, 3 SCHED_BATCH */
} qxcpuinfo;

/* Points standard input, output and error at /dev/null (no fork). */
void daemonize(void) VELMORA_NOEXCEPT;
/* Sleeps ms milliseconds once; an interrupted sleep is not resumed. */
void qxusleep(int ms) VELMORA_NOEXCEPT;
/* Stores the absolute deadline now + seconds + msecs into ts. */
void qxtimespec(struct timespec *ts, int seconds, int msecs) VELMORA_NOEXCEPT;
/* Seeds the random choice of the first address qxconnect tries. */
void qxconnect_init(void) VELMORA_NOEXCEPT;
/* Connects to servername:port, waiting at most seconds for the connection;
 * a non-blocking socket or -1. */
int qxconnect(const char *servername, int port, int seconds) VELMORA_NOEXCEPT;
/* Starts a non-blocking connection; the socket (possibly still connecting) or -1. */
int qxconnect_nb(const char *servername, int port) VELMORA_NOEXCEPT;
struct addrinfo; /* <netdb.h>; declared here so strict C11 callers compile */
int qxconnect_addr_nb(struct addrinfo *addresses) VELMORA_NOEXCEPT;
/* 0 connected, -1 failed, -2 still connecting after msec milliseconds. */
int qxconnect_checkstatus(int sock, int msec) VELMORA_NOEXCEPT;
void qxcpuinfo_init(qxcpuinfo *cpuinfo) VELMORA_NOEXCEPT;
/* Applies the placement (affinity to the calling thread, policy and priority to
 * thread); errors are ignored, the result is always 0. */
int qxcpuinfo_set(pthread_t thread, qxcpuinfo *cpuinfo) VELMORA_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
