// A test helper that counts SIGTERM instead of letting it end the process,
// for the log channels' reaction to write errors.
#ifndef VELMORA_TESTS_SIGTERM_COUNTER_H
#define VELMORA_TESTS_SIGTERM_COUNTER_H

#include <csignal>
#include <cstring>

// Counts SIGTERM instead of terminating while installed.
class SigtermCounter {
public:
    SigtermCounter()
    {
        count_ = 0;
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = [](int) { count_ = count_ + 1; };
        sigaction(SIGTERM, &action, &previous_);
    }
    ~SigtermCounter() { sigaction(SIGTERM, &previous_, nullptr); }
    SigtermCounter(const SigtermCounter &) = delete;
    SigtermCounter &operator=(const SigtermCounter &) = delete;

    static int count() { return count_; }

private:
    static inline volatile sig_atomic_t count_ = 0;
    struct sigaction previous_;
};

#endif
