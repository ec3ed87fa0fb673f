--TEST--
urllist_explode() decomposes a URL in list mode into its tokens and properties
--FILE--
<?php
function show($url) {
    $r = urllist_explode($url);
    if ($r === false) {
        echo json_encode($url), ": false\n";
        return;
    }
    echo json_encode($url), ":\n";
    foreach ($r["tokens"] as $i => $token) {
        echo "  ", $r["tokentypes"][$i], " ", $token, "\n";
    }
    unset($r["tokens"], $r["tokentypes"]);
    echo "  ", json_encode($r), "\n";
}
show("http://user@Shop.EXAMPLE:8080/Docs/Page.html?a=1");
show("example.com");                       // list mode: the wildcard scheme, no port
show("http://10.1.2.3/");
show("https://[2001:db8::1]:443/x");
show("example.com\0.evil.test/path");      // a C text: it ends at the NUL
show("");
show("...");
var_dump(array_keys(urllist_explode("http://a.example/")));
?>
--EXPECT--
"http:\/\/user@Shop.EXAMPLE:8080\/Docs\/Page.html?a=1":
  scheme http
  host example
  host shop
  port 8080
  path Docs
  path Page.html
  query a=1
  {"isIP":false,"isPrivateIP":false,"isRootURL":false,"extension":"html","topDomain":"example"}
"example.com":
  scheme *
  host com
  host example
  {"isIP":false,"isPrivateIP":false,"isRootURL":true,"extension":false,"topDomain":"com"}
"http:\/\/10.1.2.3\/":
  scheme http
  host 10.1.2.3
  {"isIP":true,"isPrivateIP":true,"isRootURL":true,"extension":false,"topDomain":false}
"https:\/\/[2001:db8::1]:443\/x":
  scheme https
  host 2001:db8::1
  port 443
  path x
  {"isIP":true,"isPrivateIP":false,"isRootURL":false,"extension":false,"topDomain":false}
"example.com\u0000.evil.test\/path":
  scheme *
  host com
  host example
  {"isIP":false,"isPrivateIP":false,"isRootURL":true,"extension":false,"topDomain":"com"}
"": false
"...": false
array(7) {
  [0]=>
  string(6) "tokens"
  [1]=>
  string(10) "tokentypes"
  [2]=>
  string(4) "isIP"
  [3]=>
  string(11) "isPrivateIP"
  [4]=>
  string(9) "isRootURL"
  [5]=>
  string(9) "extension"
  [6]=>
  string(9) "topDomain"
}
