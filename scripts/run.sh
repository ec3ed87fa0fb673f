#!/usr/bin/env bash
# Builds the library and its tools, then decomposes the URLs given (or a few
# examples) and prints their tokens.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/install-deps.sh
bash scripts/build.sh build >/dev/null
if [ $# -eq 0 ]; then
  set -- "http://www.example.com/" "https://user@Shop.Example.co.uk:8443/a/b/c.html?q=1#top" "http://[2001:db8::1]/x"
fi
exec build/tools/velmora_explode "$@"
