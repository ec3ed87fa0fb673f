#!/usr/bin/env python3
"""Turns the plain host and host/path rules of real block lists into URL list
lines, and derives URLs to check against them.

The lists come with the Debian package webext-ublock-origin-firefox
(EasyList, EasyPrivacy, the URLhaus malware list). Accepted rule forms:

  ||host^         -> "host U D"       (the host and its sub-domains, any scheme)
  ||host/path     -> "host/path U D"  (paths below /path on them)
  ||host/path^ and ||host/path/ the same way

The engine matches paths by whole segments: where the block list would also
match a longer last segment (||h/image- also blocks /image-1.png), the entry
here covers only /image- and what lies below it; the check URLs derived here
(the path and a segment below it) are covered under both readings.

Everything else (comments, element hiding, exceptions, options after '$',
wildcards, separators inside paths, anchors, regular expressions) is skipped
and counted by reason, not approximated.

Writes LIST (one entry per line) and URLS (one "URL expected" pair per line,
expected being D for a URL a listed rule covers and - for one none covers):
every listed host, a sub-domain of it, and a host derived from it that no
rule lists.

usage: ublock_lists.py LIST URLS [list files...]
"""
import collections
import glob
import re
import sys

DEFAULT_FILES = [
    "easylist/easylist.txt",
    "easylist/easyprivacy.txt",
    "urlhaus-filter/urlhaus-filter-online.txt",
]
ASSETS = "/usr/share/mozilla/extensions/*/uBlock0@raymondhill.net/assets/thirdparties/"

HOST = r"(?:[a-z0-9](?:[a-z0-9-]*[a-z0-9])?\.)+[a-z0-9-]*[a-z][a-z0-9-]*|\d{1,3}(?:\.\d{1,3}){3}"
HOST_RULE = re.compile(r"^\|\|(" + HOST + r")\^$")
PATH_RULE = re.compile(r"^\|\|(" + HOST + r")(/[A-Za-z0-9._~%/-]*[A-Za-z0-9._~%-])/?\^?$")


def skip_reason(rule):
    """Why a rule that is not a plain host or host/path rule is skipped."""
    if rule.startswith("!") or rule.startswith("["):
        return "comment"
    if "##" in rule or "#@#" in rule or "#?#" in rule or "#$#" in rule:
        return "element hiding"
    if rule.startswith("@@"):
        return "exception"
    if "$" in rule:
        return "options"
    if rule.startswith("/") and rule.endswith("/"):
        return "regular expression"
    if not rule.startswith("||"):
        return "not host-anchored"
    if "*" in rule:
        return "wildcard"
    return "other syntax"


def convert(files):
    entries, hosts, paths = [], [], []
    seen = set()
    skipped = collections.Counter()
    for name in files:
        with open(name, encoding="utf-8", errors="replace") as f:
            for raw in f:
                rule = raw.strip()
                if not rule:
                    continue
                m = HOST_RULE.match(rule)
                p = None if m else PATH_RULE.match(rule)
                if m is None and p is None:
                    skipped[skip_reason(rule)] += 1
                    continue
                host = (m or p).group(1)
                line = host + (p.group(2) if p else "")
                if line in seen:
                    skipped["duplicate"] += 1
                    continue
                seen.add(line)
                entries.append(line + " U D")
                (paths if p else hosts).append((host, p.group(2) if p else ""))
    return entries, hosts, paths, skipped


def check_urls(hosts, paths):
    listed = {h for h, _ in hosts}
    urls = []
    for host, _ in hosts:
        urls.append(("http://%s/" % host, "D"))
        if not re.fullmatch(r"[\d.]+", host):
            urls.append(("https://www1.%s/a/b?c=1" % host, "D"))
            unlisted = "%s.unlisted.invalid" % host.replace(".", "-")
            if unlisted not in listed:
                urls.append(("http://%s/" % unlisted, "-"))
    for host, path in paths:
        if host not in listed:
            urls.append(("http://%s%s/x" % (host, path), "D"))
    return urls


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    files = sys.argv[3:]
    if not files:
        files = [f for rel in DEFAULT_FILES for f in glob.glob(ASSETS + rel)]
        if not files:
            sys.exit("no list files: install webext-ublock-origin-firefox or name the files")
    entries, hosts, paths, skipped = convert(files)
    with open(sys.argv[1], "w") as out:
        out.write("\n".join(entries) + "\n")
    urls = check_urls(hosts, paths)
    with open(sys.argv[2], "w") as out:
        for url, expected in urls:
            out.write("%s %s\n" % (url, expected))
    print("entries: %d (%d host rules, %d host/path rules)" % (len(entries), len(hosts), len(paths)))
    print("check URLs: %d" % len(urls))
    for reason, count in skipped.most_common():
        print("skipped %-20s %d" % (reason + ":", count))


if __name__ == "__main__":
    main()
