#include "velmora/policyevent.h"

#include <strings.h>

namespace {

// Only this many leading characters of a name identify an event type, so
// plural and longer forms ("keywords", "viruses") are recognised too.
constexpr int recognised_length = 4;

} // namespace

extern "C" {

const char *const policyevent_names[POLICYEVENT_COUNT] = {
    "policy", "bandwidth", "interim", "virus", "auth", "decrypt", "connect", "unknown", "keyword",
};

const char *policyevent_ntoa(int num) noexcept
{
    if (num < 0 || num >= POLICYEVENT_COUNT)
        return "???";
    return policyevent_names[num];
}

int policyevent_aton(const char *str) noexcept
{
    if (str == nullptr)
        return -1;
    // Every name is at least four characters long, and strncasecmp stops at the
    // end of str, so a shorter text matches nothing.
    for (int num = 0; num < POLICYEVENT_COUNT; num++) {
        if (strncasecmp(str, policyevent_names[num], recognised_length) == 0)
            return num;
    }
    return -1;
}

} // extern "C"
