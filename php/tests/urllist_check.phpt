--TEST--
urllist_check() reports the matching entry and its action, or false
--FILE--
<?php
$cases = [
    [["example.com U D"], "http://www.example.com/"],
    [["example.com U A"], "http://www.example.com/a"],
    [["example.com U C 12,3"], "http://example.com/"],
    [["example.com U R ^http://(.*)/$ https://\$1/"], "http://example.com/"],
    [["example.com/path U D", "example.com U A"], "http://example.com/path/x"],
    [["other.org U D"], "http://www.example.com/"],
    [[42, "example.com U D"], "http://example.com/"],
    [[], "http://example.com/"],
];
foreach ($cases as [$lines, $url]) {
    var_dump(urllist_check($lines, $url));
}
// The array given is left as it was.
$lines = [42, "example.com U D"];
urllist_check($lines, "http://example.com/");
var_dump($lines[0]);
?>
--EXPECT--
string(13) "example.com D"
string(13) "example.com A"
string(18) "example.com C 3,12"
string(40) "example.com R ^http://(.*)/$ https://$1/"
string(18) "example.com/path D"
bool(false)
string(13) "example.com D"
bool(false)
int(42)
