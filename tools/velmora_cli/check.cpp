// velmora check: classifies URLs against list files and explains the answer.
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "velmora_cli/classify.h"
#include "velmora_cli/commands.h"
#include "velmora_cli/line_server.h"
#include "velmora_cli/list_loader.h"
#include "velmora_cli/options.h"

namespace velmora_cli {

namespace {

// One answer line: URL, verdict and the governing entry's text, separated by
// tabs (short forms and entries may hold spaces). "-" stands for no entry; a
// URL that cannot be decomposed gets the verdict "invalid".
class CheckAnswers {
public:
    CheckAnswers(URLLIST &list, bool nocase_url) : list_(list), classifier_(nocase_url) {}

    void answer(const char *url, std::string &out)
    {
        Verdict verdict = classifier_.classify(list_, url);
        out += url;
        out += '\t';
        if (!verdict.valid) {
            all_valid_ = false;
            out += "invalid\t-\n";
            return;
        }
        out += classifier_.short_form(verdict);
        out += '\t';
        out += verdict.entry ? verdict.entry.get() : "-";
        out += '\n';
    }

    bool all_valid() const { return all_valid_; }

private:
    URLLIST &list_;
    Classifier classifier_;
    bool all_valid_ = true;
};

// A line of standard input holds the URL in its first field, so request logs
// in the "URL client ident method" form can be fed as they are.
char *first_field(char *line)
{
    line[std::strcspn(line, " \t")] = '\0';
    return line;
}

int answer_arguments(CheckAnswers &answers, const std::vector<std::string> &urls)
{
    std::string out;
    for (const std::string &url : urls)
        answers.answer(url.c_str(), out);
    if (!write_all(STDOUT_FILENO, out))
        return kExitIo;
    return answers.all_valid() ? kExitOk : kExitInvalidUrl;
}

int answer_standard_input(CheckAnswers &answers)
{
    bool served = serve_lines(
        STDIN_FILENO, STDOUT_FILENO, [&](char *line, std::string &out) { answers.answer(first_field(line), out); },
        [] {});
    if (!served) {
        std::fprintf(stderr, "velmora: reading or writing the URL stream failed\n");
        return kExitIo;
    }
    return answers.all_valid() ? kExitOk : kExitInvalidUrl;
}

} // namespace

int run_check(const std::vector<std::string> &args)
{
    Options options;
    std::string error;
    if (!parse_options(args, Accepted{.lists = true, .nocase = true}, options, error))
        return usage_error(error);
    if (options.lists.empty())
        return usage_error("check needs at least one list (-l LIST)");
    LoadResult loaded = load_lists(options.lists, options.hint);
    if (!loaded.list) {
        std::fprintf(stderr, "velmora: %s\n", loaded.failure.c_str());
        return kExitUnreadableList;
    }
    print_load_summary(*loaded.list, options.lists.size(), loaded.lines_not_loaded);
    CheckAnswers answers(*loaded.list, options.nocase_url);
    if (!options.urls.empty())
        return answer_arguments(answers, options.urls);
    return answer_standard_input(answers);
}

} // namespace velmora_cli
