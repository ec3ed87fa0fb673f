#!/usr/bin/env bash
# The velmora Squid helper behind a real Squid: Squid, an origin server and
# curl, all on 127.0.0.1. One Squid runs the helper in acl mode (with
# concurrency channel IDs) for http_access and in rewrite mode (without) as
# its URL rewriter. Checks: an acl-denied URL is refused, a rewrite-denied URL
# is redirected, an allowed URL passes, a query-modification entry changes the
# request the origin sees, and SIGHUP reloads under traffic lose no request.
# Usage: squid_integration_test.sh PATH/TO/velmora   (exit 77: skipped)
set -uo pipefail
velmora=$1
here=$(cd "$(dirname "$0")" && pwd)
squid_bin=$(command -v squid || ls /usr/sbin/squid 2>/dev/null)
if [ -z "$squid_bin" ] || ! command -v curl >/dev/null || ! command -v python3 >/dev/null; then
  echo "squid, curl or python3 missing: skipped"
  exit 77
fi

work=$(mktemp -d)
squid_pid=
origin_pid=
traffic_pid=
cleanup() {
  for pid in $traffic_pid $origin_pid; do
    kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  done
  if [ -n "$squid_pid" ]; then
    kill -TERM "$squid_pid" 2>/dev/null
    for _ in $(seq 1 50); do kill -0 "$squid_pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$squid_pid" 2>/dev/null
    wait "$squid_pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect_eq() { [ "$2" == "$3" ] || fail "$1: expected [$2] got [$3]"; }

# Squid started as root runs as an unprivileged user: everything it reads or
# writes lives in one directory that user can use.
chmod 0755 "$work"
cp "$velmora" "$work/velmora"
chmod 0755 "$work/velmora"
effective_user=
if [ "$(id -u)" -eq 0 ]; then
  effective_user=$(id -u proxy >/dev/null 2>&1 && echo proxy || echo nobody)
fi

python3 "$here/origin_server.py" "$work/origin.port" "$work/origin.log" &
origin_pid=$!
for _ in $(seq 1 50); do [ -s "$work/origin.port" ] && break; sleep 0.1; done
origin_port=$(cat "$work/origin.port" 2>/dev/null)
[ -n "$origin_port" ] || { echo "origin server did not start"; exit 1; }
squid_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')

cat > "$work/acl.list" <<LIST
acl-denied.test U D
LIST
cat > "$work/rewrite.list" <<LIST
redirect-denied.test U D
shop.test U Q -utm_source -utm_medium
LIST
printf '127.0.0.1 allowed.test acl-denied.test redirect-denied.test shop.test late.test blocked.test\n' > "$work/hosts"
: > "$work/cache.log"
: > "$work/access.log"
chmod 0666 "$work"/*.log
chmod 0644 "$work"/*.list "$work/hosts"

{
  echo "http_port 127.0.0.1:$squid_port"
  [ -n "$effective_user" ] && echo "cache_effective_user $effective_user"
  cat <<CONF
pid_filename $work/squid.pid
cache_log $work/cache.log
access_log stdio:$work/access.log
coredump_dir $work
hosts_file $work/hosts
dns_nameservers 127.0.0.1
cache deny all
cache_mem 8 MB
netdb_filename none
pinger_enable off
shutdown_lifetime 1 second
visible_hostname velmora-test
forwarded_for delete
external_acl_type velmora ttl=0 negative_ttl=0 children-max=2 children-startup=1 concurrency=10 %URI $work/velmora squid-helper -l $work/acl.list
acl velmora_denied external velmora
acl from_loopback src 127.0.0.1
http_access deny velmora_denied
http_access allow from_loopback
http_access deny all
url_rewrite_program $work/velmora squid-helper --mode rewrite --deny-url http://blocked.test:$origin_port/blocked -l $work/rewrite.list
url_rewrite_children 2 startup=2 idle=1 concurrency=0
CONF
} > "$work/squid.conf"
chmod 0644 "$work/squid.conf"

"$squid_bin" -N -f "$work/squid.conf" >"$work/squid.out" 2>&1 &
squid_pid=$!
proxy=(curl -s -x "http://127.0.0.1:$squid_port" --max-time 10)
up=
for _ in $(seq 1 100); do
  code=$("${proxy[@]}" -o /dev/null -w '%{http_code}' "http://allowed.test:$origin_port/ready")
  [ "$code" == 200 ] && { up=1; break; }
  kill -0 "$squid_pid" 2>/dev/null || break
  sleep 0.2
done
if [ -z "$up" ]; then
  echo "squid did not come up"; cat "$work/squid.out" "$work/cache.log"
  exit 1
fi

url() { echo "http://$1:$origin_port$2"; }
status_of() { "${proxy[@]}" -o /dev/null -w '%{http_code}' "$1"; }

expect_eq "allowed URL passes" "origin:/a/b" "$("${proxy[@]}" "$(url allowed.test /a/b)")"
expect_eq "acl-denied URL refused" 403 "$(status_of "$(url acl-denied.test /x)")"
expect_eq "acl-denied sub-domain refused" 403 "$(status_of "$(url www.acl-denied.test /x)")"
redirect=$("${proxy[@]}" -o /dev/null -w '%{http_code} %{redirect_url}' "$(url redirect-denied.test /x)")
expect_eq "rewrite-denied URL redirected" "302 $(url blocked.test /blocked)" "$redirect"
expect_eq "query modification reaches the origin" "origin:/item?id=7" \
  "$("${proxy[@]}" "$(url shop.test '/item?id=7&utm_source=mail&utm_medium=x')")"
grep -qx '/item?id=7' "$work/origin.log" || fail "origin log lacks the rewritten request: $(cat "$work/origin.log")"

# SIGHUP reloads under traffic: requests run while every helper reloads its
# lists several times; none may fail, and the reloaded list takes effect.
helpers=$(ps -o pid=,args= --ppid "$squid_pid" | awk '/squid-helper/ { print $1 }')
[ "$(echo "$helpers" | wc -w)" -ge 3 ] || fail "expected three helper processes, found: $helpers"
(
  failed=0
  for i in $(seq 1 300); do
    body=$("${proxy[@]}" "$(url allowed.test "/t$i")")
    [ "$body" == "origin:/t$i" ] || failed=$((failed + 1))
  done
  echo "$failed" > "$work/traffic.failed"
) &
traffic_pid=$!
echo "late.test U D" >> "$work/acl.list"
for _ in 1 2 3 4 5; do
  for pid in $helpers; do kill -HUP "$pid" 2>/dev/null; done
  sleep 0.2
done
wait "$traffic_pid"
traffic_pid=
expect_eq "requests lost during reloads" 0 "$(cat "$work/traffic.failed")"
late=
for _ in $(seq 1 50); do
  late=$(status_of "$(url late.test /x)")
  [ "$late" == 403 ] && break
  sleep 0.1
done
expect_eq "entry added before the reload denies" 403 "$late"
for pid in $helpers; do
  kill -0 "$pid" 2>/dev/null || fail "helper $pid ended during the reloads"
done

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)"; echo "--- cache.log"; tail -30 "$work/cache.log"
  exit 1
fi
echo "squid integration checks passed"
