--TEST--
The module is loaded under its name and offers its four functions
--FILE--
<?php
var_dump(extension_loaded("Velmora PHP Module"));
var_dump(get_extension_funcs("Velmora PHP Module"));
foreach (get_extension_funcs("Velmora PHP Module") as $name) {
    $f = new ReflectionFunction($name);
    echo $name, ": ", $f->getNumberOfParameters(), " parameter(s), ",
        $f->getNumberOfRequiredParameters(), " required\n";
}
?>
--EXPECT--
bool(true)
array(4) {
  [0]=>
  string(15) "urllist_explode"
  [1]=>
  string(13) "urllist_check"
  [2]=>
  string(20) "varniksecret_encrypt"
  [3]=>
  string(20) "varniksecret_decrypt"
}
urllist_explode: 1 parameter(s), 0 required
urllist_check: 2 parameter(s), 0 required
varniksecret_encrypt: 1 parameter(s), 0 required
varniksecret_decrypt: 1 parameter(s), 0 required
