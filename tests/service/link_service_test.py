#!/usr/bin/python3
"""The link door's contract, as tools/check-link-service.py checks it, against:

  memory   the package on its memory store, its links from its demo's POST /link
  redis    two processes of the package sharing one redis-server of the test's own
  testbed  the test bed's server (it offers no long waiting)
  nginx    operators.md's "Adopting the link door": every shell command of it, and
           nginx with exactly its lines, the names it gives replaced by the test's

    link_service_test.py MODE LINK-KEY.pem
"""
import os
import re
import select
import signal
import socket
import subprocess
import sys
import tempfile
import textwrap
import time

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CHECKER = os.path.join(TOP, "tools", "check-link-service.py")
ENV = dict(os.environ, PYTHONPATH=os.path.join(TOP, "service"))
PACKAGE = "/usr/bin/python3 -m vantorima_service"
started = []


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start(command, ready, shell=False, timeout=20):
    """A process of the test's, once ready (a line it prints, or a port that answers)."""
    process = subprocess.Popen(command, shell=shell, env=ENV, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                               text=True, start_new_session=True)
    started.append(process)
    end = time.monotonic() + timeout
    seen = ""
    while time.monotonic() < end and process.poll() is None:
        if isinstance(ready, int):
            try:
                socket.create_connection(("127.0.0.1", ready), 1).close()
                return process
            except OSError:
                time.sleep(0.05)
        elif select.select([process.stdout], [], [], 0.2)[0]:
            line = process.stdout.readline()
            seen += line
            match = re.search(ready, line)
            if match:
                return match
    raise RuntimeError("%s did not start: %s" % (command if shell else command[0], seen.strip()))


def post_link(port):
    """A shell command that prints a fresh link of POST /link at port."""
    return ("/usr/bin/python3 -c \"import urllib.request as u; print(u.urlopen(u.Request("
            "'http://127.0.0.1:%d/link', method='POST')).read().decode())\"" % port)


def check(*args):
    return subprocess.run([CHECKER, *args], env=ENV, timeout=180).returncode == 0


def redis(work):
    port = free_port()
    start(["redis-server", "--port", str(port), "--bind", "127.0.0.1", "--save", "", "--appendonly", "no",
           "--dir", work], port)
    return "redis://127.0.0.1:%d/0" % port


def serve(*args):
    match = start(["/usr/bin/python3", "-m", "vantorima_service", "serve", "--listen", "127.0.0.1:0", *args],
                  r"serving on 127\.0\.0\.1:(\d+)")
    return "http://127.0.0.1:%s" % match.group(1)


def memory(key, work):
    with open(os.path.join(work, "pass"), "w") as f:
        f.write("s3cret\n")
    # One max age for every link: each lives 5 s at most, the checker's groups less.
    base = serve("--private-key", key, "--demo-account", "guest", "--demo-pass-file", f.name, "--ttl", "1",
                 "--max-age", "4")
    issue = post_link(int(base.rsplit(":", 1)[1]))
    return check(base, "--issue", issue, "--issue-short", issue, "--max-age", "4")


def shared_redis(key, work):
    url = redis(work)
    first, second = (serve("--redis", url, "--private-key", key) for _ in range(2))
    issue = "%s issue --redis %s --private-key %s --id checker --pass -" % (PACKAGE, url, key)
    return check(first, "--second", second, "--issue", issue, "--issue-short", issue + " --ttl 1 --max-age 2",
                 "--max-age", "2")


def testbed(key, work):
    port_file = os.path.join(work, "port")
    start(["/usr/bin/python3", os.path.join(TOP, "testbed", "update_server.py"), "--root", work, "--port-file",
           port_file, "--idle", "60", "--link-key", key, "--link-ttl", "1", "--link-max-age", "4"], "serving")
    with open(port_file) as f:
        port = int(f.read())
    issue = post_link(port)
    return check("http://127.0.0.1:%d" % port, "--issue", issue, "--issue-short", issue, "--max-age", "4")


def how_to():
    """The fenced blocks of operators.md's how-to: (language, text)."""
    with open(os.path.join(TOP, "docs", "operators.md"), encoding="utf-8") as f:
        text = f.read()
    section = text[text.index("\n## Adopting the link door\n"):]
    section = section[:section.index("\n## ", 1)]
    return [(m.group(2), textwrap.dedent(m.group(3)))
            for m in re.finditer(r"^( *)```(\w*)\n(.*?)^\1```$", section, re.M | re.S)]


def nginx(key, work):
    url, package, site = redis(work), free_port(), free_port()
    # The names the how-to gives, and the test's own (the site's name first: the URL holds it).
    names = [("https://www.example.com", "http://127.0.0.1:%d" % site), ("www.example.com", "127.0.0.1"),
             ("127.0.0.1:8470", "127.0.0.1:%d" % package), ("redis://10.0.0.5:6379/0", url),
             ("/etc/vantorima/link-key.pem", key), ("/opt/vantorima", TOP)]
    blocks = how_to()
    if [language for language, _ in blocks].count("nginx") != 1:
        print("FAIL the how-to has not exactly one nginx block")
        return False
    passed = True
    for language, block in blocks:
        for name, ours in names:
            block = block.replace(name, ours)
        if language == "nginx":
            os.mkdir(os.path.join(work, "nginx"))
            config = os.path.join(work, "nginx", "nginx.conf")
            with open(config, "w") as f:
                f.write("daemon off;\npid %s/nginx.pid;\nerror_log %s/error.log;\nevents {}\nhttp {\n"
                        "access_log %s/access.log;\n" % ((work,) * 3))
                for temp in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"):
                    f.write("%s_temp_path %s/%s;\n" % (temp, work, temp))
                f.write("server {\nlisten 127.0.0.1:%d;\n%s}\n}\n" % (site, block))
            start(["nginx", "-p", work, "-c", config, "-e", os.path.join(work, "error.log")], site)
        elif language == "sh" and "vantorima_service serve" in block:
            start(block, package, shell=True)  # a service: it runs on
        elif language == "sh":
            print("$ " + block.strip(), flush=True)
            ran = subprocess.run(block, shell=True, env=ENV, timeout=180)
            passed = passed and ran.returncode == 0
            print("%s the how-to's command above (exit %d)" % ("ok  " if ran.returncode == 0 else "FAIL",
                                                                   ran.returncode), flush=True)
    return passed


def main():
    modes = {"memory": memory, "redis": shared_redis, "testbed": testbed, "nginx": nginx}
    if len(sys.argv) != 3 or sys.argv[1] not in modes:
        sys.exit(__doc__)
    with tempfile.TemporaryDirectory() as work:
        try:
            passed = modes[sys.argv[1]](os.path.abspath(sys.argv[2]), work)
        finally:
            for process in reversed(started):
                if process.poll() is None:
                    os.killpg(process.pid, signal.SIGTERM)
                try:
                    process.wait(10)
                except subprocess.TimeoutExpired:
                    os.killpg(process.pid, signal.SIGKILL)
                    process.wait()
    return 0 if passed else 1


if __name__ == "__main__":
    sys.exit(main())
