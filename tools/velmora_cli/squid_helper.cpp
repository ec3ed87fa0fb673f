// velmora squid-helper: answers Squid's external ACL (acl mode) or URL
// rewrite (rewrite mode) helper requests on standard input and output.
//
// A request line is "[channel-ID ]URL[ extras]"; the channel ID is present
// when Squid runs the helper with concurrency above 0, and is recognised as a
// first field made of digits followed by another field (a URL is never made
// of digits alone). The answer repeats the channel ID.
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "velmora_cli/classify.h"
#include "velmora_cli/commands.h"
#include "velmora_cli/line_server.h"
#include "velmora_cli/list_loader.h"
#include "velmora_cli/list_reloader.h"
#include "velmora_cli/options.h"

namespace velmora_cli {

namespace {

struct Request {
    const char *channel = nullptr; // NULL without concurrency
    const char *url = "";
};

bool all_digits(const char *text)
{
    if (*text == '\0')
        return false;
    for (; *text != '\0'; text++) {
        if (std::isdigit(static_cast<unsigned char>(*text)) == 0)
            return false;
    }
    return true;
}

// Cuts the next space-separated field out of *cursor (in place).
char *next_field(char **cursor)
{
    char *field = *cursor + std::strspn(*cursor, " \t");
    char *end = field + std::strcspn(field, " \t");
    *cursor = *end != '\0' ? end + 1 : end;
    *end = '\0';
    return field;
}

Request parse_request(char *line)
{
    Request request;
    char *cursor = line;
    char *first = next_field(&cursor);
    char *second = next_field(&cursor);
    if (all_digits(first) && *second != '\0') {
        request.channel = first;
        request.url = second;
    } else {
        request.url = first;
    }
    return request;
}

// Squid hands CONNECT requests over as "host:port", without a scheme; they
// are classified as https URLs of that authority.
const char *classifiable_url(const char *url, std::string &scratch)
{
    if (std::strstr(url, "://") != nullptr || std::strchr(url, '/') != nullptr || *url == '\0')
        return url;
    scratch.assign("https://").append(url).append("/");
    return scratch.c_str();
}

// A value of a Squid key=value pair, in double quotes with '"' and '\'
// escaped by a backslash.
void append_quoted(std::string &out, const char *value)
{
    out += '"';
    for (; *value != '\0'; value++) {
        if (*value == '"' || *value == '\\')
            out += '\\';
        out += *value;
    }
    out += '"';
}

bool rewrites_url(UrlAction action)
{
    return action == UA_MODQUERY || action == UA_REPLACE || action == UA_REGREPLACE;
}

class SquidHelper {
public:
    SquidHelper(UrlListPtr list, const Options &options)
        : list_(std::move(list)), classifier_(options.nocase_url), mode_(options.mode), deny_url_(options.deny_url)
    {
    }

    void use_list(UrlListPtr list) { list_ = std::move(list); }

    void answer(char *line, std::string &out)
    {
        Request request = parse_request(line);
        if (request.channel != nullptr) {
            out += request.channel;
            out += ' ';
        }
        const char *url = classifiable_url(request.url, scratch_);
        Verdict verdict = classifier_.classify(*list_, url, false);
        if (mode_ == HelperMode::acl)
            answer_acl(verdict, out);
        else
            answer_rewrite(verdict, url, out);
        out += '\n';
    }

private:
    static void answer_acl(const Verdict &verdict, std::string &out)
    {
        bool denied = verdict.data != nullptr && verdict.data->action == UA_DENY;
        out += denied ? "OK" : "ERR";
    }

    void answer_rewrite(const Verdict &verdict, const char *url, std::string &out) const
    {
        if (verdict.data == nullptr) {
            out += "ERR";
        } else if (verdict.data->action == UA_DENY) {
            out += "OK status=302 url=";
            append_quoted(out, deny_url_.c_str());
        } else if (rewrites_url(verdict.data->action)) {
            answer_rewritten(verdict, url, out);
        } else {
            out += "ERR";
        }
    }

    static void answer_rewritten(const Verdict &verdict, const char *url, std::string &out)
    {
        char *rewritten = nullptr;
        int result = urllist_action_process_action(verdict.data, nullptr, url, &rewritten, nullptr);
        MallocText owned(rewritten);
        if (result != URLLIST_RESULT_URL || !owned) {
            out += "ERR";
            return;
        }
        out += "OK rewrite-url=";
        append_quoted(out, owned.get());
    }

    UrlListPtr list_;
    Classifier classifier_;
    HelperMode mode_;
    std::string deny_url_;
    std::string scratch_;
};

} // namespace

int run_squid_helper(const std::vector<std::string> &args)
{
    Options options;
    std::string error;
    if (!parse_options(args, Accepted{.lists = true, .nocase = true, .helper = true}, options, error))
        return usage_error(error);
    if (options.lists.empty())
        return usage_error("squid-helper needs at least one list (-l LIST)");
    if (!options.urls.empty())
        return usage_error("squid-helper reads its requests from standard input, not from arguments");
    if (options.mode == HelperMode::rewrite && options.deny_url.empty())
        return usage_error("rewrite mode needs the URL denied requests are redirected to (--deny-url URL)");
    // SIGHUP is blocked first: one that arrives during the first load waits
    // for the reload thread instead of ending the helper.
    ListReloader reloader(options.lists, options.hint);
    if (!reloader.install()) {
        std::fprintf(stderr, "velmora: cannot set up the SIGHUP reload\n");
        return kExitIo;
    }
    LoadResult loaded = load_lists(options.lists, options.hint);
    if (!loaded.list) {
        std::fprintf(stderr, "velmora: %s\n", loaded.failure.c_str());
        return kExitUnreadableList;
    }
    print_load_summary(*loaded.list, options.lists.size(), loaded.lines_not_loaded);
    SquidHelper helper(std::move(loaded.list), options);
    reloader.start();
    bool served = serve_lines(
        STDIN_FILENO, STDOUT_FILENO, [&](char *line, std::string &out) { helper.answer(line, out); },
        [&] {
            if (UrlListPtr fresh = reloader.take_new_list())
                helper.use_list(std::move(fresh));
        });
    return served ? kExitOk : kExitIo;
}

} // namespace velmora_cli
