--TEST--
A wrong argument count gives false or the empty string; a wrong argument type is the engine's TypeError
--FILE--
<?php
var_dump(urllist_explode());
var_dump(urllist_explode("http://a.example/", "b"));
var_dump(urllist_check());
var_dump(urllist_check(["a.example"]));
var_dump(urllist_check(["a.example"], "http://a.example/", "c"));
var_dump(varniksecret_encrypt());
var_dump(varniksecret_encrypt("a", "b"));
var_dump(varniksecret_decrypt());
var_dump(varniksecret_decrypt("QGBA", "b"));

$calls = [
    fn() => urllist_explode([]),
    fn() => urllist_check("a.example", "http://a.example/"),
    fn() => urllist_check([], []),
    fn() => varniksecret_encrypt([]),
    fn() => varniksecret_decrypt(new stdClass),
];
foreach ($calls as $call) {
    try {
        $call();
        echo "no error\n";
    } catch (TypeError $e) {
        echo get_class($e), ": ", $e->getMessage(), "\n";
    }
}
?>
--EXPECT--
bool(false)
bool(false)
bool(false)
bool(false)
bool(false)
string(0) ""
string(0) ""
string(0) ""
string(0) ""
TypeError: urllist_explode(): Argument #1 ($url) must be of type string, array given
TypeError: urllist_check(): Argument #1 ($lines) must be of type array, string given
TypeError: urllist_check(): Argument #2 ($url) must be of type string, array given
TypeError: varniksecret_encrypt(): Argument #1 ($secret) must be of type string, array given
TypeError: varniksecret_decrypt(): Argument #1 ($token) must be of type string, stdClass given
