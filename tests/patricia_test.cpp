#include "velmora/patricia.h"

#include "internal/patricia_tuning.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

using Address = std::array<uint8_t, 16>;

void *tag(uintptr_t n)
{
    return reinterpret_cast<void *>(n);
}

bool address_bit(const Address &a, unsigned bit)
{
    return (a[bit / 8] & (0x80u >> (bit % 8))) != 0;
}

bool agree(const Address &a, const Address &b, unsigned bits)
{
    for (unsigned i = 0; i < bits; i++)
        if (address_bit(a, i) != address_bit(b, i))
            return false;
    return true;
}

Address masked(Address a, unsigned bits)
{
    for (unsigned i = bits; i < 128; i++)
        a[i / 8] &= static_cast<uint8_t>(~(0x80u >> (i % 8)));
    return a;
}

Address address_of(const prefix_t *p)
{
    Address a{};
    std::memcpy(a.data(), &p->add, p->family == AF_INET ? 4 : 16);
    return a;
}

// "10.0.0.0/8" as a prefix in caller storage.
prefix_t text_prefix(const char *text)
{
    std::string s(text);
    auto slash = s.find('/');
    std::string addr = s.substr(0, slash);
    int len = slash == std::string::npos ? -1 : std::stoi(s.substr(slash + 1));
    int family = addr.find(':') != std::string::npos ? AF_INET6 : AF_INET;
    unsigned char buf[16] = {};
    EXPECT_EQ(inet_pton(family, addr.c_str(), buf), 1) << text;
    prefix_t p;
    EXPECT_NE(patricia_prefix_new2(family, buf, len, &p), nullptr) << text;
    return p;
}

// Checks the structural invariants of a tree; returns the node count.
int check_subtree(const patricia_tree_t *tree, const patricia_node_t *node, const patricia_node_t *parent,
                  std::vector<std::pair<unsigned, bool>> &path)
{
    if (node == nullptr)
        return 0;
    EXPECT_EQ(node->parent, parent);
    EXPECT_LE(node->bit, tree->maxbits);
    if (parent != nullptr) {
        EXPECT_GT(node->bit, parent->bit) << "bit indexes must increase downwards";
    }
    if (node->prefix == nullptr) {
        EXPECT_NE(node->l, nullptr) << "glue node without two children";
        EXPECT_NE(node->r, nullptr) << "glue node without two children";
        EXPECT_EQ(node->data, nullptr);
    } else {
        EXPECT_EQ(node->bit, node->prefix->bitlen);
        Address a = address_of(node->prefix);
        for (auto [bit, right] : path) {
            if (bit < node->prefix->bitlen) {
                EXPECT_EQ(address_bit(a, bit), right) << "prefix bits disagree with the path";
            }
        }
    }
    int count = 1;
    path.emplace_back(node->bit, false);
    count += check_subtree(tree, node->l, node, path);
    path.back().second = true;
    count += check_subtree(tree, node->r, node, path);
    path.pop_back();
    return count;
}

void check_invariants(const patricia_tree_t *tree)
{
    std::vector<std::pair<unsigned, bool>> path;
    EXPECT_EQ(check_subtree(tree, tree->head, nullptr, path), tree->num_active_node);
}

class PatriciaTree : public ::testing::Test {
protected:
    void SetUp() override { tree = patricia_init(32, nullptr); }
    void TearDown() override
    {
        check_invariants(tree);
        patricia_terminate(tree, nullptr);
    }

    patricia_node_t *insert(const char *text)
    {
        prefix_t p = text_prefix(text);
        return patricia_lookup(tree, &p);
    }
    patricia_node_t *exact(const char *text)
    {
        prefix_t p = text_prefix(text);
        return patricia_search_exact(tree, &p);
    }
    patricia_node_t *best(const char *text)
    {
        prefix_t p = text_prefix(text);
        return patricia_search_best(tree, &p);
    }

    patricia_tree_t *tree = nullptr;
};

TEST_F(PatriciaTree, NestedPrefixesNeedNoGlue)
{
    patricia_node_t *outer = insert("10.0.0.0/8");
    patricia_node_t *inner = insert("10.1.0.0/16");
    EXPECT_EQ(tree->num_active_node, 2);
    EXPECT_EQ(tree->head, outer);
    EXPECT_EQ(inner->parent, outer);
}

TEST_F(PatriciaTree, SiblingsHangBelowGlueNode)
{
    patricia_node_t *ten = insert("10.0.0.0/8");
    patricia_node_t *eleven = insert("11.0.0.0/8");
    ASSERT_EQ(tree->num_active_node, 3);
    patricia_node_t *glue = tree->head;
    EXPECT_EQ(glue->prefix, nullptr);
    EXPECT_EQ(glue->bit, 7u);
    EXPECT_EQ(glue->l, ten);
    EXPECT_EQ(glue->r, eleven);

    patricia_remove(tree, eleven);
    EXPECT_EQ(tree->num_active_node, 1);
    EXPECT_EQ(tree->head, ten);
    EXPECT_EQ(ten->parent, nullptr);
}

TEST_F(PatriciaTree, InsertingPresentPrefixKeepsDataAndAddReplacesIt)
{
    patricia_node_t *node = insert("10.0.0.0/8");
    node->data = tag(1);
    EXPECT_EQ(insert("10.0.0.0/8"), node);
    EXPECT_EQ(node->data, tag(1));
    EXPECT_EQ(patricia_add(tree, inet_addr("10.0.0.0"), 8, tag(2)), 0);
    EXPECT_EQ(node->data, tag(2));
    EXPECT_EQ(tree->num_active_node, 1);
}

// A prefix in caller storage is copied into the tree, where it goes with its
// node: a reference taken on it is an independent copy. A heap prefix is
// shared.
TEST_F(PatriciaTree, NodePrefixReferencesOutliveTheNode)
{
    patricia_node_t *node = insert("10.0.0.0/8");
    prefix_t *kept = patricia_prefix_ref(node->prefix);
    ASSERT_NE(kept, nullptr);
    patricia_remove(tree, node);
    EXPECT_STREQ(prefix_toa2x(kept, nullptr, 1), "10.0.0.0/8");
    patricia_prefix_deref(kept);

    uint8_t bytes[4] = {11, 0, 0, 0};
    prefix_t *heap = patricia_prefix_new(AF_INET, bytes, 8);
    node = patricia_lookup(tree, heap);
    EXPECT_EQ(node->prefix, heap);
    EXPECT_EQ(heap->ref_count, 2);
    patricia_prefix_deref(heap);
    patricia_remove(tree, node);
}

TEST_F(PatriciaTree, RemovingInnerOfNestedPairLeavesOuter)
{
    insert("10.0.0.0/8");
    patricia_remove(tree, insert("10.1.0.0/16"));
    EXPECT_EQ(tree->num_active_node, 1);
    EXPECT_EQ(exact("10.1.0.0/16"), nullptr);
    EXPECT_NE(exact("10.0.0.0/8"), nullptr);
}

TEST_F(PatriciaTree, NodeWithTwoChildrenBecomesGlueAndIsReused)
{
    patricia_node_t *outer = insert("10.0.0.0/8");
    insert("10.1.0.0/16");
    insert("10.128.0.0/16");
    outer->data = tag(5);
    patricia_remove(tree, outer);
    EXPECT_EQ(outer->prefix, nullptr);
    EXPECT_EQ(outer->data, nullptr);
    EXPECT_EQ(tree->num_active_node, 3);
    EXPECT_EQ(exact("10.0.0.0/8"), nullptr);
    EXPECT_EQ(insert("10.0.0.0/8"), outer);
    EXPECT_EQ(tree->num_active_node, 3);
}

TEST_F(PatriciaTree, FindTakesLongestAcceptedPrefix)
{
    insert("10.0.0.0/8")->data = tag(8);
    insert("10.1.0.0/16")->data = tag(16);
    EXPECT_EQ(patricia_find_data(tree, inet_addr("10.1.2.3")), tag(16));
    EXPECT_EQ(patricia_find_data(tree, inet_addr("10.2.2.3")), tag(8));
    EXPECT_EQ(patricia_find(tree, inet_addr("11.0.0.1")), 1);
    EXPECT_EQ(patricia_find(tree, inet_addr("10.0.0.1")), 0);

    tree->match_func = [](patricia_node_t *node) { return node->data == tag(16) ? 0 : 1; };
    EXPECT_EQ(patricia_find_data(tree, inet_addr("10.1.2.3")), tag(8));
}

TEST_F(PatriciaTree, BestSearchNeverAnswersLongerPrefix)
{
    insert("10.0.0.0/16");
    EXPECT_EQ(best("10.0.0.0/8"), nullptr);
    EXPECT_EQ(best("10.0.0.0/16"), exact("10.0.0.0/16"));
    prefix_t same = text_prefix("10.0.0.0/16");
    EXPECT_EQ(patricia_search_best2(tree, &same, 0), nullptr);
}

TEST_F(PatriciaTree, CombinedSearchGivesExactBestAndPlace)
{
    patricia_node_t *outer = insert("10.0.0.0/8");
    patricia_node_t *inner = insert("10.1.0.0/16");
    patricia_node_t *e, *b, *p;
    prefix_t q = text_prefix("10.1.0.0/16");
    EXPECT_EQ(patricia_search_best_exact(tree, &q, &e, &b, &p), 1);
    EXPECT_EQ(e, inner);
    EXPECT_EQ(b, outer);
    EXPECT_EQ(p, inner);

    q = text_prefix("10.2.0.0/16");
    EXPECT_EQ(patricia_search_best_exact(tree, &q, &e, &b, &p), 1);
    EXPECT_EQ(e, nullptr);
    EXPECT_EQ(b, outer);
    EXPECT_EQ(p, outer);

    q = text_prefix("10.0.0.0/4");
    EXPECT_EQ(patricia_search_best_exact(tree, &q, &e, &b, &p), 0);
    EXPECT_EQ(p, nullptr);
}

// A shorter prefix placed above a glue node: the glue node has no address of
// its own, the side must come from the prefixes below it.
TEST_F(PatriciaTree, ShorterPrefixAboveGlueNodeTakesTheRightSide)
{
    insert("10.1.0.0/24")->data = tag(1);
    insert("10.1.16.0/24")->data = tag(2);
    ASSERT_EQ(tree->head->prefix, nullptr);
    patricia_node_t *cover = insert("10.0.0.0/15");
    cover->data = tag(3);
    EXPECT_EQ(tree->head, cover);
    EXPECT_NE(cover->r, nullptr);
    EXPECT_EQ(cover->l, nullptr);
    EXPECT_EQ(patricia_find_data(tree, inet_addr("10.1.16.5")), tag(2));
    EXPECT_EQ(patricia_find_data(tree, inet_addr("10.1.0.5")), tag(1));
    EXPECT_EQ(patricia_find_data(tree, inet_addr("10.1.200.1")), tag(3));
}

TEST_F(PatriciaTree, RefusesLengthsBeyondTreeOrFamily)
{
    prefix_t wide = text_prefix("2001:db8::/48");
    EXPECT_EQ(patricia_lookup(tree, &wide), nullptr);
    EXPECT_EQ(patricia_search_best(tree, &wide), nullptr);
    EXPECT_EQ(patricia_add(tree, inet_addr("10.0.0.0"), 33, nullptr), 1);
    uint8_t bytes[16] = {};
    EXPECT_EQ(patricia_prefix_new(AF_INET, bytes, 33), nullptr);
    EXPECT_EQ(patricia_prefix_new(AF_INET6, bytes, 129), nullptr);
    EXPECT_EQ(patricia_prefix_new(0, bytes, 8), nullptr);
    EXPECT_EQ(patricia_init(129, nullptr), nullptr);
    prefix_t hand = text_prefix("10.0.0.0/8");
    hand.bitlen = 40;
    EXPECT_EQ(patricia_lookup(tree, &hand), nullptr);
    EXPECT_EQ(tree->num_active_node, 0);
}

TEST_F(PatriciaTree, WalksVisitEveryPrefixInOrder)
{
    for (const char *t : {"10.0.0.0/8", "11.0.0.0/8", "10.1.0.0/16", "0.0.0.0/0"})
        insert(t);
    std::vector<std::string> seen;
    auto record = [](prefix_t *p, void *, void *arg) {
        static_cast<std::vector<std::string> *>(arg)->push_back(prefix_toa2x(p, nullptr, 1));
    };
    using Walk = void (*)(prefix_t *, void *, void *);
    // In order: left subtree, node, right subtree; /0 is the head, the rest
    // hangs on its left.
    EXPECT_EQ(patricia_walk(tree, reinterpret_cast<void_fn_t>(static_cast<Walk>(record)), &seen), 4u);
    EXPECT_EQ(seen, (std::vector<std::string>{"10.1.0.0/16", "10.0.0.0/8", "11.0.0.0/8", "0.0.0.0/0"}));
    seen.clear();
    patricia_process(tree, reinterpret_cast<void_fn_t>(static_cast<Walk>(record)), &seen);
    EXPECT_EQ(seen, (std::vector<std::string>{"0.0.0.0/0", "10.0.0.0/8", "10.1.0.0/16", "11.0.0.0/8"}));
}

TEST(PatriciaLifecycle, TerminateHandsEveryDataOnceAndCountsTrees)
{
    int before = num_active_patricia;
    patricia_tree_t *tree = patricia_init(128, nullptr);
    EXPECT_EQ(num_active_patricia, before + 1);
    static int freed;
    freed = 0;
    in6_addr a{};
    for (int i = 0; i < 20; i++) {
        a.s6_addr[i % 16] = static_cast<uint8_t>(i * 7 + 1);
        ASSERT_EQ(patricia_ipv6_add(tree, &a, 16 + i * 5, i % 2 ? &freed : nullptr), 0);
    }
    auto count = [](void *data) { ++*static_cast<int *>(data); };
    patricia_terminate(tree, reinterpret_cast<void_fn_t>(static_cast<void (*)(void *)>(count)));
    EXPECT_EQ(freed, 10);
    EXPECT_EQ(num_active_patricia, before);
}

TEST(PatriciaPrefix, ReferenceCounting)
{
    uint8_t bytes[4] = {10, 0, 0, 0};
    prefix_t local;
    ASSERT_EQ(patricia_prefix_new2(AF_INET, bytes, 8, &local), &local);
    EXPECT_EQ(local.ref_count, 0);
    prefix_t *copy = patricia_prefix_ref(&local);
    ASSERT_NE(copy, &local);
    EXPECT_EQ(copy->ref_count, 1);
    EXPECT_EQ(prefix_match(copy, &local, 8), 1);
    EXPECT_EQ(patricia_prefix_ref(copy), copy);
    EXPECT_EQ(copy->ref_count, 2);
    patricia_prefix_deref(copy);
    patricia_prefix_deref(copy);
    patricia_prefix_deref(&local);
    EXPECT_EQ(local.ref_count, 0);
    EXPECT_EQ(patricia_prefix_ref(nullptr), nullptr);
    prefix_t *full = patricia_prefix_new(AF_INET, bytes, -1);
    EXPECT_EQ(full->bitlen, 32);
    patricia_prefix_deref(full);
}

struct ToaCase {
    const char *prefix;
    int with_len;
    const char *text;
};

class PrefixText : public ::testing::TestWithParam<ToaCase> {};

TEST_P(PrefixText, Formats)
{
    prefix_t p = text_prefix(GetParam().prefix);
    char buf[53];
    EXPECT_STREQ(prefix_toa2x(&p, buf, GetParam().with_len), GetParam().text);
    EXPECT_STREQ(prefix_toa2x(&p, nullptr, GetParam().with_len), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Prefixes, PrefixText,
                         ::testing::Values(ToaCase{"192.168.0.0/16", 1, "192.168.0.0/16"},
                                           ToaCase{"192.168.0.0/16", 0, "192.168.0.0"},
                                           ToaCase{"2001:db8::/32", 1, "2001:db8::/32"},
                                           ToaCase{"ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff/128", 1,
                                                   "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff/128"}));

TEST(PrefixTextNull, NullAndUnknownFamily)
{
    EXPECT_STREQ(prefix_toa(nullptr), "(Null)");
    prefix_t p = text_prefix("10.0.0.0/8");
    p.family = 0;
    EXPECT_EQ(prefix_toa(&p), nullptr);
}

// Randomized comparison against a brute-force model of the stored prefixes.
struct ModelParams {
    int family;
    unsigned maxbits;
    bool filtered;
    bool indexed; // the leading-bits index from the first node on
};

class PatriciaModel : public ::testing::TestWithParam<ModelParams> {
protected:
    using Key = std::pair<Address, unsigned>;

    void SetUp() override
    {
        const ModelParams &p = GetParam();
        saved_index_min_nodes = velmora::patricia_index_min_nodes;
        if (p.indexed)
            velmora::patricia_index_min_nodes = 0;
        // The filter refuses nodes whose data is odd.
        patricia_match_func_t even_data = [](patricia_node_t *n) {
            return (reinterpret_cast<uintptr_t>(n->data) & 1) == 0 ? 1 : 0;
        };
        tree = patricia_init(static_cast<int>(p.maxbits), p.filtered ? even_data : nullptr);
        for (auto &seed : seeds)
            for (auto &byte : seed)
                byte = static_cast<uint8_t>(rng());
    }
    void TearDown() override
    {
        patricia_terminate(tree, nullptr);
        velmora::patricia_index_min_nodes = saved_index_min_nodes;
    }

    // Addresses near a few seeds, so that prefixes nest and share paths.
    Key random_key()
    {
        unsigned width = GetParam().maxbits;
        unsigned len = static_cast<unsigned>(rng() % (width + 1));
        Address a = seeds[rng() % seeds.size()];
        for (int flips = static_cast<int>(rng() % 4); flips > 0; flips--) {
            unsigned bit = static_cast<unsigned>(rng() % width);
            a[bit / 8] ^= static_cast<uint8_t>(0x80u >> (bit % 8));
        }
        return {masked(a, len), len};
    }

    prefix_t to_prefix(const Key &k)
    {
        prefix_t p;
        patricia_prefix_new2(GetParam().family, k.first.data(), static_cast<int>(k.second), &p);
        return p;
    }

    bool accepted(const Key &k) const
    {
        return !GetParam().filtered || (model.at(k) & 1) == 0;
    }

    // Longest stored prefix covering the query with length below limit.
    const Key *model_best(const Key &q, unsigned limit, bool filter) const
    {
        const Key *found = nullptr;
        for (const auto &[k, v] : model) {
            if (k.second >= limit || !agree(k.first, q.first, k.second) || (filter && !accepted(k)))
                continue;
            if (found == nullptr || k.second > found->second)
                found = &k;
        }
        return found;
    }

    uintptr_t data_of(const patricia_node_t *n) const { return reinterpret_cast<uintptr_t>(n->data); }

    void check_query(const Key &q)
    {
        prefix_t p = to_prefix(q);
        patricia_node_t *ex = patricia_search_exact(tree, &p);
        auto it = model.find(q);
        if (it == model.end()) {
            EXPECT_EQ(ex, nullptr);
        } else {
            ASSERT_TRUE(ex != nullptr && data_of(ex) == it->second);
        }

        const Key *want = model_best(q, q.second + 1, true);
        patricia_node_t *got = patricia_search_best(tree, &p);
        ASSERT_EQ(got == nullptr, want == nullptr);
        if (got != nullptr) {
            EXPECT_EQ(data_of(got), model.at(*want));
        }

        const Key *want_strict = model_best(q, q.second, true);
        got = patricia_search_best2(tree, &p, 0);
        ASSERT_EQ(got == nullptr, want_strict == nullptr);
        if (got != nullptr) {
            EXPECT_EQ(data_of(got), model.at(*want_strict));
        }

        patricia_node_t *e, *b, *place;
        int rc = patricia_search_best_exact(tree, &p, &e, &b, &place);
        const Key *want_b = model_best(q, q.second, false);
        EXPECT_EQ(e, ex);
        ASSERT_EQ(b == nullptr, want_b == nullptr);
        if (b != nullptr) {
            EXPECT_EQ(data_of(b), model.at(*want_b));
        }
        EXPECT_EQ(rc, e != nullptr || b != nullptr ? 1 : 0);
        if (e != nullptr) {
            EXPECT_EQ(place, e);
        } else if (place != nullptr) {
            EXPECT_LT(place->bit, q.second);
        }
    }

    std::mt19937 rng{20240611};
    std::array<Address, 4> seeds{};
    std::map<Key, uintptr_t> model;
    patricia_tree_t *tree = nullptr;
    int32_t saved_index_min_nodes = 0;
};

TEST_P(PatriciaModel, AgreesWithBruteForceThroughInsertsAndRemoves)
{
    uintptr_t next_data = 1;
    for (int step = 0; step < 3000; step++) {
        Key k = random_key();
        prefix_t p = to_prefix(k);
        if (rng() % 5 < 3) {
            patricia_node_t *node = patricia_lookup(tree, &p);
            ASSERT_NE(node, nullptr);
            if (model.count(k) == 0) {
                EXPECT_EQ(node->data, nullptr);
                node->data = tag(next_data);
                model[k] = next_data++;
            } else {
                EXPECT_EQ(data_of(node), model[k]);
            }
        } else {
            // Remove a stored prefix most of the time, otherwise try a random one.
            if (!model.empty() && rng() % 4 != 0) {
                auto it = model.begin();
                std::advance(it, static_cast<long>(rng() % model.size()));
                k = it->first;
                p = to_prefix(k);
            }
            patricia_node_t *node = patricia_search_exact(tree, &p);
            ASSERT_EQ(node != nullptr, model.count(k) == 1);
            if (node != nullptr) {
                patricia_remove(tree, node);
                model.erase(k);
            }
        }
        check_invariants(tree);
        for (int i = 0; i < 4; i++)
            check_query(random_key());
        check_query(k);
        if (HasFatalFailure())
            return;
    }
    size_t visited = patricia_walk(tree, reinterpret_cast<void_fn_t>(static_cast<void (*)(prefix_t *, void *, void *)>(
                                             [](prefix_t *, void *, void *) {})),
                                   nullptr);
    EXPECT_EQ(visited, model.size());
}

INSTANTIATE_TEST_SUITE_P(Families, PatriciaModel,
                         ::testing::Values(ModelParams{AF_INET, 32, false, false}, ModelParams{AF_INET, 32, true, false},
                                           ModelParams{AF_INET6, 128, false, false},
                                           ModelParams{AF_INET6, 128, true, false}, ModelParams{AF_INET, 32, false, true},
                                           ModelParams{AF_INET, 32, true, true}, ModelParams{AF_INET6, 128, false, true}),
                         [](const ::testing::TestParamInfo<ModelParams> &info) {
                             return std::string(info.param.family == AF_INET ? "IPv4" : "IPv6") +
                                    (info.param.filtered ? "Filtered" : "") + (info.param.indexed ? "Indexed" : "");
                         });

} // namespace
