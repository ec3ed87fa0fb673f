--TEST--
varniksecret_decrypt() gives the empty string for text that does not unseal
--FILE--
<?php
var_dump(varniksecret_decrypt("QGBA"));
var_dump(varniksecret_decrypt(""));
var_dump(varniksecret_decrypt("hello"));
var_dump(varniksecret_decrypt("QA=="));   // a lone marker
var_dump(varniksecret_decrypt("QEA="));   // an empty frame
var_dump(varniksecret_decrypt("QGBh"));   // no closing marker
// Tokens longer than the 2048-byte buffer are read whole; the secret must
// fit the buffer with its NUL.
function seal(string $secret): string {
    $framed = "@";
    foreach (str_split($secret) as $c) {
        $framed .= chr(ord($c) ^ 1);
    }
    return strtr(base64_encode($framed . "@"), "+", "!");
}
$longest = str_repeat("y", 2047);
var_dump(strlen(seal($longest)), varniksecret_decrypt(seal($longest)) === $longest);
var_dump(varniksecret_decrypt(seal($longest . "y")));
?>
--EXPECT--
string(1) "a"
string(0) ""
string(0) ""
string(0) ""
string(0) ""
string(0) ""
int(2732)
bool(true)
string(0) ""
