// Command-line options of the velmora subcommands.
#ifndef VELMORA_CLI_OPTIONS_H
#define VELMORA_CLI_OPTIONS_H

#include <string>
#include <vector>

namespace velmora_cli {

// Exit statuses shared by the subcommands.
constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;
constexpr int kExitUnreadableList = 2;
// Some URL could not be decomposed (not a URL in check mode). Chosen apart
// from the usage and list statuses so scripts can tell the three apart.
constexpr int kExitInvalidUrl = 3;
// Reading the URLs or writing the answers failed (e.g. the reader went away).
constexpr int kExitIo = 4;

enum class HelperMode { acl, rewrite };

struct Options {
    std::vector<std::string> lists; // -l LIST, in the order given
    int hint = 0;                   // --hint N (0..5): how lines without an action are read
    bool nocase_url = false;        // --nocase-url: lower-case every URL before the lookup
    bool list_mode = false;         // explode --list: decompose the URLs as list entries
    HelperMode mode = HelperMode::acl;
    std::string deny_url;           // --deny-url URL (rewrite mode)
    std::vector<std::string> urls;  // the remaining arguments
};

// What a subcommand accepts besides its URL arguments.
struct Accepted {
    bool lists = false;    // -l, --hint
    bool nocase = false;   // --nocase-url
    bool list_mode = false; // --list
    bool helper = false;   // --mode, --deny-url
};

// Parses args (the arguments after the subcommand name). On a usage error it
// returns false with the reason in error.
bool parse_options(const std::vector<std::string> &args, const Accepted &accepted, Options &options,
                   std::string &error);

} // namespace velmora_cli

#endif
