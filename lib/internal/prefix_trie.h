// A compact string trie: stores byte strings with a value each and, given a
// text position, yields every stored string that begins there.
#ifndef VELMORA_INTERNAL_PREFIX_TRIE_H
#define VELMORA_INTERNAL_PREFIX_TRIE_H

#include <algorithm>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velmora {

// Path-compressed: every edge carries a run of bytes, so a chain of nodes with
// one child each collapses into a single node. Value is a small copyable type
// (a pointer in practice). When insertion throws std::bad_alloc the stored
// keys and values are as before (at most an edge was split in two).
template <class Value>
class PrefixTrie {
public:
    // Stores value under key unless key is present. Returns the stored value's
    // slot and whether it was inserted (false: key existed, value untouched).
    std::pair<Value *, bool> insert(std::string_view key, Value value)
    {
        Node *node = &root_;
        std::size_t pos = 0;
        while (pos < key.size()) {
            std::size_t slot = node->child_slot(static_cast<unsigned char>(key[pos]));
            if (slot == Node::npos)
                return {&node->add_leaf(key.substr(pos), value)->value, true};
            Node *child = node->children[slot].get();
            std::size_t common = common_length(child->label, key.substr(pos));
            if (common < child->label.size()) {
                child = node->split_child(slot, common);
                pos += common;
                if (pos == key.size())
                    return child->set_value(value);
                return {&child->add_leaf(key.substr(pos), value)->value, true};
            }
            pos += common;
            node = child;
        }
        return node->set_value(value);
    }

    // The value stored under exactly key, or nullptr.
    const Value *find(std::string_view key) const
    {
        const Node *node = &root_;
        std::size_t pos = 0;
        while (pos < key.size()) {
            node = node->child_at(key.substr(pos));
            if (node == nullptr)
                return nullptr;
            pos += node->label.size();
        }
        return node->has_value ? &node->value : nullptr;
    }

    // Appends to out the values of every stored key that is a prefix of text,
    // shortest first (callers wanting longest first walk out backwards).
    void collect_prefixes(std::string_view text, std::vector<Value> &out) const
    {
        const Node *node = &root_;
        std::size_t pos = 0;
        if (node->has_value)
            out.push_back(node->value);
        while (pos < text.size()) {
            node = node->child_at(text.substr(pos));
            if (node == nullptr)
                return;
            pos += node->label.size();
            if (node->has_value)
                out.push_back(node->value);
        }
    }

    // Calls fn(value) for every stored value, in no particular order.
    template <class Fn>
    void for_each(Fn &&fn) const
    {
        root_.visit(fn);
    }

    bool empty() const noexcept { return root_.children.empty() && !root_.has_value; }

private:
    struct Node {
        static constexpr std::size_t npos = static_cast<std::size_t>(-1);

        std::string label;                          // bytes of the edge into this node
        std::string first_bytes;                    // first label byte of each child, ascending
        std::vector<std::unique_ptr<Node>> children; // parallel to first_bytes
        Value value{};
        bool has_value = false;

        std::size_t child_slot(unsigned char byte) const noexcept
        {
            std::size_t slot = insertion_slot(byte);
            if (slot == first_bytes.size() || static_cast<unsigned char>(first_bytes[slot]) != byte)
                return npos;
            return slot;
        }

        std::size_t insertion_slot(unsigned char byte) const noexcept
        {
            auto it = std::lower_bound(first_bytes.begin(), first_bytes.end(), byte,
                                       [](char c, unsigned char b) { return static_cast<unsigned char>(c) < b; });
            return static_cast<std::size_t>(it - first_bytes.begin());
        }

        // The child whose whole label begins text, or nullptr.
        const Node *child_at(std::string_view text) const noexcept
        {
            std::size_t slot = child_slot(static_cast<unsigned char>(text.front()));
            if (slot == npos)
                return nullptr;
            const Node *child = children[slot].get();
            if (text.substr(0, child->label.size()) != child->label)
                return nullptr;
            return child;
        }

        std::pair<Value *, bool> set_value(Value v) noexcept
        {
            if (has_value)
                return {&value, false};
            value = v;
            has_value = true;
            return {&value, true};
        }

        // Adds a new child labelled rest (not empty, no child begins with its
        // first byte) holding v.
        Node *add_leaf(std::string_view rest, Value v)
        {
            auto leaf = std::make_unique<Node>();
            leaf->label.assign(rest);
            leaf->value = v;
            leaf->has_value = true;
            return adopt(std::move(leaf));
        }

        // Cuts the label of children[slot] after keep bytes, putting a new
        // node there that holds the cut-off part as its only child. Returns
        // the new node.
        Node *split_child(std::size_t slot, std::size_t keep)
        {
            auto middle = std::make_unique<Node>();
            Node *old = children[slot].get();
            middle->label.assign(old->label, 0, keep);
            std::string rest(old->label, keep);
            middle->first_bytes.push_back(rest.front());
            middle->children.reserve(1);
            // Nothing below can throw: the trie changes only from here on.
            old->label.swap(rest);
            middle->children.push_back(std::move(children[slot]));
            children[slot] = std::move(middle);
            return children[slot].get();
        }

        Node *adopt(std::unique_ptr<Node> child)
        {
            std::size_t slot = insertion_slot(static_cast<unsigned char>(child->label.front()));
            children.reserve(children.size() + 1);
            first_bytes.reserve(first_bytes.size() + 1);
            first_bytes.insert(first_bytes.begin() + static_cast<std::ptrdiff_t>(slot), child->label.front());
            children.insert(children.begin() + static_cast<std::ptrdiff_t>(slot), std::move(child));
            return children[slot].get();
        }

        template <class Fn>
        void visit(Fn &fn) const
        {
            if (has_value)
                fn(value);
            for (const auto &child : children)
                child->visit(fn);
        }
    };

    static std::size_t common_length(std::string_view a, std::string_view b) noexcept
    {
        std::size_t n = std::min(a.size(), b.size());
        std::size_t i = 0;
        while (i < n && a[i] == b[i])
            i++;
        return i;
    }

    Node root_;
};

} // namespace velmora

#endif
