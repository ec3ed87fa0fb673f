// Cost estimate of a POSIX extended regular expression as the C library
// compiles it. glibc's regcomp copies the operand of every '+' and of every
// interval "{m,n}" (max(m, n) copies), so stacked or nested repetitions grow
// the compiled tree exponentially: "a+++++++++++++++++++++" or
// "((((a{9}){9}){9}){9})" take gigabytes. Its epsilon-closure pass is
// quadratic in runs of operands that may match nothing ('*', '?', "{0,n}")
// and grows with each such repetition nested in another, so "(a*){30000}" or
// "(x)*++++++++++++" take seconds to minutes with a small tree. Back-references
// make matching exponential. Patterns come from outside (list files,
// log-session queries), so both costs are estimated, back-references refused,
// and excessive patterns never reach regcomp.
#ifndef VELMORA_INTERNAL_REGEX_SIZE_H
#define VELMORA_INTERNAL_REGEX_SIZE_H

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace velmora {

// Largest estimated tree (in pattern atoms): a few megabytes in glibc, far
// beyond what a written pattern needs.
inline constexpr uint64_t kMaxRegexAtoms = 32768;
// Largest estimated weight of atoms under optional repetitions: about a
// tenth of a second of compiling.
inline constexpr uint64_t kMaxRegexOptionalWeight = 2048;
// Most repetitions of operands holding an anchor or an empty group: glibc
// copies such nodes once per context while closing them, so each optional
// one inside a loop multiplies the work ("((^|a)?){9}" under '+' takes a
// second, each further one four times more).
inline constexpr uint64_t kMaxRegexAnchorRepeats = 16;

namespace regex_size_detail {

// Estimated cost of an operand or of a run of them.
struct Cost {
    uint64_t atoms = 0;    // nodes of the compiled tree
    uint64_t optional = 0; // weight of atoms that may match nothing
    uint64_t anchor_repeats = 0; // repetitions of operands holding anchors or empty groups
    bool nullable = false; // the operand (run) may match the empty text
    bool anchored = false; // holds an anchor or an empty group
};

struct Group {
    Cost total;                 // the group so far, alternatives included
    Cost last;                  // the last operand, which a repetition applies to
    bool run_nullable = true;   // the current alternative so far may match nothing
    bool before_last = true;    // ... up to its last operand
    bool some_nullable = false; // an earlier alternative may match nothing
    bool anchored = false;      // an operand so far holds an anchor or empty group
};

inline uint64_t capped(uint64_t value) { return value > kMaxRegexAtoms ? kMaxRegexAtoms + 1 : value; }

// A run of a then b.
inline Cost sum(Cost a, Cost b)
{
    return {capped(a.atoms + b.atoms), capped(a.optional + b.optional),
            capped(a.anchor_repeats + b.anchor_repeats), a.nullable && b.nullable, a.anchored || b.anchored};
}

inline Cost times(Cost c, uint64_t copies)
{
    return {capped(c.atoms * copies), capped(c.optional * copies), capped(c.anchor_repeats * copies),
            c.nullable || copies == 0, c.anchored};
}

// An operand that may now match nothing: its atoms join the weight, and the
// weight already inside counts eight times (measured: "((a*)*){n}" compiles
// about as slowly as "(a*){8n}"). An anchored operand counts one repetition
// more, and those inside it twice.
inline Cost made_optional(Cost c)
{
    const uint64_t repeats = c.anchored ? capped(2 * c.anchor_repeats + 1) : c.anchor_repeats;
    return {c.atoms, capped(8 * c.optional + c.atoms), repeats, true, c.anchored};
}

// A group that may match nothing ("()", "(a*)", "(|a)") weighs like an
// optional operand: copies of it form chains of empty matches just as well
// ("(){22222}" takes gigabytes).
inline Cost closed_group(const Group &g)
{
    const bool empty = g.total.atoms == 0;
    Cost inner{capped(g.total.atoms + 1), g.total.optional, g.total.anchor_repeats,
               g.some_nullable || g.run_nullable, g.anchored || empty};
    if (inner.nullable)
        inner.optional = std::max(inner.optional, inner.atoms);
    return inner;
}

inline bool excessive(Cost c)
{
    return c.atoms > kMaxRegexAtoms || c.optional > kMaxRegexOptionalWeight ||
           c.anchor_repeats > kMaxRegexAnchorRepeats;
}

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

struct Interval {
    uint64_t low = 0;
    uint64_t high = 0;
};

// Reads an interval "{m}", "{m,}", "{m,n}" or (as glibc also takes them)
// "{,n}" and "{,}" at p[i] and moves *i past it; false (and *i unchanged)
// when the text is not an interval.
inline bool read_interval(const char *p, size_t *i, Interval *interval)
{
    const char *at = p + *i + 1;
    const bool has_low = std::isdigit(static_cast<unsigned char>(*at)) != 0;
    if (!has_low && *at != ',')
        return false;
    char *end = const_cast<char *>(at);
    uint64_t low = has_low ? capped(std::strtoull(at, &end, 10)) : 0;
    uint64_t high = low;
    if (*end == ',') {
        ++end;
        // "{m,}" is m copies followed by a starred one.
        high = std::isdigit(static_cast<unsigned char>(*end)) ? capped(std::strtoull(end, &end, 10)) : low + 1;
    }
    if (*end != '}')
        return false;
    *i = static_cast<size_t>(end - p) + 1;
    interval->low = low;
    interval->high = high > low ? high : low;
    return true;
}

// Replaces the group's last operand by what the repetition makes of it.
inline void repeat_last(Group &g, Cost repeated)
{
    g.run_nullable = g.before_last && repeated.nullable;
    Cost before = g.total;
    before.atoms -= std::min(before.atoms, g.last.atoms);
    before.optional -= std::min(before.optional, g.last.optional);
    before.anchor_repeats -= std::min(before.anchor_repeats, g.last.anchor_repeats);
    g.total = sum(before, repeated);
    g.last = repeated;
}

// glibc builds "x{m,n}" as m copies of x followed by n - m nested optional
// ones, "x+" as "x x*", and "x*" / "x?" as x made optional.
inline Cost interval_of(Cost x, Interval interval)
{
    Cost required = times(x, interval.low);
    Cost optional = times(made_optional(x), interval.high - interval.low);
    return sum(required, optional);
}

inline void add_operand(Group &g, Cost operand)
{
    g.total = sum(g.total, operand);
    g.last = operand;
    g.anchored = g.anchored || operand.anchored;
    g.before_last = g.run_nullable;
    g.run_nullable = g.run_nullable && operand.nullable;
}

inline void next_alternative(Group &g)
{
    g.some_nullable = g.some_nullable || g.run_nullable;
    g.run_nullable = g.before_last = true;
    g.last = Cost{};
}

} // namespace regex_size_detail

// True when regcomp would take unreasonable memory or time for the pattern,
// or regexec unreasonable time.
inline bool regex_too_large(const char *pattern)
{
    using namespace regex_size_detail;
    const Cost atom{1, 0, 0, false, false};
    // Anchors are nodes that match the empty text, chained like "()".
    const Cost empty_match{1, 1, 0, true, true};
    std::vector<Group> groups(1);
    size_t i = 0;
    while (pattern[i] != '\0') {
        Group &g = groups.back();
        const char c = pattern[i];
        Interval interval;
        if (c == '\\' && pattern[i + 1] >= '1' && pattern[i + 1] <= '9') {
            // A back-reference: glibc matches it by backtracking, which takes
            // exponential time on long texts ("(a|aa)*\\1\\1b" against a
            // thousand letters runs for minutes). Extended expressions do not
            // define back-references; they are refused.
            return true;
        } else if (c == '\\') {
            // Word anchors such as "\\b" match the empty text, like '^'.
            const bool anchor = pattern[i + 1] != '\0' && std::strchr("bB<>`'", pattern[i + 1]) != nullptr;
            add_operand(g, anchor ? empty_match : atom);
            i += pattern[i + 1] != '\0' ? 2 : 1;
        } else if (c == '[') {
            add_operand(g, atom);
            i = skip_bracket(pattern, i);
        } else if (c == '(') {
            groups.emplace_back();
            ++i;
        } else if (c == ')' && groups.size() > 1) {
            // The group is a node of its own, so even "()" is copied by '+'.
            const Cost inner = closed_group(groups.back());
            groups.pop_back();
            add_operand(groups.back(), inner);
            ++i;
        } else if (c == '|') {
            next_alternative(g);
            ++i;
        } else if (c == '*' || c == '?') {
            repeat_last(g, made_optional(g.last));
            ++i;
        } else if (c == '+') {
            repeat_last(g, interval_of(g.last, Interval{1, 2}));
            ++i;
        } else if (c == '{' && read_interval(pattern, &i, &interval)) {
            repeat_last(g, interval_of(g.last, interval));
        } else {
            add_operand(g, c == '^' || c == '$' ? empty_match : atom);
            ++i;
        }
        if (excessive(groups.back().total))
            return true;
    }
    Cost total;
    for (const Group &g : groups)
        total = sum(total, g.total);
    return excessive(total);
}

} // namespace velmora

#endif
