// Answers lines of a stream in batches: every line already waiting on the
// input is answered, and the answers are written out before the server waits
// for more input. An interactive caller sees each answer at once; a bulk
// caller does not pay one write per line.
#ifndef VELMORA_CLI_LINE_SERVER_H
#define VELMORA_CLI_LINE_SERVER_H

#include <functional>
#include <string>

namespace velmora_cli {

// Appends the answer to one line (NUL-terminated, without its line feed and
// carriage return; the handler may change it in place) to out.
using LineHandler = std::function<void(char *line, std::string &out)>;
// Runs before the lines of each batch are answered.
using BatchHook = std::function<void()>;

// Serves until the input ends (a last line without a line feed is answered
// too). Returns false when reading or writing failed.
bool serve_lines(int in_fd, int out_fd, const LineHandler &handle, const BatchHook &before_batch);

// Writes all of text; false on a write error.
bool write_all(int fd, const std::string &text);

} // namespace velmora_cli

#endif
