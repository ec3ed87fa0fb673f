#!/usr/bin/env bash
# Behaviour of the velmora command: exit statuses, answers, reports of lines
# that load nothing, streaming in batches, the Squid helper protocols and
# reloading on SIGHUP. Usage: velmora_cli_test.sh PATH/TO/velmora
set -uo pipefail
velmora=$1
work=$(mktemp -d)
helper_pid=
cleanup() {
  [ -n "$helper_pid" ] && kill "$helper_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect_eq() { # what expected actual
  [ "$2" == "$3" ] || fail "$1: expected [$2] got [$3]"
}
expect_contains() { # what needle haystack
  [[ "$3" == *"$2"* ]] || fail "$1: [$2] not in [$3]"
}

cat > "$work/deny.list" <<'LIST'
# comment lines and empty lines load nothing and are not reported

example.net U D
docs.example.net U A
shop.example.com U Q -utm_source
http://old.example.com U S old.example.com new.example.com
news.example.com U C 12,40
/(casino|poker)/ R D
LIST

# ---- exit statuses --------------------------------------------------------
status_of() { "$velmora" "$@" >/dev/null 2>&1 </dev/null; echo $?; }
while IFS='|' read -r expected args; do
  eval "set -- $args"
  expect_eq "exit status of '$args'" "$expected" "$(status_of "$@")"
done <<TABLE
1|
1|frobnicate
1|check
1|check -l
1|check -l $work/deny.list --hint 9
1|check -l $work/deny.list --bogus
1|squid-helper -l $work/deny.list --mode rewrite
1|squid-helper -l $work/deny.list --mode proxy
1|explode
2|check -l $work/missing.list http://a.b/
2|check -l $work http://a.b/
2|check -l $work/deny.list -l $work/missing.list http://a.b/
2|squid-helper -l $work/missing.list
0|check -l $work/deny.list http://a.b/ http://example.net/
3|check -l $work/deny.list http://a.b/ not-a-url
0|explode http://a.b/c
0|explode --list a.b/c
3|explode not-a-url
TABLE

err=$("$velmora" check -l "$work/missing.list" http://a.b/ 2>&1 >/dev/null)
expect_contains "unreadable list message" "cannot read list '$work/missing.list'" "$err"

# ---- answers: URL, verdict, governing entry -------------------------------
out=$("$velmora" check -l "$work/deny.list" http://www.example.net/a https://docs.example.net/ \
  "http://shop.example.com/?utm_source=x" http://old.example.com/ http://news.example.com/ \
  http://poker.example.com/ http://example.com/ nonsense 2>/dev/null)
expected=$(printf '%s\t%s\t%s\n' \
  http://www.example.net/a D example.net \
  https://docs.example.net/ A docs.example.net \
  "http://shop.example.com/?utm_source=x" "Q -utm_source" shop.example.com \
  http://old.example.com/ "S old.example.com new.example.com" http://old.example.com \
  http://news.example.com/ "C 12,40" news.example.com \
  http://poker.example.com/ D "/(casino|poker)/" \
  http://example.com/ none - \
  nonsense invalid -)
expect_eq "answers" "$expected" "$out"

out=$("$velmora" check -l "$work/deny.list" HTTP://WWW.EXAMPLE.NET/A 2>/dev/null)
expect_eq "host case folded" "$(printf 'HTTP://WWW.EXAMPLE.NET/A\tD\texample.net')" "$out"
echo "paths.test/private U D" > "$work/path.list"
out=$("$velmora" check -l "$work/path.list" http://paths.test/PRIVATE 2>/dev/null)
expect_eq "path case kept" "$(printf 'http://paths.test/PRIVATE\tnone\t-')" "$out"
out=$("$velmora" check -l "$work/path.list" --nocase-url http://paths.test/PRIVATE 2>/dev/null)
expect_eq "--nocase-url" "$(printf 'http://paths.test/PRIVATE\tD\tpaths.test/private')" "$out"

# Standard input: the first field is the URL, a carriage return is dropped,
# a last line without a line feed is answered.
out=$(printf 'http://example.net/ 127.0.0.1/- - GET\r\nhttp://example.com/' |
  "$velmora" check -l "$work/deny.list" 2>/dev/null)
expect_eq "standard input answers" "$(printf 'http://example.net/\tD\texample.net\nhttp://example.com/\tnone\t-')" "$out"

# ---- lines that load nothing ----------------------------------------------
cat > "$work/bad.list" <<'LIST'
good.example U D
bad.example U X
lonely-field
cats.example U C words
/unclosed(/ R D
LIST
err=$("$velmora" check -l "$work/bad.list" http://good.example/ 2>&1 >/dev/null)
for report in "bad.list:2: not loaded: bad.example U X" "bad.list:3: not loaded: lonely-field" \
              "bad.list:4: not loaded: cats.example U C words" "bad.list:5: not loaded: /unclosed(/ R D" \
              "loaded 1 of 4 entries from 1 list: url 1/1, regexp 0/1" "4 lines not loaded"; do
  expect_contains "failed-line report" "$report" "$err"
done
[[ "$err" == *"bad.list:1:"* ]] && fail "a loaded line was reported: $err"
expect_contains "library reason" "unknown action 'X'" "$err"

# ---- streaming: each answer arrives before the input ends ------------------
read_answer() { # fd -> line (fails after 5 s)
  local line
  IFS= read -r -t 5 line <&"$1" || return 1
  printf '%s' "$line"
}
coproc CHECK { exec "$velmora" check -l "$work/deny.list" 2>/dev/null; }
# bash unsets the coprocess variables once it reaps the process: keep them.
check_pid=$CHECK_PID
echo "http://example.net/" >&"${CHECK[1]}"
expect_eq "first streamed answer" "$(printf 'http://example.net/\tD\texample.net')" "$(read_answer "${CHECK[0]}")"
echo "http://example.com/" >&"${CHECK[1]}"
expect_eq "second streamed answer" "$(printf 'http://example.com/\tnone\t-')" "$(read_answer "${CHECK[0]}")"
exec {CHECK[1]}>&-
wait "$check_pid"
expect_eq "streaming exit status" 0 "$?"

# Bulk input is answered in batches: far fewer writes than answers (only
# where strace can trace).
for i in $(seq 1 20000); do echo "http://host$i.example.net/p"; done > "$work/urls"
if strace -f -e trace=write -o "$work/strace" true 2>/dev/null; then
  # LeakSanitizer cannot run under ptrace.
  ASAN_OPTIONS=detect_leaks=0 strace -f -e trace=write -o "$work/strace" "$velmora" check -l "$work/deny.list" \
    < "$work/urls" > "$work/answers" 2>/dev/null
  writes=$(grep -c '^[0-9]* *write(1,' "$work/strace")
  [ "$writes" -lt 200 ] || fail "20000 answers took $writes writes"
else
  "$velmora" check -l "$work/deny.list" < "$work/urls" > "$work/answers" 2>/dev/null
fi
expect_eq "bulk answer count" 20000 "$(grep -c $'\tD\texample.net$' "$work/answers")"

# ---- Squid helper protocols -----------------------------------------------
helper_answers() { # mode-args... ; requests on stdin
  "$velmora" squid-helper -l "$work/deny.list" "$@" 2>/dev/null
}
out=$(printf '%s\n' "http://example.net/" "http://example.com/ 127.0.0.1/- - GET" "https://docs.example.net/" \
  "example.net:443" "nonsense" | helper_answers --mode acl)
expect_eq "acl answers" "$(printf '%s\n' OK ERR ERR OK ERR)" "$out"
out=$(printf '%s\n' "0 http://example.net/ 127.0.0.1/- - GET" "17 http://example.com/" | helper_answers)
expect_eq "acl answers with channel IDs" "$(printf '%s\n' "0 OK" "17 ERR")" "$out"
out=$(printf '%s\n' "http://www.example.net/x 127.0.0.1/- - GET" "http://shop.example.com/a?id=1&utm_source=m" \
  "3 http://old.example.com/p" "4 http://example.com/" "http://news.example.com/" |
  helper_answers --mode rewrite --deny-url 'http://block.example/?why="deny"')
expected=$(printf '%s\n' 'OK status=302 url="http://block.example/?why=\"deny\""' \
  'OK rewrite-url="http://shop.example.com/a?id=1"' '3 OK rewrite-url="http://new.example.com/p"' '4 ERR' 'ERR')
expect_eq "rewrite answers" "$expected" "$out"

# ---- SIGHUP reload ----------------------------------------------------------
cp "$work/deny.list" "$work/live.list"
coproc HELPER { exec "$velmora" squid-helper -l "$work/live.list" 2>"$work/helper.err"; }
helper_pid=$HELPER_PID
ask() { echo "$1" >&"${HELPER[1]}"; read_answer "${HELPER[0]}"; }
expect_eq "before reload" ERR "$(ask http://example.com/)"
echo "example.com U D" >> "$work/live.list"
kill -HUP "$helper_pid"
answer=ERR
for _ in $(seq 1 50); do
  answer=$(ask http://example.com/)
  [ "$answer" == OK ] && break
  sleep 0.1
done
expect_eq "after reload" OK "$answer"
rm "$work/live.list"
kill -HUP "$helper_pid"
for _ in $(seq 1 50); do
  grep -q "reload failed" "$work/helper.err" && break
  sleep 0.1
done
expect_contains "failed reload logged" "reload failed, the previous lists stay in use: cannot read list" \
  "$(cat "$work/helper.err")"
expect_eq "old list serves after a failed reload" OK "$(ask http://example.com/)"
exec {HELPER[1]}>&-
wait "$helper_pid"
expect_eq "helper exit status" 0 "$?"
helper_pid=

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "all velmora command checks passed"
