#!/usr/bin/python3
"""Checks a running service's side of the link door against its contract
(docs/operators.md, "The link's state"), over real HTTP, and prints one line
per check and then "N passed, M failed, K skipped".

    check-link-service.py BASE_URL --issue CMD [--second BASE_URL]
        [--issue-short CMD --max-age S] [--host-header NAME]

BASE_URL is where the service answers /link/report and /link/state (a path
in it is kept: https://www.example.com/game/ checks /game/link/report).
--issue CMD is a shell command that prints the JSON {"link": ..., "watch": ...}
of a fresh link whose state the service keeps, as its backend issues one for
a signed-in player. --second names another process (or web server) of the
same service: reports then go to BASE_URL and the states are read from the
second, and a report to one wakes waits on both.

The lifetimes take a link whose state lives only seconds: --issue-short CMD
issues one (e.g. the issue command with "--ttl 1 --max-age 2") and --max-age
is that max age; the checker then waits until the link's exp plus it (a few
seconds, beside the other checks) and checks that only the pending link is
gone. Without --issue-short those checks are skipped, as are the long-wait
checks of a service whose state carries no Vantorima-Wait header (it offers
no long waiting).

One request is held the whole of Vantorima-Wait (30 s), beside the other
checks, so that a proxy in front that cuts it shows: a run takes that long.

Exit status: 0 when nothing failed, 1 when something did, 2 for a bad
command line or a link that cannot be issued. Nothing follows a redirect.
"""

import argparse
import base64
import concurrent.futures
import http.client
import json
import os
import re
import select
import ssl
import subprocess
import sys
import threading
import time
import urllib.parse

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(TOP, "service"))
WATCH = re.compile(r"[A-Za-z0-9_-]{43}")
WRONG_HOST = "vantorima-checker.invalid"
# A report wakes a waiting page within this much.
WAKE_MS = 100
# Most seconds the checker waits for any one answer, and for a pending
# link's state to expire (beyond that the lifetimes are not checked).
TIMEOUT = 40
LONGEST_LIFETIME = 20
# Slack for a store that keeps whole seconds and for the two clocks.
SLACK = 1.2


def outcome_words():
    """Every word a page may read (the package's list, which make test
    holds against the launcher's and the page's)."""
    from vantorima_service import outcomes  # the package's list alone: nothing else loads

    return set(outcomes.WORDS)


class Reply:
    def __init__(self, status, headers, body, took):
        self.status, self.headers, self.body, self.took = status, headers, body, took

    def header(self, name):
        return self.headers.get(name.lower(), "")

    def __str__(self):
        return "%d %r" % (self.status, self.body[:60])


class Service:
    """One base URL, asked with a fresh connection per request."""

    def __init__(self, url, host_header):
        parts = urllib.parse.urlsplit(url)
        if parts.scheme not in ("http", "https") or not parts.hostname:
            raise ValueError("not an http(s) URL: %s" % url)
        self.https = parts.scheme == "https"
        self.address = (parts.hostname, parts.port or (443 if self.https else 80))
        self.prefix = parts.path.rstrip("/")
        self.host = host_header or parts.netloc
        self.url = url

    def connect(self, timeout):
        if self.https:
            return http.client.HTTPSConnection(*self.address, timeout=timeout, context=ssl.create_default_context())
        return http.client.HTTPConnection(*self.address, timeout=timeout)

    def request(self, method, path, body=None, headers=(), host=True, timeout=TIMEOUT, chunked=False):
        """host: True for the service's own name, None for no Host, or a name."""
        connection = self.connect(timeout)
        started = time.monotonic()
        try:
            connection.putrequest(method, self.prefix + path, skip_host=True, skip_accept_encoding=True)
            if host is not None:
                connection.putheader("Host", self.host if host is True else host)
            for name, value in headers:
                connection.putheader(name, value)
            if chunked:
                connection.putheader("Transfer-Encoding", "chunked")
            elif body is not None or method == "POST":
                connection.putheader("Content-Length", str(len(body or b"")))
            connection.endheaders()
            if body:
                # A service may refuse a large body before reading it: its
                # answer counts, not the write it cut short.
                if len(body) > 65536 and select.select([connection.sock], [], [], 0.3)[0]:
                    body = None
                try:
                    if body and chunked:
                        for at in range(0, len(body), 65536):
                            piece = body[at:at + 65536]
                            connection.send(b"%x\r\n%s\r\n" % (len(piece), piece))
                        connection.send(b"0\r\n\r\n")
                    elif body:
                        connection.send(body)
                except OSError:
                    pass
            reply = connection.getresponse()
            content = reply.read()
            return Reply(reply.status, {k.lower(): v for k, v in reply.getheaders()}, content,
                         time.monotonic() - started)
        finally:
            connection.close()


class Link:
    def __init__(self, text):
        answer = json.loads(text)
        if not isinstance(answer, dict) or not isinstance(answer.get("link"), str):
            raise ValueError("no \"link\" in %r" % text[:200])
        self.text = answer["link"]
        self.watch = answer.get("watch")
        query = urllib.parse.parse_qs(urllib.parse.urlsplit(self.text).query)
        self.nonce = query.get("nonce", [""])[0]
        exp = query.get("exp", [""])[0]
        if not re.fullmatch(r"[0-9a-fA-F]{16,64}", self.nonce) or not exp.isdigit():
            raise ValueError("no nonce or exp in the link %r" % self.text[:200])
        self.exp = int(exp)


class Checker:
    def __init__(self, args):
        self.first = Service(args.base_url, args.host_header)
        self.second = Service(args.second, args.host_header) if args.second else None
        self.states = self.second or self.first
        self.args = args
        self.counts = {"ok": 0, "FAIL": 0, "skip": 0}
        self.lock = threading.Lock()
        self.words = outcome_words()
        self.wait_header = None

    # -- results
    def result(self, kind, name, detail=""):
        with self.lock:
            self.counts[kind] += 1
            print("%-4s %s%s" % (kind, name, ": " + detail if detail else ""), flush=True)

    def check(self, name, passed, detail=""):
        self.result("ok" if passed else "FAIL", name, "" if passed else detail)
        return passed

    def skip(self, name, why):
        self.result("skip", name, why)

    # -- requests
    def issue(self, command):
        made = subprocess.run(command, shell=True, stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
        if made.returncode != 0:
            raise RuntimeError("the issue command exited with %d: %s" % (
                made.returncode, made.stderr.decode(errors="replace").strip()[-300:]))
        lines = [line for line in made.stdout.decode(errors="replace").splitlines() if line.strip()]
        if not lines:
            raise RuntimeError("the issue command printed nothing")
        return Link(lines[-1])

    def fresh(self, count, command=None):
        with concurrent.futures.ThreadPoolExecutor(count) as pool:
            return list(pool.map(lambda _: self.issue(command or self.args.issue), range(count)))

    def report(self, nonce, outcome, service=None, content_type="application/x-www-form-urlencoded", **options):
        body = urllib.parse.urlencode({"nonce": nonce, "outcome": outcome, "version": "1.0.0.2"}).encode()
        headers = [("Content-Type", content_type)] + list(options.pop("headers", []))
        return (service or self.first).request("POST", "/link/report", body, headers, **options)

    def state(self, link, watch=True, service=None, extra="", **options):
        """The state of a Link, or of a bare nonce with watch given."""
        query = {"nonce": link.nonce if isinstance(link, Link) else link}
        watch = link.watch if watch is True else watch
        if watch is not None:
            query["watch"] = watch
        path = "/link/state?" + urllib.parse.urlencode(query) + extra
        return (service or self.states).request("GET", path, **options)

    def word(self, link):
        reply = self.state(link)
        return reply.body.decode(errors="replace") if reply.status == 200 else "(%d)" % reply.status

    def guarded(self, group, checks, *links):
        """A service that stops answering fails the rest of that group."""
        try:
            checks(*links)
        except (OSError, http.client.HTTPException) as error:
            self.check("%s: the service answers" % group, False, "%s: %s" % (type(error).__name__, error))

    # -- the checks
    def check_links(self, a, b):
        self.check("issue: the watch token is 32 random bytes, URL-safe base64 (43 characters)",
                   isinstance(a.watch, str) and WATCH.fullmatch(a.watch) is not None
                   and len(base64.urlsafe_b64decode(a.watch + "=")) == 32, "watch %r" % (a.watch,))
        self.check("issue: the watch token is not in the link", not a.watch or a.watch not in a.text)
        self.check("issue: two links, two nonces and two watch tokens",
                   a.nonce != b.nonce and a.watch != b.watch, "%s/%s" % (a.nonce, b.nonce))

    def check_state(self, link, other):
        for service in filter(None, (self.first, self.second)):
            where = " (%s)" % service.url if self.second else ""
            reply = self.state(link, service=service)
            self.check("state: an issued link is 200, text/plain, no-store, exactly \"pending\"" + where,
                       reply.status == 200 and reply.body == b"pending"
                       and reply.header("content-type").split(";")[0].strip() == "text/plain"
                       and "no-store" in reply.header("cache-control"),
                       "%s, Content-Type %r, Cache-Control %r" % (
                           reply, reply.header("content-type"), reply.header("cache-control")))
            if service is self.first:
                self.wait_header = reply.header("vantorima-wait")
        reply = self.state(link.nonce.upper(), watch=link.watch)
        self.check("state: the nonce is read without case", reply.status == 200 and reply.body == b"pending",
                   str(reply))
        unknown = os.urandom(16).hex()
        reply = self.state(unknown, watch=link.watch)
        self.check("state: an unknown nonce is 404, no-store",
                   reply.status == 404 and "no-store" in reply.header("cache-control"),
                   "%s, Cache-Control %r" % (reply, reply.header("cache-control")))
        for name, bad in (("empty", ""), ("not hex", "xyz"), ("of 15 digits", "0" * 15), ("of 65 digits", "a" * 65),
                          ("with a NUL", link.nonce + "\0"), ("with a quote", link.nonce + "'")):
            reply = self.state(bad, watch=link.watch)
            self.check("state: a nonce %s is 4xx" % name, 400 <= reply.status < 500, str(reply))
        for name, watch in (("a wrong", base64.urlsafe_b64encode(os.urandom(32)).rstrip(b"=").decode()),
                            ("no", None), ("another link's", other.watch), ("an empty", "")):
            reply = self.state(link, watch=watch)
            self.check("watch: %s watch token is 404, no-store" % name,
                       reply.status == 404 and "no-store" in reply.header("cache-control"), str(reply))

    def check_reports(self, link, used, upper):
        reply = self.report(link.nonce, "installing")
        self.check("report: 204 without a body, no Location, no cookie",
                   reply.status == 204 and not reply.body and not reply.header("location")
                   and not reply.header("set-cookie"), "%s, Location %r" % (reply, reply.header("location")))
        self.check("report: the state shows it", self.word(link) == "installing", self.word(link))
        # Every word the launcher sends, a later report replacing an earlier one.
        launcher_words = sorted(self.words - {"pending", "refused:used"}, key=lambda w: (w == "started", w))
        wrong = [(w, self.word(link)) for w in launcher_words
                 if self.report(link.nonce, w).status != 204 or self.word(link) != w]
        self.check("report: each of the launcher's %d words replaces the one before" % len(launcher_words),
                   not wrong and launcher_words, "; ".join("%s shows %s" % pair for pair in wrong[:5]))
        self.report(link.nonce, "refused:used")
        self.check("report: refused:used does not replace started", self.word(link) == "started", self.word(link))
        self.report(used.nonce, "installing")
        self.report(used.nonce, "refused:used")
        self.check("report: refused:used does not replace installing", self.word(used) == "installing",
                   self.word(used))
        self.report(upper.nonce.upper(), "refused:used")
        self.check("report: refused:used replaces pending; the nonce is read without case",
                   self.word(upper) == "refused:used", self.word(upper))
        for name, outcome, content_type in (
                ("an unknown word", "exploded", None), ("\"pending\"", "pending", None),
                ("a word too long", "refused:" + "x" * 40, None), ("an empty word", "", None),
                ("another content type", "failed", "text/plain"), ("JSON", "failed", "application/json")):
            reply = self.report(link.nonce, outcome, content_type=content_type or "application/x-www-form-urlencoded")
            self.check("report: %s is answered 204 and not recorded" % name,
                       reply.status == 204 and self.word(link) == "started", "%s, state %s" % (reply, self.word(link)))
        unknown = os.urandom(16).hex()
        reply = self.report(unknown, "started")
        self.check("report: an unknown nonce is answered 204 and makes no state",
                   reply.status == 204 and self.state(unknown, watch=link.watch).status == 404, str(reply))

    def check_redirects(self, link):
        cookies = [("Cookie", "sessionid=checker; csrftoken=checker"), ("Origin", "null")]
        reply = self.report(link.nonce, "installing", headers=cookies)
        self.check("report: with a session cookie and no CSRF token, still 204, recorded",
                   reply.status == 204 and not reply.header("location") and self.word(link) == "installing",
                   "%s, Location %r, state %s" % (reply, reply.header("location"), self.word(link)))
        body = urllib.parse.urlencode({"nonce": link.nonce, "outcome": "renewing", "version": "1.0.0.2"}).encode()
        reply = self.first.request("POST", "/link/report/", body,
                                   [("Content-Type", "application/x-www-form-urlencoded")])
        self.check("report: /link/report/ (a trailing slash) is not redirected",
                   not 300 <= reply.status < 400 and not reply.header("location"),
                   "%s, Location %r" % (reply, reply.header("location")))
        big = b"nonce=" + link.nonce.encode() + b"&outcome=started&version=1.0.0.2&pad=" + b"x" * (1 << 20)
        for chunked in (False, True):
            reply = self.first.request("POST", "/link/report", big,
                                       [("Content-Type", "application/x-www-form-urlencoded")], chunked=chunked)
            # A chunked body may be refused as such (411).
            self.check("report: a body of 1 MiB%s is 413 and not recorded" % (" (chunked)" if chunked else ""),
                       reply.status in ((413, 411) if chunked else (413,)) and self.word(link) != "started",
                       "%s, state %s" % (reply, self.word(link)))

    def check_hosts(self, link):
        for name, host in (("a wrong Host", WRONG_HOST), ("no Host", None)):
            reply = self.state(link, host=host, service=self.first)
            self.check("host: the state with %s is 4xx" % name, 400 <= reply.status < 500, str(reply))
            reply = self.report(link.nonce, "started", host=host)
            self.check("host: a report with %s is 4xx and not recorded" % name,
                       400 <= reply.status < 500 and self.word(link) == "pending",
                       "%s, state %s" % (reply, self.word(link)))
            reply = self.first.request("POST", "/link", b"", host=host)
            self.check("host: POST /link with %s is 4xx" % name, 400 <= reply.status < 500, str(reply))
        reply = self.first.request("GET", "/link")
        self.check("link: GET /link issues nothing (not 2xx)", not 200 <= reply.status < 300, str(reply))

    def check_waiting(self, link, quiet):
        try:
            most = int(self.wait_header)
        except (TypeError, ValueError):
            most = None
        names = ["wait: %s" % n for n in ("Vantorima-Wait is 1 to 30", "after another word answers at once",
                                          "a report wakes the waits within %d ms" % WAKE_MS,
                                          "a wait ends by itself after its seconds", "a wrong watch is 404 at once",
                                          "an unknown nonce is 404 at once", "a wait above the most is taken")]
        if not self.wait_header:
            for name in names:
                self.skip(name, "no Vantorima-Wait header: no long waiting")
            return
        self.check(names[0], most is not None and 1 <= most <= 30, "Vantorima-Wait %r" % self.wait_header)
        most = most or 30
        reply = self.state(link, extra="&after=installing&wait=%d" % most)
        self.check(names[1], reply.status == 200 and reply.body == b"pending" and reply.took < 0.5,
                   "%s after %.0f ms" % (reply, reply.took * 1000))
        # Waits on every process, then a report on the first wakes them all:
        # not a report of another link.
        waits = [(service, {}) for service in filter(None, (self.first, self.second)) for _ in range(2)]

        def wait(service, into):
            into["reply"] = self.state(link, service=service, extra="&after=pending&wait=%d" % most)
            into["at"] = time.monotonic()
        threads = [threading.Thread(target=wait, args=w, daemon=True) for w in waits]
        for thread in threads:
            thread.start()
        time.sleep(0.5)
        self.report(quiet.nonce, "installing")
        time.sleep(0.3)
        early = [into.get("reply") for _, into in waits if "reply" in into]
        sent = time.monotonic()
        self.report(link.nonce.upper(), "installing")
        for thread in threads:
            thread.join(TIMEOUT)
        late = [(into.get("at", sent + TIMEOUT) - sent) * 1000 for _, into in waits]
        woken = [into.get("reply") for _, into in waits]
        self.check(names[2], not early and all(r and r.status == 200 and r.body == b"installing" for r in woken)
                   and max(late) <= WAKE_MS,
                   "answered before the report: %s; then %s after %s ms" % (
                       [str(r) for r in early], [str(r) for r in woken], ["%.0f" % t for t in late]))
        reply = self.state(quiet, extra="&after=installing&wait=1")
        self.check(names[3], reply.status == 200 and reply.body == b"installing" and 0.9 <= reply.took <= 2.5,
                   "%s after %.0f ms" % (reply, reply.took * 1000))
        reply = self.state(quiet, watch=link.watch, extra="&after=installing&wait=%d" % most)
        self.check(names[4], reply.status == 404 and reply.took < 0.5, "%s after %.0f ms" % (reply, reply.took * 1000))
        reply = self.state(os.urandom(16).hex(), watch=link.watch, extra="&after=pending&wait=%d" % most)
        self.check(names[5], reply.status == 404 and reply.took < 0.5, "%s after %.0f ms" % (reply, reply.took * 1000))
        reply = self.state(quiet, extra="&after=pending&wait=99999")
        self.check(names[6], reply.status == 200 and reply.body == b"installing" and reply.took < 0.5,
                   "%s after %.0f ms" % (reply, reply.took * 1000))

    def check_longest_wait(self, link):
        """A proxy in front must not cut a request held the most seconds."""
        name = "wait: a wait of Vantorima-Wait seconds is held to its end and answered"
        try:
            most = int(self.wait_header)
        except (TypeError, ValueError):
            most = None
        if most is None or not 1 <= most <= 30:
            self.skip(name, "no Vantorima-Wait header of 1 to 30: %r" % self.wait_header)
            return
        # Reported, so that the state outlives the wait however short its max age.
        self.report(link.nonce, "installing")
        reply = self.state(link, extra="&after=installing&wait=%d" % most, timeout=most + 10)
        self.check(name, reply.status == 200 and reply.body == b"installing" and most - 0.5 <= reply.took <= most + 2.5,
                   "%s after %.1f s" % (reply, reply.took))

    def check_lifetimes(self, short):
        names = ["lifetime: %s" % n for n in (
            "a report after exp, before exp plus the max age, is recorded", "pending until exp plus the max age",
            "pending gone after exp plus the max age", "installing outlives it", "a final outcome outlives it",
            "a report after it makes no state")]
        if short is None:
            for name in names:
                self.skip(name, "no --issue-short")
            return
        left, installing, started, late = short
        end = max(link.exp for link in short) + self.args.max_age
        if end - time.time() > LONGEST_LIFETIME:
            for name in names:
                self.skip(name, "the short links live %.0f s: give --issue-short a smaller ttl and max age" % (
                    end - time.time()))
            return
        self.report(installing.nonce, "installing")
        self.report(started.nonce, "started")
        # The launcher refuses a link after its exp, and says so.
        time.sleep(max(0.0, late.exp + 0.1 - time.time()))
        self.report(late.nonce, "refused:expired")
        self.check(names[0], self.word(late) == "refused:expired", self.word(late))
        before = left.exp + self.args.max_age - SLACK
        time.sleep(max(0.0, before - time.time()))
        self.check(names[1], self.word(left) == "pending", "%s at exp + max age - %.1f s" % (self.word(left), SLACK))
        time.sleep(max(0.0, end + SLACK - time.time()))
        self.check(names[2], self.word(left) == "(404)", self.word(left))
        self.check(names[3], self.word(installing) == "installing", self.word(installing))
        self.check(names[4], self.word(started) == "started" and self.word(late) == "refused:expired",
                   "%s, %s" % (self.word(started), self.word(late)))
        self.report(left.nonce, "started")
        self.check(names[5], self.word(left) == "(404)", self.word(left))

    def run(self):
        # The short links first, so that their seconds pass beside the rest.
        short = self.fresh(4, self.args.issue_short) if self.args.issue_short else None
        lifetimes = threading.Thread(target=self.guarded, args=("lifetime", self.check_lifetimes, short))
        lifetimes.start()
        # Each group's links are issued just before it, so that a service
        # whose every link lives seconds only (one max age for all) passes.
        links = self.fresh(2)
        self.check_links(*links)
        self.guarded("state", self.check_state, *links)
        # The longest wait takes its seconds: beside the rest too.
        longest = threading.Thread(target=self.guarded, args=("wait", self.check_longest_wait, *self.fresh(1)))
        longest.start()
        self.guarded("report", self.check_reports, *self.fresh(3))
        self.guarded("host", self.check_hosts, *self.fresh(1))
        self.guarded("wait", self.check_waiting, *self.fresh(2))
        self.guarded("report", self.check_redirects, *self.fresh(1))
        lifetimes.join()
        longest.join()
        print("%d passed, %d failed, %d skipped" % (self.counts["ok"], self.counts["FAIL"], self.counts["skip"]))
        return 1 if self.counts["FAIL"] else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter,
                                     epilog=__doc__.split("\n\n", 2)[2])
    parser.add_argument("base_url", metavar="BASE_URL", help="where /link/report and /link/state answer")
    parser.add_argument("--issue", required=True, metavar="CMD", help="prints {\"link\",\"watch\"} of a fresh link")
    parser.add_argument("--second", metavar="BASE_URL", help="another process of the service: states read there")
    parser.add_argument("--issue-short", metavar="CMD", help="like --issue, for a link that lives seconds")
    parser.add_argument("--max-age", type=float, help="the max age of --issue-short's links, in seconds")
    parser.add_argument("--host-header", metavar="NAME", help="the Host to send (default: BASE_URL's)")
    args = parser.parse_args()
    if args.issue_short and args.max_age is None:
        parser.error("--issue-short needs --max-age")
    try:
        checker = Checker(args)
    except (ValueError, OSError, SyntaxError) as error:
        print("check-link-service: %s" % error, file=sys.stderr)
        return 2
    try:
        return checker.run()
    except (RuntimeError, ValueError, subprocess.TimeoutExpired) as error:
        print("check-link-service: cannot issue a link: %s" % error, file=sys.stderr)
        return 2


if __name__ == "__main__":
    sys.exit(main())
