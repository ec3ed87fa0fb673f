#include "velmora_cli/options.h"

#include <charconv>

namespace velmora_cli {

namespace {

// Walks the argument vector; an option's value is the next argument or the
// text after '=' (--hint=3).
class ArgReader {
public:
    explicit ArgReader(const std::vector<std::string> &args) : args_(args) {}

    bool done() const { return pos_ >= args_.size(); }
    const std::string &next() { return args_[pos_++]; }

    bool value_of(const std::string &arg, const std::string &name, std::string &value, bool &missing)
    {
        missing = false;
        if (arg == name) {
            if (done()) {
                missing = true;
                return true;
            }
            value = next();
            return true;
        }
        if (arg.size() > name.size() + 1 && arg.compare(0, name.size(), name) == 0 &&
            arg[name.size()] == '=' && name.size() > 2) {
            value = arg.substr(name.size() + 1);
            return true;
        }
        return false;
    }

private:
    const std::vector<std::string> &args_;
    size_t pos_ = 0;
};

bool parse_hint(const std::string &text, int &hint)
{
    int value = -1;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < 0 || value > 5)
        return false;
    hint = value;
    return true;
}

bool parse_mode(const std::string &text, HelperMode &mode)
{
    if (text == "acl")
        mode = HelperMode::acl;
    else if (text == "rewrite")
        mode = HelperMode::rewrite;
    else
        return false;
    return true;
}

// One option with a value: true when arg was that option (error set when its
// value is missing or wrong).
bool take_valued_option(ArgReader &reader, const std::string &arg, const Accepted &accepted, Options &options,
                        std::string &error)
{
    std::string value;
    bool missing = false;
    if (accepted.lists && reader.value_of(arg, "-l", value, missing)) {
        if (!missing)
            options.lists.push_back(value);
    } else if (accepted.lists && reader.value_of(arg, "--hint", value, missing)) {
        if (!missing && !parse_hint(value, options.hint))
            error = "--hint takes a number from 0 to 5, not '" + value + "'";
    } else if (accepted.helper && reader.value_of(arg, "--mode", value, missing)) {
        if (!missing && !parse_mode(value, options.mode))
            error = "--mode is acl or rewrite, not '" + value + "'";
    } else if (accepted.helper && reader.value_of(arg, "--deny-url", value, missing)) {
        options.deny_url = value;
    } else {
        return false;
    }
    if (missing)
        error = "option " + arg + " needs a value";
    return true;
}

bool take_flag(const std::string &arg, const Accepted &accepted, Options &options)
{
    if (accepted.nocase && arg == "--nocase-url")
        options.nocase_url = true;
    else if (accepted.list_mode && arg == "--list")
        options.list_mode = true;
    else
        return false;
    return true;
}

} // namespace

bool parse_options(const std::vector<std::string> &args, const Accepted &accepted, Options &options,
                   std::string &error)
{
    ArgReader reader(args);
    bool options_end = false;
    while (!reader.done() && error.empty()) {
        const std::string &arg = reader.next();
        if (options_end || arg.empty() || arg[0] != '-') {
            options.urls.push_back(arg);
        } else if (arg == "--") {
            options_end = true;
        } else if (!take_flag(arg, accepted, options) &&
                   !take_valued_option(reader, arg, accepted, options, error)) {
            error = "unknown option '" + arg + "'";
        }
    }
    return error.empty();
}

} // namespace velmora_cli
