// Size estimate of a POSIX extended regular expression as the C library
// compiles it. glibc's regcomp copies the operand of every '+' and of every
// interval "{m,n}" (max(m, n) copies), so stacked or nested repetitions grow
// the compiled tree exponentially: "a+++++++++++++++++++++" or
// "((((a{9}){9}){9}){9})" take gigabytes. List text comes from outside, so
// such patterns are refused before they reach regcomp.
#ifndef VELMORA_INTERNAL_REGEX_SIZE_H
#define VELMORA_INTERNAL_REGEX_SIZE_H

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace velmora {

// Largest estimated tree (in pattern atoms) compiled for a list entry: a few
// megabytes in glibc, far beyond what a written pattern needs.
inline constexpr uint64_t kMaxRegexAtoms = 32768;

namespace regex_size_detail {

struct Group {
    uint64_t total = 0; // atoms of the group so far, alternatives included
    uint64_t last = 0;  // atoms of the last operand, which a repetition copies
};

inline uint64_t capped(uint64_t value) { return value > kMaxRegexAtoms ? kMaxRegexAtoms + 1 : value; }

// Index just past a bracket expression that starts at p[i] == '['.
inline size_t skip_bracket(const char *p, size_t i)
{
    ++i;
    if (p[i] == '^')
        ++i;
    if (p[i] == ']')
        ++i;
    while (p[i] != '\0' && p[i] != ']') {
        if (p[i] == '[' && (p[i + 1] == ':' || p[i + 1] == '.' || p[i + 1] == '=')) {
            const char close = p[i + 1];
            i += 2;
            while (p[i] != '\0' && !(p[i] == close && p[i + 1] == ']'))
                ++i;
            if (p[i] != '\0')
                i += 2;
            continue;
        }
        ++i;
    }
    return p[i] == ']' ? i + 1 : i;
}

// Copies an interval "{m}", "{m,}" or "{m,n}" at p[i] makes of its operand, and
// the index past it; 0 copies when the text is not an interval.
inline uint64_t interval_copies(const char *p, size_t *i)
{
    char *end = nullptr;
    if (!std::isdigit(static_cast<unsigned char>(p[*i + 1])))
        return 0;
    uint64_t low = std::strtoull(p + *i + 1, &end, 10);
    uint64_t high = low;
    if (*end == ',') {
        ++end;
        high = std::isdigit(static_cast<unsigned char>(*end)) ? std::strtoull(end, &end, 10) : low + 1;
    }
    if (*end != '}')
        return 0;
    *i = static_cast<size_t>(end - p) + 1;
    return capped(high > low ? high : low);
}

inline void add_atom(Group &g, uint64_t atoms)
{
    g.total = capped(g.total + atoms);
    g.last = atoms;
}

inline void repeat_last(Group &g, uint64_t copies)
{
    if (copies <= 1)
        return;
    g.total = capped(g.total + capped(g.last * (copies - 1)));
    g.last = capped(g.last * copies);
}

} // namespace regex_size_detail

// True when regcomp would build an unreasonably large tree for the pattern.
inline bool regex_too_large(const char *pattern)
{
    using namespace regex_size_detail;
    std::vector<Group> groups(1);
    size_t i = 0;
    while (pattern[i] != '\0') {
        Group &g = groups.back();
        const char c = pattern[i];
        if (c == '\\') {
            add_atom(g, 1);
            i += pattern[i + 1] != '\0' ? 2 : 1;
        } else if (c == '[') {
            add_atom(g, 1);
            i = skip_bracket(pattern, i);
        } else if (c == '(') {
            groups.emplace_back();
            ++i;
        } else if (c == ')' && groups.size() > 1) {
            const uint64_t atoms = groups.back().total;
            groups.pop_back();
            add_atom(groups.back(), atoms);
            ++i;
        } else if (c == '|') {
            g.last = 0;
            ++i;
        } else if (c == '+') {
            repeat_last(g, 2);
            ++i;
        } else if (c == '{') {
            const uint64_t copies = interval_copies(pattern, &i);
            if (copies == 0) {
                add_atom(g, 1);
                ++i;
            } else {
                repeat_last(g, copies);
            }
        } else {
            // '*' and '?' wrap their operand without copying it.
            if (c != '*' && c != '?')
                add_atom(g, 1);
            ++i;
        }
        if (groups.back().total > kMaxRegexAtoms)
            return true;
    }
    uint64_t total = 0;
    for (const Group &g : groups)
        total = capped(total + g.total);
    return total > kMaxRegexAtoms;
}

} // namespace velmora

#endif
