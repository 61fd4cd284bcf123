#!/usr/bin/env python3
"""The local server's POST /link signs only for a request addressed to its
own address and port: a page of another name that resolves to loopback (DNS
rebinding) gets nothing.

    update_server_link_test.py LINK-TOOL LINK-KEY.pem
"""
import http.client
import os
import subprocess
import sys
import tempfile
import time

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def main():
    tool, key = sys.argv[1:3]
    with tempfile.TemporaryDirectory() as work:
        port_file = os.path.join(work, "port")
        server = subprocess.Popen([sys.executable, os.path.join(TOP, "testbed", "update_server.py"), "--root", work,
                                   "--port-file", port_file, "--idle", "60", "--link-tool", tool, "--link-key", key,
                                   "--link-id", "guest", "--link-pass", "s3cret"], stdout=subprocess.DEVNULL)
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
            return 1 if failed else 0
        finally:
            server.terminate()
            server.wait()


if __name__ == "__main__":
    sys.exit(main())
