#!/usr/bin/env python3
"""The local server answers only requests addressed to its own address and
port, on every endpoint: a page of another name that resolves to loopback
(DNS rebinding) gets no link, reads no state and forges no report. Its
/link/state tells the page, with the watch token, what the launcher reported
for a link it issued, and only for such a link; the report list is for tests
that ask for it (--test-reports) alone.

    update_server_link_test.py LINK-TOOL LINK-KEY.pem

The tool (vantorima-link) verifies the links the server signs.
"""
import http.client
import json
import os
import subprocess
import sys
import tempfile
import time
import urllib.parse

# The watch token of the links signed for the tests.
WATCH = "w" * 43
TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def main():
    tool, key = sys.argv[1:3]
    with tempfile.TemporaryDirectory() as work:
        port_file = os.path.join(work, "port")
        # Links signed for the tests count as issued: one whose state is still
        # kept after its exp (the launcher refuses it and says so), one long gone.
        now = int(time.time())
        test_links = os.path.join(work, "links.txt")
        with open(test_links, "w") as f:
            f.write("watch=%s\n" % WATCH)
            f.write("late=vantorima:launch?v=1&id=guest&exp=%d&nonce=%s&sig=x\n" % (now - 5, "a" * 32))
            f.write("gone=vantorima:launch?v=1&id=guest&exp=%d&nonce=%s&sig=x\n" % (now - 400, "b" * 32))
        server = subprocess.Popen(["/usr/bin/python3", os.path.join(TOP, "testbed", "update_server.py"), "--root", work,
                                   "--port-file", port_file, "--idle", "60", "--link-key", key,
                                   "--link-id", "guest", "--link-pass", "s3cret"], stdout=subprocess.DEVNULL,
                                  env=dict(os.environ, VANTORIMA_TEST_LINKS=test_links))
        try:
            for _ in range(100):
                if os.path.exists(port_file):
                    break
                time.sleep(0.05)
            with open(port_file) as f:
                port = int(f.read())
            cases = [  # Host header (None: none sent), expected status
                ("127.0.0.1:%d" % port, 200),
                ("localhost:%d" % port, 200),
                ("LOCALHOST:%d" % port, 200),
                ("evil.example:%d" % port, 421),
                ("127.0.0.1:%d" % (port + 1), 421),
                ("127.0.0.1", 421),
                ("127.0.0.1:%d.evil.example" % port, 421),
                (None, 421),
            ]
            failed = 0
            for host, want in cases:
                reply, body = request(port, "POST", "/link", b"", host=host)
                signed = ":launch?" in json.loads(body)["link"] if reply.status == 200 else False
                ok = reply.status == want and signed == (want == 200)
                print("%s Host %r: %d%s" % ("ok" if ok else "FAILED", host, reply.status,
                                           "" if ok else " (expected %d) %s" % (want, body.strip()[:80])))
                failed += not ok
            # Every other endpoint refuses a stranger's Host too; the report
            # list is not served without --test-reports.
            report = "nonce=%s&outcome=started&version=1.0.0.2" % ("c" * 32)
            for method, path, body, want in [("GET", "/", None, 200), ("GET", "/~set/", None, 200),
                                             ("GET", "/link/state?nonce=%s&watch=%s" % ("a" * 32, WATCH), None, 200),
                                             ("POST", "/link/report", report, 204),
                                             ("GET", "/link/reports", None, 404)]:
                for host in (None, "evil.example:%d" % port, "localhost:%d" % port):
                    expected = want if host and host.startswith("localhost") else 421
                    reply, text = request(port, method, path, body, host=host)
                    ok = reply.status == expected
                    print("%s %s %s Host %r: %d" % ("ok" if ok else "FAILED", method, path[:20], host, reply.status))
                    failed += not ok
            public = os.path.join(work, "public.pem")
            subprocess.run(["openssl", "pkey", "-in", key, "-pubout", "-out", public], check=True)
            return 1 if failed or link_states(port, tool, public) else 0
        finally:
            server.terminate()
            server.wait()


def request(port, method, path, body=None, content_type="application/x-www-form-urlencoded", host=""):
    """host: the Host header ("": the server's own address, None: none)."""
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
    connection.putrequest(method, path, skip_host=True)
    if host is not None:
        connection.putheader("Host", host or "127.0.0.1:%d" % port)
    if body is not None:
        connection.putheader("Content-Type", content_type)
        connection.putheader("Content-Length", str(len(body)))
    connection.endheaders(body.encode() if isinstance(body, str) else body)
    reply = connection.getresponse()
    text = reply.read().decode(errors="replace")
    connection.close()
    return reply, text


def link_states(port, tool, public):
    """The rows of the link state: each a report (None: none) and the state
    it leaves; the nonces by name: two fresh links, the test links, and a
    nonce nobody issued. Returns the number of failed rows."""
    nonces = {"late": "a" * 32, "gone": "b" * 32, "stranger": "c" * 32}
    watches = {name: WATCH for name in nonces}
    for name in ("first", "second"):
        reply, text = request(port, "POST", "/link", b"")
        made = json.loads(text)
        ok = (reply.getheader("Content-Type") == "application/json" and reply.getheader("Cache-Control") == "no-store"
              and len(made["watch"]) == 43 and made["watch"] not in made["link"])
        if not ok:
            print("FAILED POST /link: %r %r" % (reply.getheaders(), made))
            return 1
        nonces[name] = urllib.parse.parse_qs(urllib.parse.urlsplit(made["link"]).query)["nonce"][0]
        watches[name] = made["watch"]
        verdict = subprocess.run([tool, "verify", "--public", public, made["link"]], capture_output=True, text=True)
        if verdict.stdout.strip() != "valid":
            print("FAILED the link does not verify: %s %s" % (verdict.stdout, made["link"]))
            return 1
    form = "application/x-www-form-urlencoded"
    rows = [  # link, report body (None: just the state), content type, expected state (None: 404)
        ("first", None, form, "pending"),
        ("first", "nonce={}&outcome=started&version=1.0.0.2", form, "started"),
        ("first", "nonce={}&outcome=refused:used&version=1.0.0.2", form, "started"),  # a second launcher's
        ("first", "nonce={}&outcome=refused:running&version=1.0.0.2", form, "refused:running"),  # the latest wins
        ("first", "nonce={}&outcome=<b>hi</b>&version=1.0.0.2", form, "refused:running"),  # not an outcome
        ("second", "nonce={}&outcome=started&version=1.0.0.2", "text/plain", "pending"),  # not a form
        ("second", "nonce={}&outcome=refused:used&version=1.0.0.2", form, "refused:used"),  # the first word
        ("late", "nonce={}&outcome=refused:expired&version=1.0.0.2", form, "refused:expired"),
        ("gone", "nonce={}&outcome=refused:expired&version=1.0.0.2", form, None),
        ("stranger", "nonce={}&outcome=started&version=1.0.0.2", form, None),
        ("stranger", None, form, None),
        ("first", None, "another watch", None),  # only with its link's watch token
    ]
    failed = 0
    for name, body, content_type, want in rows:
        nonce = nonces[name]
        status = 204
        if body is not None:
            status = request(port, "POST", "/link/report", body.format(nonce), content_type)[0].status
        watch = watches[name] if content_type != "another watch" else watches["second"]
        reply, text = request(port, "GET", "/link/state?nonce=%s&watch=%s" % (nonce.upper(), watch))
        got = text if reply.status == 200 else None
        ok = (status == 204 and got == want and reply.getheader("Cache-Control") == "no-store" and
              reply.getheader("Content-Type", "").startswith("text/plain"))
        print("%s %s after %s: %s %r" % ("ok" if ok else "FAILED", name, body, reply.status, text[:40]))
        failed += not ok
    return failed


if __name__ == "__main__":
    sys.exit(main())
