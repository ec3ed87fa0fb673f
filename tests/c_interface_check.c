/* A plain C11 program using the umbrella header: the public interface must be
 * valid C and every function must link with C linkage from the shared object. */
#include <velmora/velmora.h>

#include <stdio.h>
#include <string.h>

int main(void)
{
    cat_t set;
    qx_ipaddr addr;
    char buf[64];

    if (category_init(&set) != 0 || category_add_number(&set, 7) != 0 || category_search(&set, 7) != 0)
        return 1;
    category_destroy(&set);

    if (qxnet_aton("10.1.2.3", &addr) != 0 || qxnet_ntop(&addr, buf, sizeof buf) == NULL || strcmp(buf, "10.1.2.3") != 0)
        return 1;

    {
        void *list = iplist_init(NULL, NULL);
        int data = 1;
        if (list == NULL || iplist_add_string(list, "10.0.0.0/8", &data) != 0 ||
            iplist_find_data(list, &addr) != &data || num_active_patricia < 2)
            return 1;
        iplist_terminate(list);
    }

    puts("c interface ok");
    return 0;
}
