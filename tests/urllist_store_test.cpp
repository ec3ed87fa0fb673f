#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <set>

#include "internal/urllist_store.h"
#include "urllist_test_support.h"

using namespace urllist_test;

namespace {

// ---- creation --------------------------------------------------------------

TEST(UrllistCreate, VariantsStoreFlagsCallbackDataAndCharset)
{
    auto deleter = +[](void *) {};
    List plain = make_list(URLLIST_NO_DEFAULT);
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->flags, URLLIST_NO_DEFAULT);
    EXPECT_EQ(plain->charset_data, nullptr);
    EXPECT_EQ(urllist_get_default_data(plain.get()), nullptr);

    List with_data(urllist_with_data_initialize(0, deleter), urllist_terminate);
    EXPECT_EQ(with_data->delete_data, deleter);

    List with_charset(urllist_with_charset_initialize(0, "ISO-8859-1"), urllist_terminate);
    ASSERT_NE(with_charset->charset_data, nullptr);
    EXPECT_EQ(with_charset->charset_data->flags, CHARSET_IDN | CHARSET_CONVERT);

    List extra(urllist_with_extra_initialize(0, deleter, nullptr), urllist_terminate);
    EXPECT_EQ(extra->charset_data, nullptr);
    EXPECT_EQ(extra->delete_data, deleter);

    EXPECT_EQ(urllist_get_default_data(nullptr), nullptr);
    urllist_terminate(nullptr);
}

TEST(UrllistCreate, LockingListHasAWorkingLock)
{
    List l = make_list(URLLIST_LOCKING);
    EXPECT_EQ(rwl_readlock(&l->lock), 0);
    EXPECT_EQ(rwl_readunlock(&l->lock), 0);
    EXPECT_EQ(rwl_writelock(&l->lock), 0);
    EXPECT_EQ(rwl_writeunlock(&l->lock), 0);
}

TEST(UrllistCreate, CallbackSettersStoreFunctionAndData)
{
    List l = make_list();
    int marker = 0;
    auto add = +[](void *, URLLIST_EXPLODED_URL *) {};
    auto action = +[](void *, URLLIST_ITEM_DATA *) { return 0; };
    urllist_set_addcallback(l.get(), add, &marker);
    urllist_set_add_action_callback(l.get(), action, &marker);
    EXPECT_EQ(l->addcallback, add);
    EXPECT_EQ(l->addcallback_data, &marker);
    EXPECT_EQ(l->add_action_callback, action);
    EXPECT_EQ(l->add_action_callback_data, &marker);
    urllist_set_addcallback(nullptr, add, nullptr);
}

// ---- nodes -------------------------------------------------------------------

struct NodeCase {
    const char *token;
    UrlPart type;
    int flags;
    const char *hashed_text; // the text whose hash the node must carry
    int64_t raw_hash;        // used when hashed_text is NULL
    int nocase;
    uint16_t port_lower, port_upper;
    const char *kept_text;
};

class UrllistNode : public ::testing::TestWithParam<NodeCase> {};

TEST_P(UrllistNode, CarriesHashTypeCaseAndPortBounds)
{
    const NodeCase &c = GetParam();
    URLLIST_ITEM *node = urllist_new_urllist_item(c.token, c.type, c.flags);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->hash.city, c.hashed_text != nullptr ? hash_of(c.hashed_text) : c.raw_hash);
    EXPECT_EQ(node->itemtype, c.type);
    EXPECT_EQ(node->nocase, c.nocase);
    EXPECT_EQ(node->disbalance, ULD_NONE);
    EXPECT_EQ(node->port_lower, c.port_lower);
    EXPECT_EQ(node->port_upper, c.port_upper);
    EXPECT_STREQ(node->item, c.kept_text);
    EXPECT_EQ(node->parent, nullptr);
    urllist_terminate_urllist_item(node);
}

INSTANTIATE_TEST_SUITE_P(
    Tokens, UrllistNode,
    ::testing::Values(NodeCase{"example", UP_HOST, 0, "example", 0, 0, 0, 0, ""},
                      NodeCase{"Path", UP_PATH, URLLIST_EXPLODE_NOCASE, "path", 0, 1, 0, 0, ""},
                      NodeCase{"8080", UP_PORT, 0, "8080", 0, 0, 8080, 8080, "8080"},
                      NodeCase{"80-90", UP_PORT, 0, "80-90", 0, 0, 80, 90, "80-90"},
                      NodeCase{"0-65535", UP_PORT, 0, "0-65535", 0, 0, 0, 65535, "0-65535"},
                      // A hash string gives the value it spells.
                      NodeCase{"5b91f9d796555833", UP_HOST, URLLIST_EXPLODE_HASHED, nullptr,
                               0x33585596d7f9915bLL, 0, 0, 0, ""},
                      // A text that is no hash string is hashed as it stands.
                      NodeCase{"notahash", UP_HOST, URLLIST_EXPLODE_HASHED, "notahash", 0, 0, 0, 0, ""},
                      NodeCase{"Mixed", UP_PATH, URLLIST_EXPLODE_HASHED | URLLIST_EXPLODE_NOCASE, "mixed", 0, 1,
                               0, 0, ""}));

TEST(UrllistNode, AddressNodeKeepsTextWithoutHash)
{
    URLLIST_ITEM *node = urllist_new_urllist_nohashed_item("[2001:db8::1]", UP_HOST, URLLIST_EXPLODE_NOCASE);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->hash.city, 0);
    EXPECT_EQ(node->nocase, 0);
    EXPECT_STREQ(node->item, "[2001:db8::1]");
    urllist_terminate_urllist_item(node);

    URLLIST_ITEM *port = urllist_new_urllist_nohashed_item("100-200", UP_PORT, 0);
    EXPECT_EQ(port->port_lower, 100);
    EXPECT_EQ(port->port_upper, 200);
    urllist_terminate_urllist_item(port);
    EXPECT_EQ(urllist_new_urllist_item(nullptr, UP_HOST, 0), nullptr);
}

// ---- laying entries ----------------------------------------------------------

class UrllistTree : public ::testing::Test {
protected:
    List list = make_list();
    URLLIST_ITEM *root() { return &list->root; }

    // The node reached from the root through the scheme and the host labels
    // (top-level label first).
    URLLIST_ITEM *host_node(const char *scheme, std::initializer_list<const char *> labels)
    {
        URLLIST_ITEM *node = sibling(root()->child, scheme, UP_PROTO);
        for (const char *label : labels)
            node = node != nullptr ? sibling(node->child, label, UP_HOST) : nullptr;
        return node;
    }
};

TEST_F(UrllistTree, SchemelessEntriesShareTheRootWildcard)
{
    ASSERT_EQ(lay(root(), "example.com", deny()), 0);
    ASSERT_EQ(lay(root(), "other.org", deny()), 0);
    URLLIST_ITEM *any = root()->wildcard_child;
    ASSERT_NE(any, nullptr);
    EXPECT_EQ(root()->child, nullptr);
    EXPECT_EQ(any->parent, nullptr);
    EXPECT_EQ(sibling_count(any->child), 2u); // "com" and "org"
    URLLIST_ITEM *example = sibling(sibling(any->child, "com", UP_HOST)->child, "example", UP_HOST);
    ASSERT_NE(example, nullptr);
    EXPECT_NE(example->data, nullptr);
}

TEST_F(UrllistTree, HostAndHostPathShareNodes)
{
    URLLIST_ITEM_DATA *host = deny();
    URLLIST_ITEM_DATA *path = deny();
    ASSERT_EQ(lay(root(), "http://h.com", host), 0);
    ASSERT_EQ(lay(root(), "http://h.com/a", path), 0);
    URLLIST_ITEM *h = host_node("http", {"com", "h"});
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->data, host);
    URLLIST_ITEM *port = sibling(h->child, "80", UP_PORT);
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->data, nullptr);
    URLLIST_ITEM *a = sibling(port->child, "a", UP_PATH);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->data, path);
    EXPECT_EQ(host->refcount, 1u);
    EXPECT_EQ(path->refcount, 1u);
}

TEST_F(UrllistTree, PortsShareASiblingTreeAndAnyPortIsTheWildcard)
{
    ASSERT_EQ(lay(root(), "http://h.com:8080/p", deny()), 0);
    ASSERT_EQ(lay(root(), "http://h.com:80-90/p", deny()), 0);
    ASSERT_EQ(lay(root(), "*.h.com/p", deny()), 0); // "0-65535" port
    URLLIST_ITEM *h = host_node("http", {"com", "h"});
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(sibling_count(h->child), 2u);
    URLLIST_ITEM *range = sibling(h->child, "80-90", UP_PORT);
    ASSERT_NE(range, nullptr);
    EXPECT_EQ(range->port_lower, 80);
    EXPECT_EQ(range->port_upper, 90);
    EXPECT_EQ(h->wildcard_child, nullptr);

    URLLIST_ITEM *any_host = sibling(sibling(root()->wildcard_child->child, "com", UP_HOST)->child, "h", UP_HOST);
    ASSERT_NE(any_host, nullptr);
    URLLIST_ITEM *label_wildcard = any_host->wildcard_child;
    ASSERT_NE(label_wildcard, nullptr);
    EXPECT_EQ(label_wildcard->child, nullptr);
    ASSERT_NE(label_wildcard->wildcard_child, nullptr);
    EXPECT_STREQ(label_wildcard->wildcard_child->item, "0-65535");
}

TEST_F(UrllistTree, OverlappingPortRangesAreDistinctNodes)
{
    ASSERT_EQ(lay(root(), "http://h.com:80-90/p", deny()), 0);
    ASSERT_EQ(lay(root(), "http://h.com:80-100/p", deny()), 0);
    EXPECT_EQ(sibling_count(host_node("http", {"com", "h"})->child), 2u);
}

TEST_F(UrllistTree, CaseInsensitivePathStartsItsOwnSiblingTree)
{
    ASSERT_EQ(lay(root(), "http://h.com/Dir/Sub", deny(), URLLIST_EXPLODE_NOCASE), 0);
    ASSERT_EQ(lay(root(), "http://h.com/dir/sub", deny()), 0);
    URLLIST_ITEM *port = sibling(host_node("http", {"com", "h"})->child, "80", UP_PORT);
    ASSERT_NE(port, nullptr);
    URLLIST_ITEM *nocase_dir = sibling(port->nocase_child, "dir", UP_PATH);
    URLLIST_ITEM *dir = sibling(port->child, "dir", UP_PATH);
    ASSERT_NE(nocase_dir, nullptr);
    ASSERT_NE(dir, nullptr);
    EXPECT_NE(nocase_dir, dir);
    EXPECT_EQ(nocase_dir->nocase, 1);
    // Later segments of a case-insensitive path hang on the ordinary links.
    URLLIST_ITEM *sub = sibling(nocase_dir->child, "sub", UP_PATH);
    ASSERT_NE(sub, nullptr);
    EXPECT_NE(sub->data, nullptr);
    EXPECT_EQ(nocase_dir->nocase_child, nullptr);
}

TEST_F(UrllistTree, QueryEntryHangsOnAPattern)
{
    URLLIST_ITEM_DATA *first = deny();
    ASSERT_EQ(lay(root(), "http://h.com/p?a=1&b=2", first), 0);
    URLLIST_ITEM *p = sibling(sibling(host_node("http", {"com", "h"})->child, "80", UP_PORT)->child, "p", UP_PATH);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->data, nullptr);
    ASSERT_NE(p->queryhead, nullptr);
    ASSERT_EQ(p->queryhead->items.size(), 1u);
    EXPECT_EQ(p->queryhead->items[0]->data, first);
    // The same pattern in another order is the same pattern: no new item.
    ASSERT_EQ(lay(root(), "http://h.com/p?b=2&a=1", deny(), 0, 0), 0);
    EXPECT_EQ(p->queryhead->items.size(), 1u);
    EXPECT_EQ(p->queryhead->items[0]->data, first);
}

TEST_F(UrllistTree, EmptySequenceAndBadArgumentsFail)
{
    Record empty = tokens_record({});
    URLLIST_ITEM_DATA *data = deny();
    EXPECT_EQ(urllist_add_to_tree(root(), empty.get(), 0, data, 1, 0, 0), 1);
    Record rec = entry("http://h.com");
    EXPECT_EQ(urllist_add_to_tree(nullptr, rec.get(), 0, data, 1, 0, 0), 1);
    EXPECT_EQ(urllist_add_to_tree(root(), nullptr, 0, data, 1, 0, 0), 1);
    EXPECT_EQ(urllist_add_to_tree(root(), rec.get(), 0, nullptr, 1, 0, 0), 1);
    EXPECT_EQ(data->refcount, 0u);
    urllist_destroy_item_data(data);
}

TEST_F(UrllistTree, StartPastTheLastTokenAttachesToTheGivenNode)
{
    URLLIST_ITEM *address = urllist_new_urllist_nohashed_item("10.0.0.1", UP_HOST, 0);
    Record rec = entry("http://h.com");
    URLLIST_ITEM_DATA *data = deny();
    EXPECT_EQ(urllist_add_to_tree(address, rec.get(), 3, data, 1, 0, 0), 0);
    EXPECT_EQ(address->data, data);
    EXPECT_EQ(address->child, nullptr);
    urllist_terminate_urllist_item(address);
}

// ---- repeated entries ----------------------------------------------------------

struct RepeatCase {
    const char *name;
    bool mergeable; // both records are regular-expression replacements
    int overwrite;
    int cloned;
    bool first_stays; // the slot still holds the first record afterwards
    bool merged;      // the second record was merged into the first
};

class UrllistRepeat : public ::testing::TestWithParam<RepeatCase> {};

TEST_P(UrllistRepeat, SecondEntryMergesKeepsOrReplaces)
{
    const RepeatCase &c = GetParam();
    List l = make_list();
    URLLIST_ITEM_DATA *first = c.mergeable ? regreplace("^a(.*) A$1") : deny();
    URLLIST_ITEM_DATA *second = c.mergeable ? regreplace("^b(.*) B$1") : deny();
    second->ttl = 12345;
    Record rec = entry("http://h.com/x");
    ASSERT_EQ(urllist_add_to_tree(&l->root, rec.get(), 0, first, 1, 0, 0), 0);
    ASSERT_EQ(urllist_add_to_tree(&l->root, rec.get(), 0, second, c.overwrite, c.cloned, 0), 0);
    URLLIST_ITEM *x = sibling(
        sibling(sibling(sibling(sibling(l->root.child, "http", UP_PROTO)->child, "com", UP_HOST)->child, "h", UP_HOST)
                    ->child,
                "80", UP_PORT)
            ->child,
        "x", UP_PATH);
    ASSERT_NE(x, nullptr);
    if (c.first_stays) {
        EXPECT_EQ(x->data, first);
        EXPECT_EQ(second->refcount, 0u);
        EXPECT_EQ(first->ttl, c.merged ? 12345 : -1);
        if (c.merged) {
            EXPECT_EQ(second->action_data, nullptr);
        }
        urllist_destroy_item_data(second);
    } else {
        EXPECT_EQ(x->data, second); // the first was released with its last reference
        EXPECT_EQ(second->refcount, 1u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, UrllistRepeat,
    ::testing::Values(RepeatCase{"MergeableMerges", true, 1, 0, true, true},
                      RepeatCase{"NoOverwriteKeepsFirst", true, 0, 0, true, false},
                      RepeatCase{"NoOverwriteKeepsFirstDeny", false, 0, 0, true, false},
                      RepeatCase{"RefusedMergeReplaces", false, 1, 0, false, false},
                      RepeatCase{"ClonedReplaces", true, 1, 1, false, false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(UrllistRepeat, SameRecordTwiceIsNeitherFreedNorChainedToItself)
{
    List l = make_list();
    URLLIST_ITEM_DATA *data = regreplace("^a(.*) A$1");
    Record rec = entry("http://h.com");
    ASSERT_EQ(urllist_add_to_tree(&l->root, rec.get(), 0, data, 1, 0, 0), 0);
    ASSERT_EQ(urllist_add_to_tree(&l->root, rec.get(), 0, data, 1, 1, 0), 0);
    ASSERT_EQ(urllist_add_to_tree(&l->root, rec.get(), 0, data, 1, 0, 0), 0);
    EXPECT_EQ(data->refcount, 1u);
    char text[128];
    urllist_action_dump_action(data, text, sizeof text);
    EXPECT_STREQ(text, "R ^a(.*) A$1");
}

// ---- balance and order of sibling trees (property test) --------------------------

// The order of a sibling tree, written independently of the store.
enum class Where { same, low, high };

Where place(int64_t hash, UrlPart type, int32_t port, const URLLIST_ITEM *node)
{
    if (type == UP_PORT) {
        if (node->itemtype != UP_PORT)
            return Where::low;
        if (node->hash.city == hash)
            return Where::same;
        return port >= node->port_lower ? Where::high : Where::low;
    }
    if (node->itemtype == UP_PORT)
        return Where::high;
    if (hash != node->hash.city)
        return hash > node->hash.city ? Where::low : Where::high;
    int diff = static_cast<int>(node->itemtype) - static_cast<int>(type);
    return diff == 0 ? Where::same : (diff < 0 ? Where::low : Where::high);
}

struct Key {
    int64_t hash;
    UrlPart type;
    int32_t port;
    std::string text;
};

// Height of the subtree; checks balance factors, parent links and that every
// node lies on the correct side of each of its ancestors.
int check_subtree(const URLLIST_ITEM *node, const URLLIST_ITEM *parent, std::vector<std::pair<const URLLIST_ITEM *, Where>> &path,
                  size_t &failures)
{
    if (node == nullptr)
        return 0;
    if (node->parent != parent)
        failures++;
    for (const auto &[ancestor, side] : path)
        if (place(node->hash.city, node->itemtype, node->port_lower, ancestor) != side)
            failures++;
    path.emplace_back(node, Where::low);
    int low = check_subtree(node->low, node, path, failures);
    path.back().second = Where::high;
    int high = check_subtree(node->high, node, path, failures);
    path.pop_back();
    UL_DISBALANCE expected = low > high ? ULD_LOW : (high > low ? ULD_HIGH : ULD_NONE);
    if (std::abs(low - high) > 1 || node->disbalance != expected)
        failures++;
    return 1 + std::max(low, high);
}

const URLLIST_ITEM *search(const URLLIST_ITEM *top, const Key &key)
{
    while (top != nullptr) {
        Where w = place(key.hash, key.type, key.port, top);
        if (w == Where::same)
            return top;
        top = w == Where::low ? top->low : top->high;
    }
    return nullptr;
}

enum class Order { ascending, descending, random };

class UrllistBalance : public ::testing::TestWithParam<Order> {};

std::vector<Key> random_keys(size_t n, std::mt19937_64 &rng)
{
    std::vector<Key> keys;
    std::set<int64_t> hashes;
    std::set<int> port_bounds;
    static const UrlPart kinds[] = {UP_HOST, UP_PATH, UP_PROTO};
    while (keys.size() < n) {
        if (rng() % 10 == 0) {
            int lower = static_cast<int>(rng() % 65000) + 1;
            if (!port_bounds.insert(lower).second)
                continue;
            std::string text = std::to_string(lower) + (rng() % 2 ? "-" + std::to_string(lower + 10) : "");
            keys.push_back({hash_of(text.c_str()), UP_PORT, lower, text});
            continue;
        }
        int64_t h = static_cast<int64_t>(rng());
        if (rng() % 20 == 0 && !keys.empty() && keys.back().type != UP_PORT)
            h = keys.back().hash; // equal hashes of different types
        UrlPart type = kinds[rng() % 3];
        if (!hashes.insert(h ^ static_cast<int64_t>(type)).second)
            continue;
        keys.push_back({h, type, 0, hash_string(h)});
    }
    return keys;
}

TEST_P(UrllistBalance, ThousandsOfKeysKeepEverySiblingTreeBalancedAndOrdered)
{
    std::mt19937_64 rng(20240611);
    std::vector<Key> keys = random_keys(5000, rng);
    auto by_order = [](const Key &a, const Key &b) {
        // Ascending in the sense of the sibling order (ports first).
        if ((a.type == UP_PORT) != (b.type == UP_PORT))
            return a.type == UP_PORT;
        if (a.type == UP_PORT)
            return a.port < b.port;
        return a.hash != b.hash ? a.hash < b.hash : a.type < b.type;
    };
    if (GetParam() == Order::random)
        std::shuffle(keys.begin(), keys.end(), rng);
    else
        std::sort(keys.begin(), keys.end(), by_order);
    if (GetParam() == Order::descending)
        std::reverse(keys.begin(), keys.end());

    List l = make_list();
    std::map<const Key *, URLLIST_ITEM_DATA *> records;
    for (const Key &key : keys) {
        // Each key is one sibling below a shared host: a second level of
        // sibling trees is exercised under the first port key as well.
        Record rec = tokens_record({{key.type, key.text}}, key.port);
        URLLIST_ITEM_DATA *data = deny();
        ASSERT_EQ(urllist_add_to_tree(&l->root, rec.get(), 0, data, 1, 0, URLLIST_EXPLODE_HASHED), 0);
        records[&key] = data;
    }
    size_t failures = 0;
    std::vector<std::pair<const URLLIST_ITEM *, Where>> path;
    int height = check_subtree(l->root.child, nullptr, path, failures);
    EXPECT_EQ(failures, 0u);
    EXPECT_LE(height, static_cast<int>(1.44 * std::log2(keys.size() + 2)));
    EXPECT_EQ(sibling_count(l->root.child), keys.size());
    for (const Key &key : keys) {
        const URLLIST_ITEM *found = search(l->root.child, key);
        ASSERT_NE(found, nullptr) << key.text;
        EXPECT_EQ(found->data, records[&key]) << key.text;
    }
}

INSTANTIATE_TEST_SUITE_P(Orders, UrllistBalance,
                         ::testing::Values(Order::ascending, Order::descending, Order::random));

TEST(UrllistBalance, NestedSiblingTreesStayBalanced)
{
    // Many labels below many hosts: every level's sibling tree is checked.
    List l = make_list();
    std::mt19937_64 rng(7);
    for (int k = 0; k < 3000; k++) {
        std::string host = "http://l" + std::to_string(rng() % 40) + ".d" + std::to_string(rng() % 50) + ".t" +
                           std::to_string(k % 7) + "/p" + std::to_string(rng() % 30);
        ASSERT_EQ(lay(&l->root, host.c_str(), deny()), 0);
    }
    size_t failures = 0;
    std::vector<const URLLIST_ITEM *> tops{l->root.child};
    while (!tops.empty()) {
        const URLLIST_ITEM *top = tops.back();
        tops.pop_back();
        std::vector<std::pair<const URLLIST_ITEM *, Where>> path;
        check_subtree(top, nullptr, path, failures);
        std::vector<const URLLIST_ITEM *> nodes{top};
        while (!nodes.empty()) {
            const URLLIST_ITEM *n = nodes.back();
            nodes.pop_back();
            for (const URLLIST_ITEM *s : {n->low, n->high})
                if (s != nullptr)
                    nodes.push_back(s);
            if (n->child != nullptr)
                tops.push_back(n->child);
        }
    }
    EXPECT_EQ(failures, 0u);
}

// ---- copies -------------------------------------------------------------------

// Compares two subtrees node by node (the copy must equal the original in
// every field but the node addresses).
void expect_same_shape(const URLLIST_ITEM *a, const URLLIST_ITEM *b, const URLLIST_ITEM *b_parent)
{
    ASSERT_EQ(a == nullptr, b == nullptr);
    if (a == nullptr)
        return;
    EXPECT_NE(a, b);
    EXPECT_EQ(a->hash.city, b->hash.city);
    EXPECT_EQ(a->itemtype, b->itemtype);
    EXPECT_EQ(a->disbalance, b->disbalance);
    EXPECT_EQ(a->nocase, b->nocase);
    EXPECT_EQ(a->port_lower, b->port_lower);
    EXPECT_EQ(a->port_upper, b->port_upper);
    EXPECT_STREQ(a->item, b->item);
    EXPECT_EQ(a->data, b->data);
    EXPECT_EQ(b->parent, b_parent);
    EXPECT_EQ(a->queryhead == nullptr, b->queryhead == nullptr);
    expect_same_shape(a->low, b->low, b);
    expect_same_shape(a->high, b->high, b);
    expect_same_shape(a->child, b->child, nullptr);
    expect_same_shape(a->nocase_child, b->nocase_child, nullptr);
    expect_same_shape(a->wildcard_child, b->wildcard_child, nullptr);
}

TEST(UrllistClone, CopySharesRecordsAndMirrorsTheSubtree)
{
    List l = make_list();
    URLLIST_ITEM_DATA *shared = deny();
    for (const char *e : {"http://a.com/x", "http://b.com/y/z", "http://c.com:8080/q?k=v", "*.c.com/w",
                          "http://d.com/e/f"})
        ASSERT_EQ(lay(&l->root, e, deny()), 0);
    ASSERT_EQ(lay(&l->root, "http://d.com/Case", shared, URLLIST_EXPLODE_NOCASE), 0);
    URLLIST_ITEM *copy = nullptr;
    ASSERT_EQ(urllist_clone_urllist_item(l->root.child, &copy), 0);
    expect_same_shape(l->root.child, copy, nullptr);
    EXPECT_EQ(shared->refcount, 2u);
    urllist_terminate_urllist_item(copy);
    EXPECT_EQ(shared->refcount, 1u);

    URLLIST_ITEM *nothing = l->root.child;
    EXPECT_EQ(urllist_clone_urllist_item(nullptr, &nothing), 0);
    EXPECT_EQ(nothing, nullptr);
}

// ---- reference counting end to end ---------------------------------------------

// Counts the slots holding each record in a subtree.
void count_slots(const URLLIST_ITEM *node, std::map<const URLLIST_ITEM_DATA *, unsigned> &slots, bool siblings = true)
{
    if (node == nullptr)
        return;
    if (node->data != nullptr)
        slots[node->data]++;
    for (const URLLIST_QUERY_TREE *t : {node->queryhead, node->queryhead_nocase})
        if (t != nullptr)
            for (const URLLIST_QUERY_ITEM *q : t->items)
                if (q->data != nullptr)
                    slots[q->data]++;
    if (siblings) {
        count_slots(node->low, slots);
        count_slots(node->high, slots);
    }
    count_slots(node->child, slots);
    count_slots(node->nocase_child, slots);
    count_slots(node->wildcard_child, slots);
}

TEST(UrllistTeardown, EveryKindOfSharedRecordIsReleasedOnce)
{
    List l = make_list(URLLIST_LOCKING);
    // Merged and overwritten records in the host tree.
    ASSERT_EQ(lay(&l->root, "http://m.com/r", regreplace("^a(.*) A$1")), 0);
    ASSERT_EQ(lay(&l->root, "http://m.com/r", regreplace("^b(.*) B$1")), 0);
    ASSERT_EQ(lay(&l->root, "http://o.com", deny()), 0);
    ASSERT_EQ(lay(&l->root, "http://o.com", deny(), 0, 1, 1), 0);
    ASSERT_EQ(lay(&l->root, "http://o.com/q?a=1&b", deny()), 0);
    ASSERT_EQ(lay(&l->root, "http://o.com/q?A=2", deny(), URLLIST_EXPLODE_NOCASE), 0);
    // A record shared by several slots, as a range entry spreads one.
    URLLIST_ITEM_DATA *spread = deny();
    for (const char *e : {"http://s1.com/p?x=1", "http://s2.com", "http://s3.com/d/e"}) {
        Record rec = entry(e);
        ASSERT_EQ(urllist_add_to_tree(&l->root, rec.get(), 0, spread, 1, 0, 0), 0);
    }
    // Path-only and query-only trees.
    ASSERT_EQ(lay(&l->path_root, "/dir/", deny()), 0);
    ASSERT_EQ(lay(&l->query_root, "?q=1", deny()), 0);

    // Address nodes on the ipitems chain: one with its own entries, one that
    // inherits copies of the first's subtrees and query patterns.
    URLLIST_ITEM *network = urllist_new_urllist_nohashed_item("10.0.0.0/8", UP_HOST, 0);
    network->low = l->ipitems;
    l->ipitems = network;
    {
        Record rec = entry("http://10.0.0.0/a/b?c=1");
        ASSERT_EQ(urllist_add_to_tree(network, rec.get(), 2, spread, 1, 0, 0), 0);
        Record rec2 = entry("http://10.0.0.0/Nc", URLLIST_EXPLODE_NOCASE);
        URLLIST_ITEM_DATA *d = deny();
        ASSERT_EQ(urllist_add_to_tree(network, rec2.get(), 2, d, 1, 0, URLLIST_EXPLODE_NOCASE), 0);
        Record rec3 = entry("http://10.0.0.0?top=1");
        URLLIST_ITEM_DATA *d3 = deny();
        ASSERT_EQ(urllist_add_to_tree(network, rec3.get(), 2, d3, 1, 0, 0), 0);
    }
    URLLIST_ITEM *address = urllist_new_urllist_nohashed_item("10.1.2.3", UP_HOST, 0);
    address->low = l->ipitems;
    l->ipitems = address;
    address->data = spread;
    velmora::hold_record(spread);
    ASSERT_EQ(urllist_clone_urllist_item_query(network, address), 0);
    ASSERT_EQ(urllist_clone_urllist_item(network->child, &address->child), 0);
    ASSERT_EQ(urllist_clone_urllist_item(network->nocase_child, &address->nocase_child), 0);
    {
        Record rec = entry("http://10.1.2.3/a/b?c=1");
        URLLIST_ITEM_DATA *d = deny();
        ASSERT_EQ(urllist_add_to_tree(address, rec.get(), 2, d, 1, 1, 0), 0); // replaces the copy's record
    }

    // Records with a single owner outside the trees.
    l->default_data = deny();
    l->event_types_data = static_cast<URLLIST_ITEM_DATA **>(std::calloc(URLLIST_EVENT_TYPES, sizeof(URLLIST_ITEM_DATA *)));
    l->event_types_data[3] = deny();
    auto *re = static_cast<URLLIST_RE_ITEM *>(std::calloc(1, sizeof(URLLIST_RE_ITEM)));
    ASSERT_EQ(regcomp(&re->exp, "ab+c", REG_EXTENDED | REG_NOSUB), 0);
    re->strexp = strdup("ab+c");
    re->data = regreplace("^x(.*) X$1");
    l->regexp = l->regexp_tail = re;
    auto *key = static_cast<unsigned char *>(std::calloc(21, 1));
    key[0] = 20;
    ASSERT_EQ(velmora::store_digest(l.get(), key, deny()), 0);
    l->ext_list = extlist_initialize(50, [](void *d) { urllist_destroy_item_data(static_cast<URLLIST_ITEM_DATA *>(d)); });
    ASSERT_EQ(extlist_add_item(l->ext_list, "exe", deny()), 0);
    l->wildcard_iplist = static_cast<iphead *>(iplist_init(nullptr, nullptr));
    ASSERT_EQ(velmora::store_scheme_iplist(l.get(), hash_string(hash_of("http")),
                                           static_cast<iphead *>(iplist_init(nullptr, nullptr))),
              0);

    // Every record's count equals the slots that hold it.
    std::map<const URLLIST_ITEM_DATA *, unsigned> slots;
    for (const URLLIST_ITEM *r : {&l->root, &l->path_root, &l->query_root})
        count_slots(r, slots, false);
    for (const URLLIST_ITEM *ip = l->ipitems; ip != nullptr; ip = ip->low)
        count_slots(ip, slots, false);
    EXPECT_EQ(slots[spread], spread->refcount);
    EXPECT_GE(spread->refcount, 5u);
    for (const auto &[record, count] : slots)
        EXPECT_EQ(record->refcount, count);
    // urllist_terminate (through the List holder) releases it all; the
    // sanitizer build reports any leak or double release.
}

} // namespace
