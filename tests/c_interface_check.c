/* A plain C11 program using the umbrella header: the public interface must be
 * valid C and every function must link with C linkage from the shared object. */
#include <velmora/velmora.h>

#include <stdio.h>
#include <stdlib.h>
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
        URLLIST_ITEM_DATA data = {0, 0, UA_NONE, NULL};
        char *rewritten = NULL;
        data.action = urllist_action_parse_action("S", "http: https:", &data.action_data);
        if (data.action != UA_REPLACE ||
            urllist_action_process_action(&data, NULL, "http://h/", &rewritten, NULL) != URLLIST_RESULT_URL ||
            strcmp(rewritten, "https://h/") != 0)
            return 1;
        free(rewritten);
        urllist_action_dump_action(&data, buf, sizeof buf);
        urllist_action_data_free(&data);
        if (strcmp(buf, "S http: https:") != 0)
            return 1;
    }

    puts("c interface ok");
    return 0;
}
