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
    rwlock_t lock;

    if (category_init(&set) != 0 || category_add_number(&set, 7) != 0 || category_search(&set, 7) != 0)
        return 1;
    category_destroy(&set);

    if (qxnet_aton("10.1.2.3", &addr) != 0 || qxnet_ntop(&addr, buf, sizeof buf) == NULL || strcmp(buf, "10.1.2.3") != 0)
        return 1;

    if (rwl_init_internal(&lock, NULL, -1) != 0 || rwl_readlock(&lock) != 0 || rwl_upgrade(&lock) != 0 ||
        rwl_writeunlock(&lock) != 0 || rwl_destroy(&lock) != 0 || rwl_readtrylock(&lock) != 22)
        return 1;

    if (file_exists("/nonexistent/velmora") != -1 || file_buffer_open("/nonexistent/velmora") != NULL)
        return 1;

    if (policyevent_aton("Keywords") != 8 || strcmp(policyevent_ntoa(3), "virus") != 0)
        return 1;

    {
        KEYWORDLIST_TABLE *words = keywordlist_initialize(NULL, NULL, NULL);
        KEYWORDLIST_RESULT *found;
        if (words == NULL || keywordlist_add_keyword(words, "red+car", buf, 0, 1) != 0)
            return 1;
        found = keywordlist_lookup(words, "a/car/red", NULL, NULL);
        if (found == NULL || found->data != buf)
            return 1;
        keywordlist_terminate(words);
    }
    {
        EXTLIST_TABLE *exts = extlist_initialize(50, NULL);
        if (exts == NULL || extlist_add_item(exts, "JPG", EXTLIST_PRESENT) != 0 ||
            extlist_lookup(exts, "jpg") != EXTLIST_PRESENT)
            return 1;
        extlist_terminate(exts);
    }

    puts("c interface ok");
    return 0;
}
