/* Velmora PHP Module: the library's four script functions for PHP 8.2.
 *
 * The module keeps no state between calls: no start-up, shutdown, request or
 * information callbacks, no globals, no ini entries. Every string argument is
 * used as a C text, so a string is taken up to its first NUL byte.
 *
 * Argument counts are checked by the handlers themselves: a wrong count
 * returns false (URL functions) or the empty string (secret functions) rather
 * than raising the engine's ArgumentCountError. The argument information
 * therefore declares every parameter optional, so that the engine hands any
 * call to the handler; argument type errors still come from
 * zend_parse_parameters, the engine's way. */
#include "php.h"

#include "velmora/urllist.h"
#include "velmora/urllist_action.h"
#include "velmora/urllist_explode.h"
#include "velmora/varniksecret.h"

/* Size of the texts handed between the handlers and the library. */
#define VELMORA_PHP_BUFFER_SIZE 2048

ZEND_BEGIN_ARG_WITH_RETURN_TYPE_MASK_EX(arginfo_urllist_explode, 0, 0, MAY_BE_ARRAY | MAY_BE_FALSE)
    ZEND_ARG_TYPE_INFO(0, url, IS_STRING, 0)
ZEND_END_ARG_INFO()

ZEND_BEGIN_ARG_WITH_RETURN_TYPE_MASK_EX(arginfo_urllist_check, 0, 0, MAY_BE_STRING | MAY_BE_FALSE)
    ZEND_ARG_TYPE_INFO(0, lines, IS_ARRAY, 0)
    ZEND_ARG_TYPE_INFO(0, url, IS_STRING, 0)
ZEND_END_ARG_INFO()

ZEND_BEGIN_ARG_WITH_RETURN_TYPE_INFO_EX(arginfo_varniksecret_encrypt, 0, 0, IS_STRING, 0)
    ZEND_ARG_TYPE_INFO(0, secret, IS_STRING, 0)
ZEND_END_ARG_INFO()

ZEND_BEGIN_ARG_WITH_RETURN_TYPE_INFO_EX(arginfo_varniksecret_decrypt, 0, 0, IS_STRING, 0)
    ZEND_ARG_TYPE_INFO(0, token, IS_STRING, 0)
ZEND_END_ARG_INFO()

static const char *token_type_name(UrlPart type)
{
    switch (type) {
    case UP_PROTO:
        return "scheme";
    case UP_HOST:
        return "host";
    case UP_PORT:
        return "port";
    case UP_PATH:
        return "path";
    case UP_QUERY:
        return "query";
    default:
        return "unknown";
    }
}

static void add_text_or_false(zval *array, const char *key, const char *text)
{
    if (text != NULL)
        add_assoc_string(array, key, text);
    else
        add_assoc_bool(array, key, 0);
}

/* Decomposes url in list mode (no flags, no category set, no character set)
 * into the result array; 0 when the URL cannot be decomposed. */
static zend_bool explode_url(zval *return_value, const char *url)
{
    URLLIST_EXPLODED_URL *record = urllist_explode_charset(url, NULL, 0, 0, NULL);
    zval tokens;
    zval types;

    if (record == NULL)
        return 0;
    array_init(&tokens);
    array_init(&types);
    for (const URLLIST_TOKEN *token = record->tokens; token != NULL && token->type != UP_NULL && token->item != NULL;
         ++token) {
        add_next_index_string(&tokens, token->item);
        add_next_index_string(&types, token_type_name(token->type));
    }
    array_init(return_value);
    add_assoc_zval(return_value, "tokens", &tokens);
    add_assoc_zval(return_value, "tokentypes", &types);
    add_assoc_bool(return_value, "isIP", record->isIP);
    add_assoc_bool(return_value, "isPrivateIP", record->isPrivateIP);
    add_assoc_bool(return_value, "isRootURL", record->isRootURL);
    add_text_or_false(return_value, "extension", record->fileExtension);
    add_text_or_false(return_value, "topDomain", record->topLevelDomain);
    urllist_free_urllist_exploded_url(record);
    return 1;
}

/* Loads every element of lines, in the array's order, into list as a line with
 * hint 0. Elements that are not strings are converted on a copy, so the
 * array is left as it was; lines that do not load are skipped. */
static void load_lines(URLLIST *list, HashTable *lines)
{
    zval *element;

    ZEND_HASH_FOREACH_VAL(lines, element) {
        zend_string *text = zval_get_string(element);
        if (EG(exception) != NULL) {
            zend_string_release(text);
            break;
        }
        /* The loader cuts the line in place: give it its own copy. */
        char *line = estrndup(ZSTR_VAL(text), ZSTR_LEN(text));
        zend_string_release(text);
        urllist_add_line(list, line, 0);
        efree(line);
    } ZEND_HASH_FOREACH_END();
}

/* The matching entry's text, a space and the action's short form, cut to the
 * buffer; the action is left out when the entry text leaves no room for it. */
static void describe_match(char *buffer, const char *listurl, const URLLIST_ITEM_DATA *data)
{
    size_t length = strlen(listurl);

    if (length > VELMORA_PHP_BUFFER_SIZE - 1)
        length = VELMORA_PHP_BUFFER_SIZE - 1;
    memcpy(buffer, listurl, length);
    buffer[length] = '\0';
    if (length <= VELMORA_PHP_BUFFER_SIZE - 4) {
        buffer[length] = ' ';
        buffer[length + 1] = '\0';
        urllist_action_dump_action(data, buffer + length + 1, VELMORA_PHP_BUFFER_SIZE - length - 1);
    }
}

/* Builds a throw-away list from lines, looks url up in it and stores the
 * matching entry with its action in return_value; 0 when nothing matched or
 * the list or the URL could not be made. */
static zend_bool check_url(zval *return_value, HashTable *lines, const char *url)
{
    URLLIST *list = urllist_initialize(0);
    URLLIST_EXPLODED_URL *record;
    URLLIST_ITEM_DATA *data = NULL;
    char *listurl = NULL;
    char buffer[VELMORA_PHP_BUFFER_SIZE];
    zend_bool matched = 0;

    if (list == NULL)
        return 0;
    record = urllist_explode_charset(url, NULL, 0, 0, NULL);
    if (record == NULL) {
        urllist_terminate(list);
        return 0;
    }
    load_lines(list, lines);
    if (urllist_lookup_diag(list, record, &data, &listurl) == 0 && data != NULL) {
        describe_match(buffer, listurl != NULL ? listurl : "", data);
        RETVAL_STRING(buffer);
        matched = 1;
    }
    free(listurl);
    urllist_free_urllist_exploded_url(record);
    urllist_terminate(list);
    return matched;
}

PHP_FUNCTION(urllist_explode)
{
    char *url;
    size_t url_length;

    if (ZEND_NUM_ARGS() != 1 || zend_parse_parameters(1, "s", &url, &url_length) == FAILURE)
        RETURN_FALSE;
    if (!explode_url(return_value, url))
        RETURN_FALSE;
}

PHP_FUNCTION(urllist_check)
{
    zval *lines;
    char *url;
    size_t url_length;

    if (ZEND_NUM_ARGS() != 2 || zend_parse_parameters(2, "as", &lines, &url, &url_length) == FAILURE)
        RETURN_FALSE;
    if (!check_url(return_value, Z_ARRVAL_P(lines), url))
        RETURN_FALSE;
}

typedef int (*secret_transform)(const char *input, char *output, int outputSize);

/* Both secret functions answer with the buffer's text whatever happens: the
 * empty string for a wrong call or a text that does not (un)seal. */
static void return_transformed_secret(INTERNAL_FUNCTION_PARAMETERS, secret_transform transform)
{
    char buffer[VELMORA_PHP_BUFFER_SIZE] = "";
    char *text;
    size_t text_length;

    if (ZEND_NUM_ARGS() == 1 && zend_parse_parameters(1, "s", &text, &text_length) == SUCCESS)
        transform(text, buffer, VELMORA_PHP_BUFFER_SIZE);
    RETURN_STRING(buffer);
}

PHP_FUNCTION(varniksecret_encrypt)
{
    return_transformed_secret(INTERNAL_FUNCTION_PARAM_PASSTHRU, varniksecret_encrypt);
}

PHP_FUNCTION(varniksecret_decrypt)
{
    return_transformed_secret(INTERNAL_FUNCTION_PARAM_PASSTHRU, varniksecret_decrypt);
}

static const zend_function_entry velmora_functions[] = {
    PHP_FE(urllist_explode, arginfo_urllist_explode)
    PHP_FE(urllist_check, arginfo_urllist_check)
    PHP_FE(varniksecret_encrypt, arginfo_varniksecret_encrypt)
    PHP_FE(varniksecret_decrypt, arginfo_varniksecret_decrypt)
    PHP_FE_END
};

zend_module_entry velmora_module_entry = {
    STANDARD_MODULE_HEADER,
    "Velmora PHP Module",
    velmora_functions,
    NULL, /* module start-up */
    NULL, /* module shutdown */
    NULL, /* request start-up */
    NULL, /* request shutdown */
    NULL, /* information */
    NULL, /* version */
    STANDARD_MODULE_PROPERTIES
};

ZEND_GET_MODULE(velmora)
