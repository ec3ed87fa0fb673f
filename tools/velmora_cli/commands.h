// The subcommands of the velmora tool; each returns the exit status.
#ifndef VELMORA_CLI_COMMANDS_H
#define VELMORA_CLI_COMMANDS_H

#include <string>
#include <vector>

namespace velmora_cli {

int run_check(const std::vector<std::string> &args);
int run_explode(const std::vector<std::string> &args);
int run_squid_helper(const std::vector<std::string> &args);

// Prints the usage text, after the error when one is given, on standard
// error; returns the usage status.
int usage_error(const std::string &error);

} // namespace velmora_cli

#endif
