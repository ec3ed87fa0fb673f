#include "velmora_cli/list_reloader.h"

#include <signal.h>

#include "velmora/qxlog.h"

namespace velmora_cli {

namespace {

sigset_t reload_signals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGHUP);
    return set;
}

} // namespace

ListReloader::ListReloader(std::vector<std::string> files, int hint) : files_(std::move(files)), hint_(hint) {}

ListReloader::~ListReloader()
{
    if (thread_.joinable()) {
        // The thread waits in sigwait: a SIGHUP sent to it alone wakes it to
        // see the stop flag.
        stopping_.store(true);
        pthread_kill(thread_.native_handle(), SIGHUP);
        thread_.join();
    }
    UrlListPtr never_taken(pending_.exchange(nullptr));
}

bool ListReloader::install()
{
    sigset_t set = reload_signals();
    return pthread_sigmask(SIG_BLOCK, &set, nullptr) == 0;
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
    sigset_t set = reload_signals();
    for (;;) {
        int signal = 0;
        if (sigwait(&set, &signal) != 0 || stopping_.load())
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
