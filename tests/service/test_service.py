#!/usr/bin/python3
"""The service package: its signer against docs/link-vectors.json, and what
the contract's checker does not see: two processes sharing one real Redis
(a report to one wakes a page held by the other; the rules as scripts run
with EVALSHA; one subscription per process), the lifetimes as Redis keeps
them, the cap on held requests, and the command line's refusals.

    test_service.py LINK-TOOL
"""
import http.client
import json
import os
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(TOP, "service"))
from vantorima_service import signing  # noqa: E402
from cryptography.hazmat.primitives import serialization  # noqa: E402

ENV = dict(os.environ, PYTHONPATH=os.path.join(TOP, "service"))
failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    if not ok:
        failures.append(what)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def service(*args, stdin=None):
    return subprocess.run(["/usr/bin/python3", "-m", "vantorima_service", *args], input=stdin, capture_output=True,
                          text=True, env=ENV, timeout=30)


class Serve:
    """One serving process, on a free port."""

    def __init__(self, *args):
        self.process = subprocess.Popen(["/usr/bin/python3", "-m", "vantorima_service", "serve", "--listen",
                                         "127.0.0.1:0", *args], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                        text=True, env=ENV)
        line = self.process.stdout.readline()
        self.port = int(line.split("127.0.0.1:")[1].split()[0]) if "serving on" in line else None
        if self.port is None:
            raise RuntimeError("the service did not start: " + line + self.process.stdout.read())

    def request(self, method, path, body=None):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=40)
        headers = {"Content-Type": "application/x-www-form-urlencoded"} if body is not None else {}
        connection.request(method, path, body=body, headers=headers)
        reply = connection.getresponse()
        return reply.status, reply.read().decode()

    def report(self, nonce, outcome):
        return self.request("POST", "/link/report", "nonce=%s&outcome=%s&version=1.0.0.9" % (nonce, outcome))[0]

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        return self.process.returncode


def held(server, nonce, watch, after, seconds, answers):
    """A long wait on a thread; answers gets (status, word, seconds taken)."""
    def run():
        started = time.monotonic()
        status, word = server.request("GET", "/link/state?nonce=%s&watch=%s&after=%s&wait=%d" % (
            nonce, watch, after, seconds))
        answers.append((status, word, time.monotonic() - started))
    thread = threading.Thread(target=run)
    thread.start()
    return thread


def vectors(tool, document, work):
    """The package's signer writes each vector's text byte for byte, and its
    signatures verify with the vectors' key, by the package and by the tool."""
    key = serialization.load_pem_private_key(document["private_key_pem"].encode(), None)
    public = serialization.load_pem_public_key(document["public_key_pem"].encode())
    rebuilt = 0
    for vector in document["vectors"]:
        link = vector["link"]
        text, _, _ = link.rpartition("&sig=")
        fields = urllib.parse.parse_qs(urllib.parse.urlsplit(link).query, keep_blank_values=True)
        canonical = vector["verdict"] == "valid" and link.startswith("vantorima:launch?v=1&") and \
            fields["nonce"][0].islower()
        if not canonical:
            continue
        exp = int(fields["exp"][0])
        made = signing.sign_link(key, fields["id"][0], fields["pass"][0], fields["key"][0], fields["server"][0],
                                 ttl=120, now=exp - 120, nonce=fields["nonce"][0])
        if made.rpartition("&sig=")[0] == text and signing.signature_holds(public, made) and \
                signing.signature_holds(public, link):
            rebuilt += 1
        else:
            check(False, "vector %s: %s" % (vector["name"], made))
    check(rebuilt >= 3, "the signer writes %d valid vectors' links as they are" % rebuilt)
    check(not signing.signature_holds(public, link.replace("v=1", "v=2")), "a changed link's signature fails")
    made = signing.make_link(key, "张三", "p&ss= w%", "42", "go.example:7000", ttl=60)
    with open(os.path.join(work, "public.pem"), "w") as f:
        f.write(document["public_key_pem"])
    verdict = subprocess.run([tool, "verify", "--public", os.path.join(work, "public.pem"), made.link],
                             capture_output=True, text=True).stdout.strip()
    check(verdict == "valid" and len(made.watch) == 43 and made.watch not in made.link,
          "make_link: the tool finds it valid, the watch token is not in it: " + verdict)
    for values in [("a b", "x", "", ""), ("a/b", "x", "", ""), ("x" * 65, "x", "", ""), ("id", "x" * 27, "", ""),
                   ("id", "g" * 64, "", ""), ("id", "x", "", "/srv"), ("id", "x\n", "", "")]:
        try:
            signing.make_link(key, *values)
            check(False, "make_link refuses %r" % (values,))
        except signing.LinkError:
            pass


def command_line(key, pass_file, redis_url):
    """Bad usage: exit 2 and the reason, before anything is served."""
    serve = ["serve", "--listen", "127.0.0.1:%d" % free_port(), "--private-key", key]
    rows = [
        (["serve", "--listen", "127.0.0.1", "--private-key", key], "HOST:PORT"),
        (["serve", "--listen", "0.0.0.0:%d" % free_port(), "--private-key", key], "--host"),
        (serve + ["--private-key", pass_file], "no private key"),
        (serve + ["--demo-account", "guest"], "go together"),
        (serve + ["--demo-account", "a b", "--demo-pass-file", pass_file], "blank"),
        (serve + ["--redis", "http://x"], "redis://"),
        (serve + ["--max-age", "0"], "--max-age"),
        (["issue", "--redis", redis_url, "--private-key", key, "--id", "guest", "--pass", "s3cret"], "--pass takes -"),
        (["issue", "--redis", redis_url, "--private-key", key, "--id", "guest", "--pass", "-", "--ttl", "301"],
         "--ttl"),
    ]
    for args, reason in rows:
        run = service(*args, stdin="s3cret\n")
        check(run.returncode == 2 and reason in run.stderr, "refused (%s): exit %d %s" % (
            reason, run.returncode, run.stderr.strip().splitlines()[-1:] if run.stderr else ""))


def memory(key, pass_file):
    server = Serve("--private-key", key, "--demo-account", "guest", "--demo-pass-file", pass_file,
                   "--max-waiters", "1")
    try:
        made = json.loads(server.request("POST", "/link")[1])
        nonce = urllib.parse.parse_qs(urllib.parse.urlsplit(made["link"]).query)["nonce"][0]
        answers = []
        first = held(server, nonce, made["watch"], "pending", 20, answers)
        time.sleep(0.5)
        status, word = server.request("GET", "/link/state?nonce=%s&watch=%s&after=pending&wait=20" % (
            nonce, made["watch"]))
        check(status == 200 and word == "pending" and not answers, "memory: beyond --max-waiters answered at once")
        server.report(nonce, "started")
        first.join(10)
        check(answers and answers[0][:2] == (200, "started") and answers[0][2] < 5,
              "memory: a report wakes the held request: %r" % answers)
        quick = []
        held(server, nonce, made["watch"], "pending", 20, quick).join(10)
        check(quick and quick[0][:2] == (200, "started") and quick[0][2] < 2, "memory: after another word: at once")
        late = []
        thread = held(server, nonce, made["watch"], "started", 20, late)
        time.sleep(0.5)
        code = server.stop()
        thread.join(10)
        check(code == 0 and late and late[0][0] == 200 and late[0][2] < 8,
              "memory: a stop answers held requests and ends cleanly: exit %s %r" % (code, late))
    finally:
        server.stop()


def redis(key, pass_file, work):
    port = free_port()
    redis_server = subprocess.Popen(["redis-server", "--port", str(port), "--bind", "127.0.0.1", "--save", "",
                                     "--appendonly", "no", "--dir", work], stdout=subprocess.DEVNULL)
    url = "redis://127.0.0.1:%d/0" % port
    servers = []

    def cli(*args):
        return subprocess.run(["redis-cli", "-p", str(port), *args], capture_output=True, text=True).stdout.strip()

    try:
        for _ in range(100):
            if cli("ping") == "PONG":
                break
            time.sleep(0.05)
        command_line(key, pass_file, url)
        common = ["--private-key", key, "--redis", url, "--max-age", "30", "--install-wait", "100"]
        servers = [Serve(*common), Serve(*common)]
        one, other = servers
        run = service("issue", "--redis", url, "--private-key", key, "--id", "guest", "--pass", "-", "--ttl", "10",
                      "--max-age", "30", stdin="s3cret\n")
        made = json.loads(run.stdout)
        nonce = urllib.parse.parse_qs(urllib.parse.urlsplit(made["link"]).query)["nonce"][0]
        redis_key = "vantorima:link:" + nonce
        ttl = int(cli("ttl", redis_key))
        check(run.returncode == 0 and 35 <= ttl <= 40, "issue: pending until exp + max-age (TTL %d)" % ttl)
        check(made["watch"] not in cli("hgetall", redis_key), "Redis keeps no watch token, only its digest")
        answers = []
        waiters = [held(other, nonce, made["watch"], "pending", 20, answers) for _ in range(3)]
        time.sleep(0.5)
        check(cli("pubsub", "numsub", "vantorima:link:changed").split()[-1] == "2",
              "one subscription per process, however many wait")
        check(one.report(nonce, "installing") == 204, "the report to one process: 204")
        for waiter in waiters:
            waiter.join(10)
        check(len(answers) == 3 and all(a[:2] == (200, "installing") and a[2] < 2 for a in answers),
              "it wakes the requests held by the other: %r" % answers)
        ttl = int(cli("ttl", redis_key))
        check(150 <= ttl <= 160, "installing: kept for the install wait + 60 s (TTL %d)" % ttl)
        one.report(nonce, "refused:used")
        check(other.request("GET", "/link/state?nonce=%s&watch=%s" % (nonce, made["watch"])) == (200, "installing"),
              "refused:used does not replace installing")
        one.report(nonce, "started")
        ttl = int(cli("ttl", redis_key))
        check(595 <= ttl <= 600, "a final word: at least 600 s (TTL %d)" % ttl)
        cli("expire", redis_key, "1000")
        one.report(nonce, "failed:client")
        check(int(cli("ttl", redis_key)) > 600, "never shorter than it had")
        check(other.request("GET", "/link/state?nonce=%s&watch=%s" % (nonce, "x" * 43))[0] == 404, "a wrong watch: 404")
        stats = cli("info", "commandstats")
        check("cmdstat_evalsha:" in stats and "cmdstat_eval:" not in stats, "the rules run with EVALSHA only")
        # Redis goes away: a clear 503, and the service carries on when it is back.
        redis_server.terminate()
        redis_server.wait()
        status = other.request("GET", "/link/state?nonce=%s&watch=%s" % (nonce, made["watch"]))[0]
        check(status == 503, "Redis gone: 503 (%d)" % status)
    finally:
        for server in servers:
            check(server.stop() == 0, "the process ends cleanly")
        redis_server.terminate()
        redis_server.wait()


def main():
    tool = sys.argv[1]
    with open(os.path.join(TOP, "docs", "link-vectors.json"), encoding="utf-8") as f:
        document = json.load(f)
    with tempfile.TemporaryDirectory() as work:
        key = os.path.join(work, "key.pem")
        with open(key, "w") as f:
            f.write(document["private_key_pem"])
        pass_file = os.path.join(work, "pass")
        with open(pass_file, "w") as f:
            f.write("s3cret\n")
        vectors(tool, document, work)
        memory(key, pass_file)
        redis(key, pass_file, work)
    print("%d failed" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
