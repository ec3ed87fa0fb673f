// IP lists driven by a script: each input line is one operation, its first
// byte the operation letter and the rest its text argument. After every
// operation the list's answers are compared with a brute-force search over
// the entries that a walk of the list reports.
#include <algorithm>
#include <array>
#include <cstring>
#include <arpa/inet.h>

#include "fuzz_input.h"
#include "velmora/iplist.h"

namespace {

struct Entry {
    int family;
    int bitlen;
    std::array<uint8_t, 16> addr;
    void *data;
};

size_t g_freed = 0;
void count_free(void *) { ++g_freed; }

void collect_entry(prefix_t *prefix, void *data, void *arg) {
    Entry e{prefix->family, prefix->bitlen, {}, data};
    std::memcpy(e.addr.data(), &prefix->add, prefix->family == AF_INET ? 4 : 16);
    static_cast<std::vector<Entry> *>(arg)->push_back(e);
}

std::vector<Entry> entries_of(void *list) {
    std::vector<Entry> out;
    int visited = iplist_walk(list, reinterpret_cast<void_fn_t>(collect_entry), &out);
    FUZZ_CHECK(visited == static_cast<int>(out.size()));
    return out;
}

int width(int family) { return family == AF_INET ? 32 : 128; }

const uint8_t *bytes_of(const qx_ipaddr &ip) { return reinterpret_cast<const uint8_t *>(&ip.addr); }

bool same_leading_bits(const uint8_t *a, const uint8_t *b, int bits) {
    for (int i = 0; i < bits; ++i) {
        int byte = i / 8, shift = 7 - i % 8;
        if (((a[byte] >> shift) & 1) != ((b[byte] >> shift) & 1)) return false;
    }
    return true;
}

// The longest stored network that contains the address, by linear search.
const Entry *brute_force_best(const std::vector<Entry> &entries, const qx_ipaddr &ip) {
    const Entry *best = nullptr;
    for (const Entry &e : entries) {
        if (e.family != ip.family || !same_leading_bits(e.addr.data(), bytes_of(ip), e.bitlen)) continue;
        if (best == nullptr || e.bitlen > best->bitlen) best = &e;
    }
    return best;
}

// "address/length" (no slash: the family's full width); false when the
// address does not parse.
bool parse_network(const std::string &text, qx_ipaddr *ip, long *cidr) {
    size_t slash = text.find('/');
    if (qxnet_aton(text.substr(0, slash).c_str(), ip) != 0) return false;
    *cidr = slash == std::string::npos ? width(ip->family) : std::strtol(text.c_str() + slash + 1, nullptr, 10);
    return true;
}

bool parse_subnet(const std::string &text, in_addr_t *ip, in_addr_t *mask) {
    size_t slash = text.find('/');
    if (slash == std::string::npos) return false;
    return inet_pton(AF_INET, text.substr(0, slash).c_str(), ip) == 1 &&
           inet_pton(AF_INET, text.c_str() + slash + 1, mask) == 1;
}

class ListScript {
public:
    ListScript() : list_(iplist_init(count_free, nullptr)) { FUZZ_CHECK(list_ != nullptr); }
    ~ListScript() { iplist_terminate(list_); }

    void run(char op, const std::string &arg, void *data) {
        const std::vector<Entry> before = entries_of(list_);
        const size_t freed_before = g_freed;
        int rc = apply(op, arg, data, before);
        const std::vector<Entry> after = entries_of(list_);
        // A failed add or delete leaves the list as it was and frees nothing.
        if (rc < 0) {
            FUZZ_CHECK(after.size() == before.size());
            FUZZ_CHECK(g_freed == freed_before);
        }
        check_find(arg, after);
    }

private:
    int apply(char op, const std::string &arg, void *data, const std::vector<Entry> &before) {
        switch (op) {
        case 'a': return added(iplist_add_string(list_, arg.c_str(), data), before, 1);
        case '4': return added(iplist_ipv4_add_string(list_, arg.c_str(), data), before, 1);
        case '6': return added(iplist_ipv6_add_string(list_, arg.c_str(), data), before, 1);
        case 'c': return add_cidr(arg, data, before);
        case 'x': return delete_cidr(arg, before);
        case 's': return add_subnet(arg, data, before);
        case 'S': return delete_subnet(arg, before);
        case 'r': return add_range(arg, data, before);
        case 'R': return iplist_delete_range(list_, arg.c_str());
        case 'o': check_overlaps(arg); return 0;
        default: return 0;
        }
    }

    int added(int rc, const std::vector<Entry> &before, size_t count) {
        FUZZ_CHECK(rc == 0 || rc == -1 || rc == -2);
        size_t now = entries_of(list_).size();
        FUZZ_CHECK(now == before.size() + (rc == 0 ? count : 0));
        return rc;
    }

    int add_cidr(const std::string &arg, void *data, const std::vector<Entry> &before) {
        qx_ipaddr ip;
        long cidr;
        if (!parse_network(arg, &ip, &cidr)) return 0;
        const qx_ipaddr original = ip;
        int rc = added(iplist_add_cidr(list_, &ip, static_cast<int>(cidr), data), before, 1);
        FUZZ_CHECK(std::memcmp(&ip, &original, sizeof ip) == 0);
        if (rc == 0 || rc == -2) {
            FUZZ_CHECK(iplist_find(list_, &ip) == 0);
            if (rc == 0) FUZZ_CHECK(iplist_find_exact_data(list_, &ip, static_cast<int>(cidr)) == data);
        }
        return rc;
    }

    int delete_cidr(const std::string &arg, const std::vector<Entry> &before) {
        qx_ipaddr ip;
        long cidr;
        if (!parse_network(arg, &ip, &cidr)) return 0;
        const size_t freed_before = g_freed;
        void *data = cidr >= 0 && cidr <= width(ip.family)
                         ? iplist_find_exact_data(list_, &ip, static_cast<int>(cidr))
                         : nullptr;
        int rc = iplist_delete_cidr(list_, &ip, static_cast<int>(cidr));
        FUZZ_CHECK(rc == 0 || rc == 1 || rc == -1);
        FUZZ_CHECK(entries_of(list_).size() == before.size() - (rc == 0 ? 1 : 0));
        FUZZ_CHECK(g_freed == freed_before + (rc == 0 && data != nullptr ? 1 : 0));
        if (rc == 0) FUZZ_CHECK(iplist_find_exact_data(list_, &ip, static_cast<int>(cidr)) == nullptr);
        return rc;
    }

    int add_subnet(const std::string &arg, void *data, const std::vector<Entry> &before) {
        in_addr_t ip, mask;
        if (!parse_subnet(arg, &ip, &mask)) return 0;
        return added(iplist_add_subnet(list_, ip, mask, data), before, 1);
    }

    int delete_subnet(const std::string &arg, const std::vector<Entry> &before) {
        in_addr_t ip, mask;
        if (!parse_subnet(arg, &ip, &mask)) return 0;
        int rc = iplist_delete_subnet(list_, ip, mask);
        FUZZ_CHECK(entries_of(list_).size() == before.size() - (rc == 0 ? 1 : 0));
        return rc;
    }

    // A range adds exactly the networks of its cover, or nothing at all.
    int add_range(const std::string &arg, void *data, const std::vector<Entry> &before) {
        qx_ipaddr low, high;
        size_t cover = 0;
        if (iplist_rangestring_to_ips(arg.c_str(), &low, &high) == 0 && low.family == AF_INET &&
            high.family == AF_INET) {
            if (ntohl(low.addr.ip) > ntohl(high.addr.ip)) std::swap(low, high);
            std::vector<ip_cidr> nets(256);
            int n = iplist_iprange_to_subnets(&low, &high, nets.data(), 256);
            cover = n > 0 ? static_cast<size_t>(n) : 0;
        }
        int rc = iplist_add_range(list_, arg.c_str(), data);
        FUZZ_CHECK(rc <= 0 && rc >= -4);
        FUZZ_CHECK(entries_of(list_).size() == before.size() + (rc == 0 ? cover : 0));
        return rc;
    }

    void check_find(const std::string &arg, const std::vector<Entry> &entries) {
        qx_ipaddr ip;
        long cidr;
        if (!parse_network(arg, &ip, &cidr)) return;
        const Entry *best = brute_force_best(entries, ip);
        FUZZ_CHECK(iplist_find(list_, &ip) == (best != nullptr ? 0 : 1));
        FUZZ_CHECK(iplist_find_data(list_, &ip) == (best != nullptr ? best->data : nullptr));
    }

    // Covering and contained networks of address/length against the entries.
    void check_overlaps(const std::string &arg) {
        qx_ipaddr ip;
        long cidr;
        if (!parse_network(arg, &ip, &cidr) || cidr < 0 || cidr > width(ip.family)) return;
        const int len = static_cast<int>(cidr);
        void *exact = nullptr, *best = nullptr;
        void *place = iplist_get_overlapped(list_, &ip, len, &exact, &best);
        FUZZ_CHECK(exact == iplist_find_exact_data(list_, &ip, len));
        void **below = nullptr;
        int n = iplist_get_smaller_subnets(place, &ip, len, &below);
        FUZZ_CHECK(n >= 0 && (n == 0) == (below == nullptr));
        std::free(below);

        std::vector<void *> expected;
        for (const Entry &e : entries_of(list_))
            if (e.family == ip.family && e.bitlen > len && same_leading_bits(e.addr.data(), bytes_of(ip), len))
                expected.push_back(e.data);
        void **inside = nullptr;
        n = iplist_get_contained_subnets(list_, &ip, len, &inside);
        FUZZ_CHECK(n == static_cast<int>(expected.size()));
        std::vector<void *> got(inside, inside + std::max(n, 0));
        std::free(inside);
        std::sort(got.begin(), got.end());
        std::sort(expected.begin(), expected.end());
        FUZZ_CHECK(got == expected);
    }

    void *list_;
};

// Distinct data pointers for the entries; every seventh operation stores
// NULL, which a delete must still remove.
char g_cells[64];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 4096) return 0;
    velmora_fuzz::FuzzInput in(data, size);
    ListScript script;
    size_t index = 0;
    for (const std::string &line : velmora_fuzz::split_lines(in.rest())) {
        if (line.empty()) continue;
        void *cell = index % 7 == 6 ? nullptr : &g_cells[index % sizeof g_cells];
        script.run(line[0], line.substr(1), cell);
        ++index;
    }
    return 0;
}
