// Reloading the lists on SIGHUP. A thread of its own loads the files into a
// new list; only a fully loaded list is handed over, and the serving thread
// swaps it in between two batches of requests, so no request ever sees a
// half-loaded list. A reload that fails leaves the serving list in place.
#ifndef VELMORA_CLI_LIST_RELOADER_H
#define VELMORA_CLI_LIST_RELOADER_H

#include <pthread.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "velmora_cli/list_loader.h"

namespace velmora_cli {

class ListReloader {
public:
    ListReloader(std::vector<std::string> files, int hint);
    ListReloader(const ListReloader &) = delete;
    ListReloader &operator=(const ListReloader &) = delete;
    // Stops the reload thread (waiting for a reload under way).
    ~ListReloader();

    // Blocks SIGHUP in the calling thread and the threads it starts later,
    // so that only the reload thread takes it (a SIGHUP before start() waits
    // for it). Call before any other thread is started. False on failure.
    bool install();
    // Starts the thread that reloads on each SIGHUP.
    void start();
    // The newest completely loaded list not yet taken, or NULL; the caller
    // owns it.
    UrlListPtr take_new_list();

private:
    void run();
    void reload();

    std::vector<std::string> files_;
    int hint_;
    std::atomic<URLLIST *> pending_{nullptr};
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

} // namespace velmora_cli

#endif
