// velmora explode: decomposes URLs and prints their fields and tokens. URLs
// are taken as URLs to check, or with --list as list entries.
#include <cstdio>

#include "velmora/category.h"
#include "velmora/urllist.h"
#include "velmora_cli/commands.h"
#include "velmora_cli/options.h"

namespace velmora_cli {

namespace {

const char *type_name(UrlPart type)
{
    switch (type) {
    case UP_PROTO: return "scheme";
    case UP_HOST: return "host";
    case UP_PORT: return "port";
    case UP_PATH: return "path";
    case UP_QUERY: return "query";
    default: return "unknown";
    }
}

const char *or_none(const char *text)
{
    return text != nullptr ? text : "(none)";
}

void print_fields(const URLLIST_EXPLODED_URL *rec)
{
    std::printf("  scheme:     %s%s\n", rec->scheme, rec->scheme == wildcard ? " (none given)" : "");
    std::printf("  userinfo:   %s\n", or_none(rec->userinfo));
    std::printf("  host:       %.*s\n", rec->host_length, rec->host);
    std::printf("  port:       %d\n", rec->num_port);
    std::printf("  extension:  %s\n", or_none(rec->fileExtension));
    std::printf("  topDomain:  %s\n", or_none(rec->topLevelDomain));
    std::printf("  anchor:     %s\n", or_none(rec->anchor));
    std::printf("  flags:      isIP=%d isPrivateIP=%d isRootURL=%d hostHasBrackets=%d\n", rec->isIP,
                rec->isPrivateIP, rec->isRootURL, rec->hostHasBrackets);
    std::printf("  counts:     domains=%d paths=%d host_url_length=%d\n", rec->domains_num, rec->paths_num,
                rec->host_url_length);
}

void print_tokens(const URLLIST_EXPLODED_URL *rec)
{
    std::printf("  tokens:\n");
    for (const URLLIST_TOKEN *token = rec->tokens; token->item != nullptr; token++) {
        char hash[17];
        urllist_hash2str(&token->hash, hash, sizeof hash);
        std::printf("    %-6s  %s  %s\n", type_name(token->type), hash, token->item);
    }
}

void print_categories(const cat_t *cats)
{
    if (cats->num == 0)
        return;
    std::printf("  categories:");
    for (uint32_t i = 0; i < cats->num; i++)
        std::printf(" %u", cats->catnums[i]);
    std::printf("\n");
}

// 0 when the URL was decomposed, 1 when it was refused.
int explode_one(const char *url, bool list_mode, cat_t *cats)
{
    std::printf("%s (%s mode)\n", url, list_mode ? "list" : "check");
    category_clear(cats);
    URLLIST_EXPLODED_URL *rec = urllist_explode(url, cats, list_mode ? 0 : 1, 0);
    if (rec == nullptr) {
        std::printf("  refused\n");
        print_categories(cats);
        return 1;
    }
    print_fields(rec);
    print_tokens(rec);
    print_categories(cats);
    urllist_free_urllist_exploded_url(rec);
    return 0;
}

} // namespace

int run_explode(const std::vector<std::string> &args)
{
    Options options;
    std::string error;
    if (!parse_options(args, Accepted{.list_mode = true}, options, error))
        return usage_error(error);
    if (options.urls.empty())
        return usage_error("explode needs at least one URL");
    cat_t cats;
    if (category_init(&cats) != 0) {
        std::fprintf(stderr, "velmora: out of memory\n");
        return kExitIo;
    }
    int refused = 0;
    for (const std::string &url : options.urls)
        refused += explode_one(url.c_str(), options.list_mode, &cats);
    category_destroy(&cats);
    std::fflush(stdout);
    return refused > 0 ? kExitInvalidUrl : kExitOk;
}

} // namespace velmora_cli
