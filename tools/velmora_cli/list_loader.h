// Loading list files into a URL list with feedback on standard error: every
// line that loads nothing is named with its file and line number, a progress
// bar runs while a large file loads on a terminal, and a summary gives the
// loaded/total counters per entry kind.
#ifndef VELMORA_CLI_LIST_LOADER_H
#define VELMORA_CLI_LIST_LOADER_H

#include <memory>
#include <string>
#include <vector>

#include "velmora/urllist.h"

namespace velmora_cli {

struct UrlListRelease {
    void operator()(URLLIST *l) const noexcept { urllist_terminate(l); }
};
using UrlListPtr = std::unique_ptr<URLLIST, UrlListRelease>;

struct LoadResult {
    UrlListPtr list;     // NULL when loading failed
    std::string failure; // why, when list is NULL
    long lines_not_loaded = 0;
};

// Loads every file into one new list (no locking: one thread uses it at a
// time). A file that cannot be read, or memory running out, fails the whole
// load; lines that load nothing are reported and the load goes on.
LoadResult load_lists(const std::vector<std::string> &files, int hint);

// Prints the loaded/total counters of the list on standard error.
void print_load_summary(const URLLIST &list, size_t files, long lines_not_loaded);

} // namespace velmora_cli

#endif
