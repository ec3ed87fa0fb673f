#!/usr/bin/env bash
# Builds the library and the velmora tool, then classifies the URLs given (or a
# few examples) against the example lists under examples/lists: each answer
# line shows the URL, the verdict (the action's short form, or "none") and the
# list entry that governs the URL.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/install-deps.sh
bash scripts/build.sh build >/dev/null
if [ $# -eq 0 ]; then
  set -- "http://www.example.net/" "https://docs.example.net/guide" "http://example.org/private/a" \
         "http://shop.example.com/item?id=7&utm_source=mail" "http://search.example.com/search?q=cats" \
         "http://news.example.com/today" "http://downloads.example.com/setup.exe" "http://example.com/"
fi
lists=()
for list in examples/lists/*.list; do
  lists+=(-l "$list")
done
exec build/tools/velmora check "${lists[@]}" "$@"
