/* A plain C11 program using the umbrella header: the public interface must be
 * valid C and every function must link with C linkage from the shared object. */
#include <velmora/velmora.h>

#include <stdio.h>
#include <string.h>

int main(void)
{
    cat_t set;
    qx_ipaddr addr;
    char buf[99];
    rwlock_t lock;

    if (category_init(&set) != 0 || category_add_number(&set, 7) != 0 || category_search(&set, 7) != 0)
        return 1;
    category_destroy(&set);

    if (qxnet_aton("10.1.2.3", &addr) != 0 || qxnet_ntop(&addr, buf, sizeof buf) == NULL || strcmp(buf, "10.1.2.3") != 0)
        return 1;

    calendar_time(buf, 0);
    if (strcmp(buf, "Time not defined") != 0 || qxlog_get_type("qxd_error") != QXLOG_ERROR || current_time_len != 19)
        return 1;
    {
        qxcpuinfo placement;
        LOG_LOGFILE *channel = qxlog_get_by_type(QXLOG_MESSAGE);
        qxcpuinfo_init(&placement);
        if (placement.affinity_all != 1 || channel != NULL)
            return 1;
    }

    if (rwl_init_internal(&lock, NULL, -1) != 0 || rwl_readlock(&lock) != 0 || rwl_upgrade(&lock) != 0 ||
        rwl_writeunlock(&lock) != 0 || rwl_destroy(&lock) != 0 || rwl_readtrylock(&lock) != 22)
        return 1;

    if (file_exists("/nonexistent/velmora") != -1 || file_buffer_open("/nonexistent/velmora") != NULL)
        return 1;

    puts("c interface ok");
    return 0;
}
