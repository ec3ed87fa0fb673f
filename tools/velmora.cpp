// velmora: classifies URLs against URL lists, explains which entry governs
// them, decomposes URLs, and serves as a Squid helper.
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "velmora_cli/commands.h"
#include "velmora_cli/options.h"

namespace velmora_cli {

int usage_error(const std::string &error)
{
    if (!error.empty())
        std::fprintf(stderr, "velmora: %s\n", error.c_str());
    std::fprintf(stderr,
                 "usage: velmora check -l LIST [-l LIST ...] [--hint N] [--nocase-url] [URL ...]\n"
                 "       velmora explode [--list] URL ...\n"
                 "       velmora squid-helper -l LIST [-l LIST ...] [--hint N] [--nocase-url]\n"
                 "                            [--mode acl|rewrite] [--deny-url URL]\n"
                 "exit status: 0 done, 1 usage error, 2 unreadable list, 3 a URL could not be\n"
                 "decomposed, 4 reading or writing failed\n");
    return kExitUsage;
}

} // namespace velmora_cli

namespace {

int run(const std::string &command, const std::vector<std::string> &args)
{
    using namespace velmora_cli;
    if (command == "check")
        return run_check(args);
    if (command == "explode")
        return run_explode(args);
    if (command == "squid-helper")
        return run_squid_helper(args);
    if (command == "-h" || command == "--help") {
        usage_error("");
        return kExitOk;
    }
    return usage_error("unknown command '" + command + "'");
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        return velmora_cli::usage_error("");
    // A reader that goes away ends the answers through a failed write, not
    // through the signal.
    signal(SIGPIPE, SIG_IGN);
    try {
        return run(argv[1], std::vector<std::string>(argv + 2, argv + argc));
    } catch (const std::bad_alloc &) {
        std::fprintf(stderr, "velmora: out of memory\n");
        return velmora_cli::kExitIo;
    }
}
