// Cutting a text in place into an exploded array: one malloc block of piece
// pointers followed by a NULL pointer, the pieces staying in the caller's text.
#ifndef VELMORA_INTERNAL_SPLIT_H
#define VELMORA_INTERNAL_SPLIT_H

#include <cstddef>
#include <cstdlib>

namespace velmora {

// find_separator(piece) returns the separator that ends the piece starting at
// piece, or nullptr when the piece runs to the end of the text. At most
// max_splits separators are cut; the text is untouched when allocation fails.
template <typename FindSeparator>
char **split_in_place(char *str, std::size_t max_splits, FindSeparator find_separator, int *num) noexcept
{
    std::size_t splits = 0;
    for (char *piece = str; splits < max_splits;) {
        char *sep = find_separator(piece);
        if (sep == nullptr)
            break;
        splits++;
        piece = sep + 1;
    }
    auto **pieces = static_cast<char **>(std::malloc((splits + 2) * sizeof(char *)));
    if (pieces == nullptr)
        return nullptr;
    char *piece = str;
    for (std::size_t i = 0; i < splits; i++) {
        char *sep = find_separator(piece);
        *sep = '\0';
        pieces[i] = piece;
        piece = sep + 1;
    }
    pieces[splits] = piece;
    pieces[splits + 1] = nullptr;
    if (num != nullptr)
        *num = static_cast<int>(splits + 1);
    return pieces;
}

} // namespace velmora

#endif
