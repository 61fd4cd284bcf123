#!/usr/bin/env python3
"""The local server's POST /link signs only for a request addressed to its
own address and port: a page of another name that resolves to loopback (DNS
rebinding) gets nothing. Its /link/state tells the page what the launcher
reported for a link it issued, and only for such a link.

    update_server_link_test.py LINK-TOOL LINK-KEY.pem
"""
import http.client
import json
import os
import subprocess
import sys
import tempfile
import time
import urllib.parse

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
            f.write("late=vantorima:launch?v=1&id=guest&exp=%d&nonce=%s&sig=x\n" % (now - 5, "a" * 32))
            f.write("gone=vantorima:launch?v=1&id=guest&exp=%d&nonce=%s&sig=x\n" % (now - 400, "b" * 32))
        server = subprocess.Popen([sys.executable, os.path.join(TOP, "testbed", "update_server.py"), "--root", work,
                                   "--port-file", port_file, "--idle", "60", "--link-tool", tool, "--link-key", key,
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
                ("evil.example:%d" % port, 403),
                ("127.0.0.1:%d" % (port + 1), 403),
                ("127.0.0.1", 403),
                ("127.0.0.1:%d.evil.example" % port, 403),
                (None, 403),
            ]
            failed = 0
            for host, want in cases:
                connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
                connection.putrequest("POST", "/link", skip_host=True)
                if host is not None:
                    connection.putheader("Host", host)
                connection.putheader("Content-Length", "0")
                connection.endheaders()
                reply = connection.getresponse()
                body = reply.read().decode(errors="replace")
                connection.close()
                signed = body.startswith("vantorima:launch?") or ":launch?" in body
                ok = reply.status == want and signed == (want == 200)
                print("%s Host %r: %d%s" % ("ok" if ok else "FAILED", host, reply.status,
                                           "" if ok else " (expected %d) %s" % (want, body.strip()[:80])))
                failed += not ok
            return 1 if failed or link_states(port) else 0
        finally:
            server.terminate()
            server.wait()


def request(port, method, path, body=None, content_type="application/x-www-form-urlencoded"):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
    headers = {"Content-Type": content_type} if body is not None else {}
    connection.request(method, path, body=body, headers=headers)
    reply = connection.getresponse()
    text = reply.read().decode(errors="replace")
    connection.close()
    return reply, text


def link_states(port):
    """The rows of the link state: each a report (None: none) and the state
    it leaves; the nonces by name: two fresh links, the test links, and a
    nonce nobody issued. Returns the number of failed rows."""
    nonces = {"late": "a" * 32, "gone": "b" * 32, "stranger": "c" * 32}
    watches = {}
    for name in ("first", "second"):
        reply, text = request(port, "POST", "/link")
        issued = json.loads(text)
        nonces[name] = urllib.parse.parse_qs(urllib.parse.urlsplit(issued["link"]).query)["nonce"][0]
        watches[name] = issued["watch"]
    # The first link's state for another's watch token: none.
    nonces["other-watch"], watches["other-watch"] = nonces["first"], watches["second"]
    form = "application/x-www-form-urlencoded"
    rows = [  # link, report body (None: just the state), content type, expected state (None: 404)
        ("first", None, form, "pending"),
        ("other-watch", None, form, None),
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
    ]
    failed = 0
    for name, body, content_type, want in rows:
        nonce = nonces[name]
        status = 204
        if body is not None:
            status = request(port, "POST", "/link/report", body.format(nonce), content_type)[0].status
        reply, text = request(port, "GET", "/link/state?nonce=%s&watch=%s" % (nonce.upper(), watches.get(name, "")))
        got = text if reply.status == 200 else None
        ok = (status == 204 and got == want and reply.getheader("Cache-Control") == "no-store" and
              reply.getheader("Content-Type", "").startswith("text/plain"))
        print("%s %s after %s: %s %r" % ("ok" if ok else "FAILED", name, body, reply.status, text[:40]))
        failed += not ok
    return failed


if __name__ == "__main__":
    sys.exit(main())
