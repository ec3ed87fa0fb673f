#include "velmora_cli/line_server.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace velmora_cli {

namespace {

constexpr size_t kReadSize = 64 * 1024;
// Answers gathered beyond this are written out even while input keeps coming.
constexpr size_t kOutputHighWater = 64 * 1024;

bool input_waiting(int fd)
{
    pollfd p{fd, POLLIN, 0};
    int rc;
    do {
        rc = poll(&p, 1, 0);
    } while (rc < 0 && errno == EINTR);
    return rc > 0;
}

// -1 on error, 0 at the end of the input, else the bytes read.
ssize_t read_some(int fd, char *into, size_t size)
{
    ssize_t n;
    do {
        n = read(fd, into, size);
    } while (n < 0 && errno == EINTR);
    return n;
}

void answer_line(char *begin, char *end, const LineHandler &handle, std::string &out)
{
    if (end > begin && end[-1] == '\r')
        end--;
    *end = '\0';
    handle(begin, out);
}

// Answers every complete line of [0, used) and returns where the unfinished
// rest begins.
size_t answer_complete_lines(std::vector<char> &buffer, size_t used, const LineHandler &handle, std::string &out)
{
    char *start = buffer.data();
    char *limit = start + used;
    char *line = start;
    while (char *feed = static_cast<char *>(std::memchr(line, '\n', static_cast<size_t>(limit - line)))) {
        answer_line(line, feed, handle, out);
        line = feed + 1;
    }
    return static_cast<size_t>(line - start);
}

} // namespace

bool write_all(int fd, const std::string &text)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool serve_lines(int in_fd, int out_fd, const LineHandler &handle, const BatchHook &before_batch)
{
    // One byte more than the data, for the NUL of an unfinished last line.
    std::vector<char> buffer(kReadSize + 1);
    size_t used = 0;
    std::string out;
    for (;;) {
        if (!out.empty() && (out.size() >= kOutputHighWater || !input_waiting(in_fd))) {
            if (!write_all(out_fd, out))
                return false;
            out.clear();
        }
        if (buffer.size() - used < kReadSize / 2)
            buffer.resize(buffer.size() * 2); // a line longer than the buffer
        ssize_t n = read_some(in_fd, buffer.data() + used, buffer.size() - used - 1);
        if (n <= 0) {
            if (n == 0 && used > 0) {
                before_batch();
                answer_line(buffer.data(), buffer.data() + used, handle, out);
            }
            return write_all(out_fd, out) && n == 0;
        }
        used += static_cast<size_t>(n);
        before_batch();
        size_t consumed = answer_complete_lines(buffer, used, handle, out);
        std::memmove(buffer.data(), buffer.data() + consumed, used - consumed);
        used -= consumed;
    }
}

} // namespace velmora_cli
