// Pre-order traversal of a patricia subtree without recursion, shared by the
// trie itself (free, process) and the IP list (listing smaller networks).
#ifndef VELMORA_INTERNAL_PATRICIA_PREORDER_H
#define VELMORA_INTERNAL_PATRICIA_PREORDER_H

#include "velmora/patricia.h"

namespace velmora {

// Bit indexes strictly increase downwards and never exceed 128, so a path holds
// at most 129 nodes; the stack only keeps right children pending on the
// current path.
inline constexpr int kPatriciaPathCapacity = 129;

// Visits start and every node below it, node before its left and then its
// right subtree. The children are read before visit runs, so visit may free
// the node it is given.
template <typename Visit>
void patricia_visit_preorder(patricia_node_t *start, Visit &&visit)
{
    patricia_node_t *pending[kPatriciaPathCapacity];
    int depth = 0;
    patricia_node_t *node = start;
    while (node != nullptr) {
        patricia_node_t *left = node->l;
        patricia_node_t *right = node->r;
        visit(node);
        if (left != nullptr) {
            // A sound tree never fills the stack; stop rather than write past it.
            if (right != nullptr) {
                if (depth == kPatriciaPathCapacity)
                    return;
                pending[depth++] = right;
            }
            node = left;
        } else if (right != nullptr) {
            node = right;
        } else {
            node = depth > 0 ? pending[--depth] : nullptr;
        }
    }
}

} // namespace velmora

#endif
