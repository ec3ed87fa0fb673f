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
    {
        char line[] = "a b";
        char **pieces = string_explode(line, ' ');
        intarray *array = intarray_create(1, 2, 1);
        if (pieces == NULL || strcmp(pieces[1], "b") != 0 || array == NULL || intarray_insert(array, 1, line) != 0)
            return 1;
        free(pieces);
        intarray_destroy(array);
        if (base64_encode("abc", buf, sizeof buf) != 4 || strcmp(buf, "YWJj") != 0)
            return 1;
    }

    if (rwl_init_internal(&lock, NULL, -1) != 0 || rwl_readlock(&lock) != 0 || rwl_upgrade(&lock) != 0 ||
        rwl_writeunlock(&lock) != 0 || rwl_destroy(&lock) != 0 || rwl_readtrylock(&lock) != 22)
        return 1;

    if (file_exists("/nonexistent/velmora") != -1 || file_buffer_open("/nonexistent/velmora") != NULL)
        return 1;

    {
        logsession_set_t *sessions = logsession_set_create(1, NULL, NULL, NULL, NULL);
        logsession_sample_t *sample;
        if (sessions == NULL || logsession_set_add(sessions, "s", "filter=x", NULL, 2, 10) != 0)
            return 1;
        logsession_set_insert(sessions, "x1\n", 3);
        sample = logsession_set_sample(sessions, "s");
        if (sample == NULL || sample->size != 1 || strcmp(sample->entries[0], "x1\n") != 0)
            return 1;
        logsession_sample_destroy(sample);
        logsession_set_destroy(sessions);
        if (qxlog_force_rotate != 0 || qxlog_logsession_destroy("qxd_error", "s") != 1)
            return 1;
    }

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

    {
        const char *url = "http://www.Example.com:8080/a/b.html?q=1";
        URLLIST_EXPLODED_URL *rec = urllist_explode_charset(url, NULL, 1, 0, NULL);
        myhash_t h;
        if (rec == NULL || rec->domains_num != 3 || rec->num_port != 8080 || strcmp(rec->fileExtension, "html") != 0)
            return 1;
        if (rec->tokens[0].type != UP_PROTO || urllist_hash(rec->scheme, 4, &h) != 0 || h.city != rec->scheme_hash.city)
            return 1;
        if (urllist_hash2str(&wildcard_hash, buf, sizeof buf) != 0 || strcmp(buf, "5b91f9d796555833") != 0)
            return 1;
        urllist_free_urllist_exploded_url(rec);
    }

    if (varniksecret_encrypt("a", buf, sizeof buf) != 3 || strcmp(buf, "QGBA") != 0)
        return 1;
    if (varniksecret_decrypt("QGBA", buf, sizeof buf) != 1 || strcmp(buf, "a") != 0)
        return 1;

    {
        void *list = iplist_init(NULL, NULL);
        int data = 1;
        if (list == NULL || iplist_add_string(list, "10.0.0.0/8", &data) != 0 ||
            iplist_find_data(list, &addr) != &data || num_active_patricia < 2)
            return 1;
        iplist_terminate(list);
    }

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

    {
        URLLIST *ul = urllist_initialize(URLLIST_NO_DEFAULT);
        URLLIST_EXPLODED_URL *rec = urllist_explode("http://h.com/a?b=1", NULL, 0, 0);
        URLLIST_ITEM_DATA *data = urllist_new_urllist_item_data(-1, UA_DENY, NULL);
        URLLIST_ITEM *copy = NULL;
        if (ul == NULL || rec == NULL || data == NULL ||
            urllist_add_to_tree(&ul->root, rec, 0, data, 1, 0, 0) != 0 || data->refcount != 1 ||
            urllist_clone_urllist_item(ul->root.child, &copy) != 0 || data->refcount != 2)
            return 1;
        urllist_terminate_urllist_item(copy);
        urllist_free_urllist_exploded_url(rec);
        urllist_terminate(ul);
    }

    {
        char lines[] = "port 8080\nname velmora";
        void *config = config_configuration_create();
        char *name = NULL;
        int port = 0;
        if (config == NULL || config_configuration_add_lines(config, lines) != 0 ||
            config_parse_string(config, "name", &name) != 0 || strcmp(name, "velmora") != 0 ||
            config_parse_int(config, "port", &port) != 0 || port != 8080)
            return 1;
        free(name);
        config_configuration_free(config);
    }

    {
        URLLIST *ul = urllist_initialize(URLLIST_LOCKING);
        char *pending = NULL;
        int pending_size = 0;
        URLLIST_EXPLODED_URL *rec = urllist_explode_charset("http://www.h.com/x", NULL, 1, 0, NULL);
        URLLIST_ITEM_DATA *found = NULL;
        char *entry = NULL;
        if (ul == NULL || rec == NULL || urllist_add_buffer(ul, "h.com U D\n", &pending, &pending_size, 0) != 0 ||
            urllist_lookup_diag(ul, rec, &found, &entry) != 0 || found->action != UA_DENY ||
            strcmp(entry, "h.com") != 0)
            return 1;
        free(entry);
        free(pending);
        urllist_free_urllist_exploded_url(rec);
        urllist_terminate(ul);
    }

    puts("c interface ok");
    return 0;
}
