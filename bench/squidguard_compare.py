#!/usr/bin/env python3
"""Peer comparison: velmora squid-helper against squidGuard (Debian package
squidguard), the URL-list filter most Squid users run.

Both engines get the same rules, from two sources measured one after the
other: the real block lists (bench/ublock_lists.py: plain host rules become
domain entries, host/path rules URL entries; skipped when the lists package is
not installed) and a synthetic list of the same shape as the URL-list
benchmark's (domains, hosts below them and host/path rules). Each engine gets
the identical request stream in squidGuard's input format
"URL client-ip/fqdn ident method", the check URLs of those lists repeated to
about a million requests. Printed: the load time of each (time to answer a
single request), URLs per second of each over the whole stream (its load time
taken off) and the ratio, all measured in this one run, each the best of three.

Verdicts are compared where both engines' rules mean the same thing.
squidGuard matches URL rules as plain string prefixes (a rule host/image also
blocks /images) and strips a leading "www." from hosts; velmora matches paths by whole segments
and keeps "www." as a label. URLs on a host that has a host/path rule, and
URLs whose host begins with "www.", are therefore left out
of the agreement set, and their number is printed. The few differences left
on the real lists are sub-domains of a domain that also has a sub-domain rule
of its own (mgid.com and c.mgid.com, asked for www1.mgid.com): squidGuard
lets them pass, velmora denies them by the domain rule.

usage: squidguard_compare.py PATH/TO/velmora [REPEAT [SYNTHETIC_RULES]]
"""
import os
import re
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
# squidGuard drops this host prefix before matching.
SQUIDGUARD_STRIPPED = re.compile(r"^www\.")


def run_timed(command, input_path, output_path):
    with open(input_path, "rb") as source, open(output_path, "wb") as sink:
        start = time.monotonic()
        subprocess.run(command, stdin=source, stdout=sink, stderr=subprocess.DEVNULL, check=True)
        return time.monotonic() - start


def build_real_rules(entries, urls):
    """The real lists through ublock_lists.py; False when they are missing."""
    result = subprocess.run([sys.executable, os.path.join(HERE, "ublock_lists.py"), entries, urls],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return result.returncode == 0 and os.path.getsize(entries) > 0


RUNS = 3  # runs of each measurement; the fastest counts

TLDS = ["com", "net", "org", "de", "info", "io"]
SUBDOMAINS = ["www", "m", "cdn", "api", "img"]


def build_synthetic_rules(entries, urls, count):
    """count rules in the URL-list benchmark's shape: a third domains, a third
    hosts below other domains, a third host/path rules; for each rule a
    covered URL and one no rule covers, written like ublock_lists.py does."""
    with open(entries, "w", encoding="utf-8") as rules, open(urls, "w", encoding="utf-8") as checks:
        for k in range(count):
            domain = f"d{k}.{TLDS[k % len(TLDS)]}"
            kind = k % 3
            if kind == 0:
                rules.write(f"{domain} U D\n")
                checks.write(f"http://{domain}/index.html D\n")
                checks.write(f"https://x{domain}/a/b?c=1 -\n")
            elif kind == 1:
                host = f"{SUBDOMAINS[k % len(SUBDOMAINS)]}x.{domain}"
                rules.write(f"{host} U D\n")
                checks.write(f"https://a.{host}/a/b?c=1 D\n")
                checks.write(f"http://{domain}/p -\n")
            else:
                rules.write(f"{domain}/ads U D\n")
                checks.write(f"http://{domain}/ads/banner.gif D\n")
                checks.write(f"http://{domain}/news/today.html -\n")


def split_rules(entries):
    domains, paths = [], []
    with open(entries, encoding="utf-8") as lines:
        for line in lines:
            pattern = line.split(" ", 1)[0]
            (paths if "/" in pattern else domains).append(pattern)
    return domains, paths


def write_squidguard_config(work, domains, paths):
    db = os.path.join(work, "db", "blocked")
    os.makedirs(db)
    with open(os.path.join(db, "domains"), "w", encoding="utf-8") as out:
        out.write("\n".join(domains) + "\n")
    with open(os.path.join(db, "urls"), "w", encoding="utf-8") as out:
        out.write("\n".join(paths) + "\n")
    config = os.path.join(work, "squidguard.conf")
    with open(config, "w", encoding="utf-8") as out:
        out.write(f"""dbhome {os.path.join(work, "db")}
logdir {work}
dest blocked {{
  domainlist blocked/domains
  urllist blocked/urls
}}
acl {{
  default {{
    pass !blocked all
    redirect http://blocked.invalid/
  }}
}}
""")
    return config


def write_requests(work, urls_path, repeat):
    urls = [line.split(" ", 1)[0] for line in open(urls_path, encoding="utf-8")]
    requests = os.path.join(work, "requests")
    with open(requests, "w", encoding="utf-8") as out:
        for _ in range(repeat):
            for url in urls:
                out.write(f"{url} 127.0.0.1/- - GET\n")
    one = os.path.join(work, "one_request")
    with open(one, "w", encoding="utf-8") as out:
        out.write(f"{urls[0]} 127.0.0.1/- - GET\n")
    return urls, requests, one


def host_of(url):
    rest = url.split("://", 1)[1]
    return rest.split("/", 1)[0].split("?", 1)[0].split(":", 1)[0].lower()


def under_path_rule_host(host, path_hosts):
    labels = host.split(".")
    return any(".".join(labels[i:]) in path_hosts for i in range(len(labels)))


def compare(urls, velmora_out, squidguard_out, paths):
    path_hosts = {p.split("/", 1)[0] for p in paths}
    with open(velmora_out, encoding="utf-8") as v, open(squidguard_out, encoding="utf-8") as s:
        answers = list(zip(v, s))[: len(urls)]
    agree = differ = excluded = 0
    for url, (velmora_answer, squidguard_answer) in zip(urls, answers):
        host = host_of(url)
        if SQUIDGUARD_STRIPPED.match(host) or under_path_rule_host(host, path_hosts):
            excluded += 1
            continue
        if velmora_answer.startswith("OK") == squidguard_answer.startswith("OK"):
            agree += 1
        else:
            differ += 1
            if differ <= 5:
                print(f"  differs: {url}: velmora {velmora_answer.strip()!r}, "
                      f"squidGuard {squidguard_answer.strip()!r}")
    return agree, differ, excluded


def measure(velmora, work, name, entries, urls_path, repeat):
    domains, paths = split_rules(entries)
    config = write_squidguard_config(work, domains, paths)
    start = time.monotonic()
    subprocess.run(["squidGuard", "-c", config, "-C", "all"], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    db_build = time.monotonic() - start
    urls, requests, one = write_requests(work, urls_path, repeat)
    total = len(urls) * repeat
    engines = {
        "squidGuard": ["squidGuard", "-c", config],
        "velmora": [velmora, "squid-helper", "--mode", "rewrite",
                    "--deny-url", "http://blocked.invalid/", "-l", entries],
    }
    rates, outputs = {}, {}
    print(f"== {name} lists: {len(domains)} domains, {len(paths)} host/path URLs; "
          f"{total} requests ({len(urls)} URLs x {repeat})")
    print(f"squidGuard database build (-C all): {db_build:.2f} s")
    for engine, command in engines.items():
        outputs[engine] = os.path.join(work, engine + ".out")
        # The best of a few runs: the machine's other work only ever adds time.
        load = min(run_timed(command, one, outputs[engine]) for _ in range(RUNS))
        elapsed = min(run_timed(command, requests, outputs[engine]) for _ in range(RUNS))
        rates[engine] = total / max(elapsed - load, 1e-9)
        print(f"{engine:>10}: load {load:.3f} s, {elapsed:.2f} s for the stream, "
              f"{rates[engine]:,.0f} URLs/s")
    print(f"ratio velmora / squidGuard: {rates['velmora'] / rates['squidGuard']:.1f}")
    agree, differ, excluded = compare(urls, outputs["velmora"], outputs["squidGuard"], paths)
    print(f"verdicts: {agree} agree, {differ} differ; {excluded} URLs left out "
          f"(host begins with www. or has a host/path rule)")


def main():
    velmora = os.path.abspath(sys.argv[1])
    repeat = int(sys.argv[2]) if len(sys.argv) > 2 else 4
    synthetic_rules = int(sys.argv[3]) if len(sys.argv) > 3 else 95000
    for name in ("real", "synthetic"):
        with tempfile.TemporaryDirectory() as work:
            entries, urls = os.path.join(work, "velmora.list"), os.path.join(work, "urls")
            if name == "real" and not build_real_rules(entries, urls):
                print("== real lists: not installed (Debian package webext-ublock-origin-firefox), skipped")
                continue
            if name == "synthetic":
                build_synthetic_rules(entries, urls, synthetic_rules)
            measure(velmora, work, name, entries, urls, repeat)
    # Differences are listed for inspection; they do not fail the comparison
    # run, which measures speed.
    return 0


if __name__ == "__main__":
    sys.exit(main())
