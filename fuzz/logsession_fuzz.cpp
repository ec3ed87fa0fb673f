// Log-session queries and filters: the first line is a client's query; it
// builds a filter, the filter string and a session of a set; every further
// line is offered to the set as a log entry. The session must take exactly
// the entries its filter passes, keep at most its capacity and hand back
// texts no longer than its buffer size. Control bytes: ring capacity and
// buffer size.
#include <cstring>

#include "fuzz_input.h"
#include "velmora/logsession.h"

namespace {

std::vector<std::string> split_lines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

void check_filter_string(const std::string &query)
{
    char *joined = logsession_filter_string(query.c_str(), "filter=", "|");
    if (joined != nullptr)
        FUZZ_CHECK(std::strlen(joined) <= query.size());
    std::free(joined);
}

void check_session(const std::vector<std::string> &lines, int max_entries, int buffer_size)
{
    const std::string &query = lines[0];
    logsession_set_t *set = logsession_set_create(0, nullptr, nullptr, nullptr, nullptr);
    FUZZ_CHECK(set != nullptr);
    FUZZ_CHECK(logsession_set_add(set, "s", query.c_str(), nullptr, max_entries, buffer_size) == 0);
    logsession_t *session = logsession_set_find(set, "s");
    FUZZ_CHECK(session != nullptr);

    uint32_t passed = 0;
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string &entry = lines[i];
        if (logsession_filter_run(session->filter, entry.c_str()) == 0)
            ++passed;
        logsession_set_insert(set, entry.c_str(), static_cast<int>(entry.size()));
    }

    logsession_sample_t *sample = logsession_set_sample(set, "s");
    FUZZ_CHECK(sample != nullptr);
    FUZZ_CHECK(sample->size <= static_cast<uint32_t>(session->max_entries));
    FUZZ_CHECK(sample->size + sample->overflow == passed);
    for (uint32_t i = 0; i < sample->size; ++i)
        FUZZ_CHECK(std::strlen(sample->entries[i]) <= static_cast<size_t>(session->buffer_size));
    logsession_sample_destroy(sample);

    FUZZ_CHECK(logsession_set_remove(set, "s") == 0);
    FUZZ_CHECK(logsession_set_get_count(set) == 0);
    logsession_set_destroy(set);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    velmora_fuzz::FuzzInput in(data, size);
    const int max_entries = in.byte() % 8;
    const int buffer_size = in.byte() % 64;
    const std::vector<std::string> lines = split_lines(in.rest_text());

    check_filter_string(lines[0]);
    logsession_filter_free(logsession_filter_create(lines[0].c_str(), "filter="));
    check_session(lines, max_entries, buffer_size);
    return 0;
}
