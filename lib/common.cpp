// IP address values: parsing, printing, comparing and netmask conversion; and
// the process, socket and CPU-placement utilities the daemons share.
#include "velmora/common.h"

#include "velmora/qxlog.h"

#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

constexpr in_addr_t all_ones_v4 = 0xffffffffu;

// Prefix bits a netmask octet adds when it ends the mask (a full 255 continues).
int ipv4_final_octet_bits(long value)
{
    switch (value) {
    case 254: return 7;
    case 252: return 6;
    case 248: return 5;
    case 240: return 4;
    case 224: return 3;
    case 192: return 2;
    case 128: return 1;
    case 0: return 0;
    default: return -1;
    }
}

} // namespace

extern "C" {

int qxnet_aton(const char *text, qx_ipaddr *out) noexcept
{
    if (text == nullptr || out == nullptr) {
        qxnet_defaultip(out);
        return -1;
    }
    if (inet_pton(AF_INET, text, &out->addr.ip) == 1) {
        out->family = AF_INET;
        return 0;
    }
    if (inet_pton(AF_INET6, text, &out->addr.ip6) == 1) {
        out->family = AF_INET6;
        return 0;
    }
    size_t len = std::strlen(text);
    if (len >= 2 && std::isspace(static_cast<unsigned char>(text[len - 1]))) {
        size_t end = len - 1;
        while (end > 0 && std::isspace(static_cast<unsigned char>(text[end])))
            end--;
        char *copy = static_cast<char *>(std::malloc(end + 2));
        if (copy != nullptr) {
            std::memcpy(copy, text, end + 1);
            copy[end + 1] = '\0';
            int rc = qxnet_aton(copy, out);
            std::free(copy);
            return rc;
        }
    }
    qxnet_defaultip(out);
    return -1;
}

qx_ipaddr *qxnet_addr(const char *text, qx_ipaddr *out) noexcept
{
    qxnet_aton(text, out);
    return out;
}

char *qxnet_ntop(const qx_ipaddr *addr, char *buf, uint32_t len) noexcept
{
    if (addr == nullptr || buf == nullptr)
        return nullptr;
    const void *src = addr->family == AF_INET6 ? static_cast<const void *>(&addr->addr.ip6)
                                               : static_cast<const void *>(&addr->addr.ip);
    return const_cast<char *>(inet_ntop(addr->family, src, buf, len));
}

char *qxnet_ntoa(const qx_ipaddr *addr) noexcept
{
    if (addr == nullptr)
        return nullptr;
    uint32_t size;
    if (addr->family == AF_INET)
        size = INET_ADDRSTRLEN;
    else if (addr->family == AF_INET6)
        size = INET6_ADDRSTRLEN;
    else
        return nullptr;
    char *buf = static_cast<char *>(std::malloc(size));
    if (buf == nullptr)
        return nullptr;
    if (qxnet_ntop(addr, buf, size) == nullptr) {
        std::free(buf);
        return nullptr;
    }
    return buf;
}

char *qxnet_ntohost(const qx_ipaddr *addr, char *buf, uint32_t len) noexcept
{
    // Too small a buffer for even the brackets is refused rather than written past.
    if (addr == nullptr || buf == nullptr || len < 2)
        return nullptr;
    if (addr->family == AF_INET)
        return qxnet_ntop(addr, buf, len);
    if (addr->family != AF_INET6)
        return nullptr;
    buf[0] = '[';
    if (inet_ntop(AF_INET6, &addr->addr.ip6, buf + 1, len - 2) == nullptr)
        return nullptr;
    size_t n = std::strlen(buf);
    buf[n] = ']';
    buf[n + 1] = '\0';
    return buf;
}

int qxnet_compare(const qx_ipaddr *a, const qx_ipaddr *b) noexcept
{
    if (a->family != b->family)
        return 1;
    if (a->family == AF_INET)
        return a->addr.ip == b->addr.ip ? 0 : 1;
    if (a->family == AF_INET6)
        return std::memcmp(&a->addr.ip6, &b->addr.ip6, sizeof(struct in6_addr)) == 0 ? 0 : 1;
    return 0;
}

int qxnet_fallin_range(const qx_ipaddr *addr, const qx_ipaddr *net, const qx_ipaddr *mask) noexcept
{
    if (addr->family != net->family)
        return 1;
    if (addr->family == AF_INET) {
        if (mask->family != AF_INET)
            return 1;
        return (addr->addr.ip & mask->addr.ip) == net->addr.ip ? 0 : 1;
    }
    if (addr->family == AF_INET6) {
        if (mask->family != AF_INET6)
            return 1;
        for (int i = 0; i < 16; i++) {
            if ((addr->addr.ip6.s6_addr[i] & mask->addr.ip6.s6_addr[i]) != net->addr.ip6.s6_addr[i])
                return 1;
        }
        return 0;
    }
    return 0;
}

int qxnet_hash_input(const qx_ipaddr *addr) noexcept
{
    if (addr->family == AF_INET) {
        int value;
        std::memcpy(&value, &addr->addr.ip, sizeof value);
        return value;
    }
    return 2 * addr->addr.ip6.s6_addr[15];
}

void qxnet_defaultip(qx_ipaddr *addr) noexcept
{
    if (addr == nullptr)
        return;
    addr->family = AF_INET;
    addr->addr.ip = all_ones_v4;
}

int qxnet_isdefaultip(const qx_ipaddr *addr) noexcept
{
    return addr != nullptr && addr->family == AF_INET && addr->addr.ip == all_ones_v4 ? 1 : 0;
}

void qxnet_singleip_subnet(const qx_ipaddr *addr, qx_ipaddr *mask) noexcept
{
    qxnet_aton(addr->family == AF_INET ? "255.255.255.255" : "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", mask);
}

int qxnet_netmask_to_cidr(const char *text) noexcept
{
    if (text == nullptr)
        return 32;
    if (std::strchr(text, ':') != nullptr)
        return qxnet_ipv6_netmask_to_cidr(text);
    return qxnet_ipv4_netmask_to_cidr(text);
}

int qxnet_ipv4_netmask_to_cidr(const char *text) noexcept
{
    if (text == nullptr)
        return -1;
    int count = 0;
    const char *field = text;
    for (;;) {
        long value = std::strtol(field, nullptr, 10);
        const char *dot = std::strchr(field, '.');
        if (value == 255) {
            count += 8;
            if (dot == nullptr)
                break;
            field = dot + 1;
            continue;
        }
        int bits = ipv4_final_octet_bits(value);
        if (bits < 0)
            return -1;
        count += bits;
        break;
    }
    return count > 32 ? -1 : count;
}

// Counts the prefix bits of a textual IPv6 netmask; the first character that
// is not 'f' or ':' ends the mask (with the bits of a partial last digit).
static int ipv6_netmask_bits(const char *text)
{
    int count = 0;
    bool after_colon = false;
    for (const char *p = text; *p != '\0'; p++) {
        int c = std::tolower(static_cast<unsigned char>(*p));
        switch (c) {
        case 'f':
            count += 4;
            after_colon = false;
            break;
        case ':':
            if (after_colon)
                return count;
            after_colon = true;
            break;
        case '0':
        case ' ':
        case '\t':
            return count;
        case '8': return count + 1;
        case 'c': return count + 2;
        case 'e': return count + 3;
        default: return -1;
        }
    }
    return count;
}

int qxnet_ipv6_netmask_to_cidr(const char *text) noexcept
{
    if (text == nullptr)
        return -1;
    int count = ipv6_netmask_bits(text);
    // More bits than an address has is not a netmask.
    return count > 128 ? -1 : count;
}

} // extern "C"

namespace {

constexpr long nanos_per_second = 1000000000L;

// Creates a non-blocking socket for one resolved address and starts connecting.
// Returns the socket (connect result in *connect_errno, 0 when it succeeded) or
// the negative result of socket().
int start_connect(const struct addrinfo *entry, int *connect_errno)
{
    int sock = socket(entry->ai_family, entry->ai_socktype, entry->ai_protocol);
    if (sock < 0)
        return sock;
    int on = 1;
    ioctl(sock, FIONBIO, &on);
    *connect_errno = connect(sock, entry->ai_addr, entry->ai_addrlen) == 0 ? 0 : errno;
    return sock;
}

// These two mean the address itself is hopeless, so the other addresses are tried.
bool try_next_address(int connect_errno)
{
    return connect_errno == ECONNREFUSED || connect_errno == ENETUNREACH;
}

int count_addresses(const struct addrinfo *list)
{
    int count = 0;
    for (; list != nullptr; list = list->ai_next)
        count++;
    return count;
}

const struct addrinfo *address_at(const struct addrinfo *list, int index)
{
    while (index-- > 0)
        list = list->ai_next;
    return list;
}

// A connection that started (or finished) is kept unless its status is already
// known to be a failure.
int keep_if_not_failed(int sock)
{
    if (qxconnect_checkstatus(sock, 0) == -1) {
        close(sock);
        return -1;
    }
    return sock;
}

long long first_64_cpus(const cpu_set_t &set)
{
    unsigned long long bits = 0;
    for (int cpu = 0; cpu < 64; cpu++) {
        if (CPU_ISSET(cpu, &set))
            bits |= 1ULL << cpu;
    }
    return static_cast<long long>(bits);
}

void report_own_affinity(const char *format)
{
    cpu_set_t current;
    CPU_ZERO(&current);
    sched_getaffinity(0, sizeof current, &current);
    qxlog_send(QXLOG_DEBUG, format, first_64_cpus(current));
}

bool is_settable_policy(int scheduler)
{
    return scheduler == SCHED_FIFO || scheduler == SCHED_RR || scheduler == SCHED_BATCH;
}

} // namespace

extern "C" {

void daemonize(void) noexcept
{
    int fd = open("/dev/null", O_RDWR);
    if (fd < 0)
        return;
    dup2(fd, STDIN_FILENO);
    dup2(fd, STDOUT_FILENO);
    dup2(fd, STDERR_FILENO);
}

void qxusleep(int ms) noexcept
{
    struct timespec delay;
    delay.tv_sec = ms / 1000;
    delay.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    nanosleep(&delay, nullptr);
}

void qxtimespec(struct timespec *ts, int seconds, int msecs) noexcept
{
    if (ts == nullptr)
        return;
    struct timeval now;
    gettimeofday(&now, nullptr);
    // The millisecond part is carried into the seconds so that tv_nsec stays
    // below one second and the result is a valid deadline.
    long long nanos = static_cast<long long>(now.tv_usec) * 1000LL + static_cast<long long>(msecs) * 1000000LL;
    long long carry = nanos / nanos_per_second;
    nanos %= nanos_per_second;
    if (nanos < 0) {
        nanos += nanos_per_second;
        carry--;
    }
    ts->tv_sec = now.tv_sec + seconds + static_cast<time_t>(carry);
    ts->tv_nsec = static_cast<long>(nanos);
}

void qxconnect_init(void) noexcept
{
    srand(static_cast<unsigned>(time(nullptr)));
}

int qxconnect_addr_nb(struct addrinfo *addresses) noexcept
{
    if (addresses == nullptr)
        return -1;
    const struct addrinfo *picked = address_at(addresses, rand() % count_addresses(addresses));
    int connect_errno = 0;
    int sock = start_connect(picked, &connect_errno);
    if (sock < 0)
        return sock;
    if (!try_next_address(connect_errno))
        return keep_if_not_failed(sock);
    close(sock);
    for (const struct addrinfo *entry = addresses; entry != nullptr; entry = entry->ai_next) {
        sock = start_connect(entry, &connect_errno);
        if (sock < 0)
            return sock;
        if (!try_next_address(connect_errno))
            return keep_if_not_failed(sock);
        close(sock);
    }
    return -1;
}

int qxconnect_nb(const char *servername, int port) noexcept
{
    char service[20];
    snprintf(service, sizeof service, "%d", port);
    struct addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_socktype = SOCK_STREAM;
    struct addrinfo *resolved = nullptr;
    if (servername == nullptr || getaddrinfo(servername, service, &hints, &resolved) != 0)
        return -1;
    int sock = qxconnect_addr_nb(resolved);
    freeaddrinfo(resolved);
    return sock;
}

int qxconnect_checkstatus(int sock, int msec) noexcept
{
    if (sock < 0)
        return -1;
    struct pollfd watch;
    watch.fd = sock;
    watch.events = POLLIN | POLLOUT | POLLERR | POLLHUP | POLLNVAL;
    watch.revents = 0;
    // An interrupted wait leaves the connection pending; any other poll
    // failure is a failure, never "still connecting", so callers do not wait
    // forever on a socket poll cannot watch.
    if (poll(&watch, 1, msec) < 0 && errno != EINTR)
        return -1;
    if ((watch.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0)
        return -1;
    if ((watch.revents & POLLOUT) == 0) {
        qxlog_send(QXLOG_DEBUG, "qxconnect_checkstatus is connecting\n");
        return -2;
    }
    char peek;
    if ((watch.revents & POLLIN) != 0 && recv(sock, &peek, 1, MSG_PEEK) < 1)
        return -1;
    int pending = 0;
    socklen_t len = sizeof pending;
    if (getsockopt(sock, SOL_SOCKET, SO_ERROR, &pending, &len) != 0) {
        qxlog_send(QXLOG_DEBUG, "qxconnect_checkstatus getsockopt return errore\n");
        return -1;
    }
    if (pending != 0) {
        qxlog_send(QXLOG_DEBUG, "qxconnect_checkstatus getsocketopt find error=0x%x\n", static_cast<unsigned>(pending));
        return -1;
    }
    return 0;
}

int qxconnect(const char *servername, int port, int seconds) noexcept
{
    int sock = qxconnect_nb(servername, port);
    if (sock < 0)
        return -1;
    if (qxconnect_checkstatus(sock, seconds * 1000) != 0) {
        close(sock);
        return -1;
    }
    return sock;
}

void qxcpuinfo_init(qxcpuinfo *cpuinfo) noexcept
{
    if (cpuinfo == nullptr)
        return;
    cpuinfo->affinity_all = 1;
    CPU_ZERO(&cpuinfo->affinity_set);
    cpuinfo->priority_set = 0;
    cpuinfo->priority = 0;
    cpuinfo->scheduler_set = 0;
    cpuinfo->scheduler = 0;
}

int qxcpuinfo_set(pthread_t thread, qxcpuinfo *cpuinfo) noexcept
{
    if (cpuinfo == nullptr)
        return 0;
    if (cpuinfo->affinity_all == 0) {
        report_own_affinity("qxcpuinfo: current affinity prior to set %lld\n");
        sched_setaffinity(0, sizeof cpuinfo->affinity_set, &cpuinfo->affinity_set);
        report_own_affinity("qxcpuinfo: current affinity after to set %lld\n");
    }
    if (cpuinfo->scheduler_set != 0 && is_settable_policy(cpuinfo->scheduler)) {
        if (cpuinfo->priority_set == 0)
            return 0;
        if (cpuinfo->priority >= 0) {
            struct sched_param param;
            std::memset(&param, 0, sizeof param);
            param.sched_priority = cpuinfo->priority;
            pthread_setschedparam(thread, cpuinfo->scheduler, &param);
        }
        pthread_setschedprio(thread, cpuinfo->priority);
    } else if (cpuinfo->priority_set != 0) {
        pthread_setschedprio(thread, cpuinfo->priority);
    }
    return 0;
}

} // extern "C"
