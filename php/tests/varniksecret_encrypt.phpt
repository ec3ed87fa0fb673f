--TEST--
varniksecret_encrypt() seals a secret into a token that varniksecret_decrypt() unseals
--FILE--
<?php
foreach (["a", "pass", "secret", "hello world", "a?"] as $secret) {
    $token = varniksecret_encrypt($secret);
    echo json_encode($secret), " => ", $token, " => ", json_encode(varniksecret_decrypt($token)), "\n";
}

// Every byte value but NUL survives the round trip; the token never holds '+'.
$bytes = "";
for ($i = 1; $i < 256; $i++) {
    $bytes .= chr($i);
}
$token = varniksecret_encrypt($bytes);
var_dump(strpos($token, "+"), varniksecret_decrypt($token) === $bytes);

// The secret is a C text: it ends at its first NUL byte.
var_dump(varniksecret_encrypt("a\0b"));
var_dump(varniksecret_encrypt(""));

// The 2048-byte buffer holds the token of a 1531-byte secret (2044
// characters); a longer secret's token does not fit whole, so none is given.
$fits = str_repeat("x", 1531);
var_dump(strlen(varniksecret_encrypt($fits)), varniksecret_decrypt(varniksecret_encrypt($fits)) === $fits);
var_dump(varniksecret_encrypt($fits . "x"));
?>
--EXPECT--
"a" => QGBA => "a"
"pass" => QHFgcnJA => "pass"
"secret" => QHJkYnNkdUA= => "secret"
"hello world" => QGlkbW1uIXZuc21lQA== => "hello world"
"a?" => QGA!QA== => "a?"
bool(false)
bool(true)
string(4) "QGBA"
string(0) ""
int(2044)
bool(true)
string(0) ""
