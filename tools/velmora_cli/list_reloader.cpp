#include "velmora_cli/list_reloader.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "velmora/qxlog.h"

namespace velmora_cli {

namespace {

// Write end of the pipe through which the signal handler wakes the reload
// thread (one byte per signal; the thread folds bytes that pile up into one
// reload). Written only by the handler and by the destructor's stop byte.
int reload_pipe_write = -1;

constexpr char kReloadByte = 'h';
constexpr char kStopByte = 'q';

// A failed write means a full pipe, which already holds a pending wake-up:
// the byte is not needed.
void send_byte(char byte)
{
    ssize_t ignored = write(reload_pipe_write, &byte, 1);
    (void)ignored;
}

extern "C" void on_sighup(int)
{
    int saved = errno;
    send_byte(kReloadByte);
    errno = saved;
}

} // namespace

ListReloader::ListReloader(std::vector<std::string> files, int hint) : files_(std::move(files)), hint_(hint) {}

ListReloader::~ListReloader()
{
    if (thread_.joinable()) {
        stopping_.store(true);
        send_byte(kStopByte);
        thread_.join();
    }
    UrlListPtr never_taken(pending_.exchange(nullptr));
}

bool ListReloader::install()
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return false;
    fcntl(fds[1], F_SETFL, O_NONBLOCK);
    pipe_read_ = fds[0];
    reload_pipe_write = fds[1];
    struct sigaction action {};
    action.sa_handler = on_sighup;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    return sigaction(SIGHUP, &action, nullptr) == 0;
}

void ListReloader::start()
{
    thread_ = std::thread([this] { run(); });
}

UrlListPtr ListReloader::take_new_list()
{
    if (pending_.load(std::memory_order_relaxed) == nullptr)
        return nullptr;
    return UrlListPtr(pending_.exchange(nullptr, std::memory_order_acq_rel));
}

void ListReloader::run()
{
    char bytes[64];
    for (;;) {
        ssize_t n = read(pipe_read_, bytes, sizeof bytes);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || stopping_.load())
            return;
        reload();
    }
}

void ListReloader::reload()
{
    qxlog_send(QXLOG_MESSAGE, "velmora: reloading the lists\n");
    LoadResult loaded = load_lists(files_, hint_);
    if (!loaded.list) {
        qxlog_send(QXLOG_ERROR, "velmora: reload failed, the previous lists stay in use: %s\n",
                   loaded.failure.c_str());
        return;
    }
    print_load_summary(*loaded.list, files_.size(), loaded.lines_not_loaded);
    // A list loaded earlier and not yet taken is replaced by this newer one.
    UrlListPtr superseded(pending_.exchange(loaded.list.release(), std::memory_order_acq_rel));
}

} // namespace velmora_cli
