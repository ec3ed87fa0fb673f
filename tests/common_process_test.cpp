#include "velmora/common.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST(Qxusleep, SleepsSecondsAndMilliseconds)
{
    auto start = Clock::now();
    qxusleep(1500);
    double slept = seconds_since(start);
    EXPECT_GE(slept, 1.5);
    EXPECT_LT(slept, 3.0);
}

struct TimespecCase {
    int seconds;
    int msecs;
};

class Qxtimespec : public ::testing::TestWithParam<TimespecCase> {};

TEST_P(Qxtimespec, IsAValidDeadlineAtTheRightDistance)
{
    const TimespecCase &c = GetParam();
    struct timespec before;
    clock_gettime(CLOCK_REALTIME, &before);
    struct timespec deadline;
    qxtimespec(&deadline, c.seconds, c.msecs);
    EXPECT_GE(deadline.tv_nsec, 0);
    EXPECT_LT(deadline.tv_nsec, 1000000000L);
    double distance = static_cast<double>(deadline.tv_sec - before.tv_sec) +
                      static_cast<double>(deadline.tv_nsec - before.tv_nsec) / 1e9;
    double wanted = c.seconds + c.msecs / 1000.0;
    EXPECT_GT(distance, wanted - 0.01);
    EXPECT_LT(distance, wanted + 0.5);
}

INSTANTIATE_TEST_SUITE_P(Offsets, Qxtimespec,
    ::testing::Values(TimespecCase{1, 0}, TimespecCase{0, 999}, TimespecCase{2, 2500}, TimespecCase{5, -200}));

// A loopback TCP server whose accept queue can be filled so that further
// connections stay pending.
class LoopbackServer {
public:
    LoopbackServer()
    {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        struct sockaddr_in addr;
        std::memset(&addr, 0, sizeof addr);
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<struct sockaddr *>(&addr), sizeof addr);
        socklen_t len = sizeof addr;
        getsockname(fd_, reinterpret_cast<struct sockaddr *>(&addr), &len);
        port_ = ntohs(addr.sin_port);
    }
    ~LoopbackServer() { close(fd_); }
    LoopbackServer(const LoopbackServer &) = delete;
    LoopbackServer &operator=(const LoopbackServer &) = delete;

    void listen_with_backlog(int backlog) { listen(fd_, backlog); }
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

TEST(Qxconnect, ConnectsToAListeningPort)
{
    LoopbackServer server;
    server.listen_with_backlog(8);
    int sock = qxconnect("127.0.0.1", server.port(), 2);
    ASSERT_GE(sock, 0);
    EXPECT_NE(fcntl(sock, F_GETFL) & O_NONBLOCK, 0) << "the socket is left non-blocking";
    close(sock);
}

TEST(Qxconnect, PortWithoutListenerFails)
{
    LoopbackServer bound_only;
    EXPECT_EQ(qxconnect("127.0.0.1", bound_only.port(), 2), -1);
}

TEST(Qxconnect, UnresolvableHostFails)
{
    EXPECT_EQ(qxconnect_nb("no-such-host.invalid", 80), -1);
    EXPECT_EQ(qxconnect_nb(nullptr, 80), -1);
    EXPECT_EQ(qxconnect_addr_nb(nullptr), -1);
}

TEST(Qxconnect, PendingConnectionTimesOutAfterTheWait)
{
    LoopbackServer server;
    server.listen_with_backlog(0);
    int filler = qxconnect("127.0.0.1", server.port(), 2); // takes the only queue slot
    ASSERT_GE(filler, 0);

    int pending = qxconnect_nb("127.0.0.1", server.port());
    ASSERT_GE(pending, 0);
    EXPECT_EQ(qxconnect_checkstatus(pending, 0), -2);
    close(pending);

    auto start = Clock::now();
    EXPECT_EQ(qxconnect("127.0.0.1", server.port(), 1), -1);
    EXPECT_GE(seconds_since(start), 0.9);
    close(filler);
}

TEST(QxconnectCheckstatus, NegativeDescriptorFails)
{
    EXPECT_EQ(qxconnect_checkstatus(-1, 1000), -1);
}

TEST(Daemonize, PointsStandardStreamsAtDevNull)
{
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        daemonize();
        struct stat null_stat;
        struct stat stream_stat;
        stat("/dev/null", &null_stat);
        for (int fd = 0; fd <= 2; fd++) {
            if (fstat(fd, &stream_stat) != 0 || stream_stat.st_rdev != null_stat.st_rdev)
                _exit(1);
        }
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(Qxcpuinfo, InitMeansNoPlacement)
{
    qxcpuinfo info;
    std::memset(&info, 0xff, sizeof info);
    qxcpuinfo_init(&info);
    EXPECT_EQ(info.affinity_all, 1);
    EXPECT_EQ(CPU_COUNT(&info.affinity_set), 0);
    EXPECT_EQ(info.priority_set, 0);
    EXPECT_EQ(info.priority, 0);
    EXPECT_EQ(info.scheduler_set, 0);
    EXPECT_EQ(info.scheduler, 0);
}

struct PlacementCase {
    int scheduler_set;
    int scheduler;
    int priority_set;
    int expected_policy;
};

class QxcpuinfoSet : public ::testing::TestWithParam<PlacementCase> {};

// Runs on a thread of its own so that the test process keeps its placement.
TEST_P(QxcpuinfoSet, AppliesPolicyOnlyWhenConfiguredWithPriority)
{
    const PlacementCase &c = GetParam();
    int policy = -1;
    std::thread worker([&] {
        qxcpuinfo info;
        qxcpuinfo_init(&info);
        info.scheduler_set = c.scheduler_set;
        info.scheduler = c.scheduler;
        info.priority_set = c.priority_set;
        EXPECT_EQ(qxcpuinfo_set(pthread_self(), &info), 0);
        struct sched_param param;
        pthread_getschedparam(pthread_self(), &policy, &param);
    });
    worker.join();
    EXPECT_EQ(policy, c.expected_policy);
}

INSTANTIATE_TEST_SUITE_P(Policies, QxcpuinfoSet,
    ::testing::Values(PlacementCase{1, 0, 1, SCHED_OTHER},   // policy 0: only the priority is set
                      PlacementCase{1, 3, 1, SCHED_BATCH},   // batch with a priority
                      PlacementCase{1, 3, 0, SCHED_OTHER},   // policy without priority: nothing
                      PlacementCase{0, 3, 1, SCHED_OTHER})); // policy not configured

TEST(Qxcpuinfo, AffinityAppliesToTheCallingThread)
{
    cpu_set_t applied;
    CPU_ZERO(&applied);
    int first_cpu = -1;
    std::thread worker([&] {
        cpu_set_t allowed;
        sched_getaffinity(0, sizeof allowed, &allowed);
        for (int cpu = 0; cpu < CPU_SETSIZE && first_cpu < 0; cpu++) {
            if (CPU_ISSET(cpu, &allowed))
                first_cpu = cpu;
        }
        qxcpuinfo info;
        qxcpuinfo_init(&info);
        info.affinity_all = 0;
        CPU_SET(first_cpu, &info.affinity_set);
        qxcpuinfo_set(pthread_self(), &info);
        sched_getaffinity(0, sizeof applied, &applied);
    });
    worker.join();
    EXPECT_EQ(CPU_COUNT(&applied), 1);
    EXPECT_TRUE(CPU_ISSET(first_cpu, &applied));
}

} // namespace
