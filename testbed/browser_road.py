#!/usr/bin/env python3
"""The demo login page's link door in a real browser: Debian's Chromium under
Xvfb, driven over the DevTools protocol, handing the signed link to Wine.

The road: the page (served by testbed/update_server.py, which signs links for
POST /link with the link tool and the test key) -> the play button -> the
page navigates to <scheme>:launch?... -> Chromium, allowed to open that
scheme for the page's origin without asking (in a throw-away profile's own
preferences) -> xdg-open -> an xdg desktop entry, in a throw-away HOME, made
the scheme's default with xdg-mime -> `wine start <link>` in the session's
prefix -> the command registered for the scheme per user, under
HKCU\\Software\\Classes (the link handler; copied where Wine's shell looks). Nothing machine-wide is written outside the Wine prefix.

Three clicks:
  0. nothing registered for the scheme: nothing takes the link, and after a
     few seconds the page offers the client's installer for download;
  1. the handler registered, no client: the handler's update dialog
     downloads the installer and starts it; it installs the client and
     registers the handler;
  2. the client starts with the account's name, password and join key.

Runs inside a Wine session: the environment of one (wine.env sourced), or
--session DIR to start one of its own and stop it at the end. --check fails
unless every step did what it should; --shots DIR saves screenshots of the
page, of the update dialog and of the started client.
"""

import argparse
import json
import select
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import urllib.request

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SETTINGS_KEY = r"HKCU\Software\Quorsel\Marovent\OrvMain"


def say(text):
    print("browser: " + text, flush=True)


def wait_for(seconds, probe, interval=0.2):
    """The first true result of probe() within seconds, else None."""
    deadline = time.monotonic() + seconds
    while True:
        result = probe()
        if result:
            return result
        if time.monotonic() > deadline:
            return None
        time.sleep(interval)


class DevTools:
    """Chromium driven over --remote-debugging-pipe: requests on fd 3,
    replies and events on fd 4, each message JSON ended by a NUL."""

    def __init__(self, args, env, log):
        to_browser, self.requests = os.pipe()
        self.replies, from_browser = os.pipe()

        def pipes_at_3_and_4():
            # Copies first: a pipe end may itself sit on 3 or 4.
            read_end, write_end = os.dup(to_browser), os.dup(from_browser)
            os.dup2(read_end, 3)
            os.dup2(write_end, 4)

        self.process = subprocess.Popen(args + ["--remote-debugging-pipe"], env=env, stdin=subprocess.DEVNULL,
                                        stdout=log, stderr=subprocess.STDOUT, preexec_fn=pipes_at_3_and_4,
                                        close_fds=False, start_new_session=True)
        os.close(to_browser)
        os.close(from_browser)
        self.buffer = b""
        self.last_id = 0
        self.session = None

    def call(self, method, params=None, session=True, timeout=30):
        self.last_id += 1
        message = {"id": self.last_id, "method": method, "params": params or {}}
        if session and self.session:
            message["sessionId"] = self.session
        os.write(self.requests, json.dumps(message).encode() + b"\0")
        deadline = time.monotonic() + timeout
        while True:
            while b"\0" not in self.buffer:
                if time.monotonic() > deadline:
                    raise RuntimeError("Chromium did not answer " + method)
                if not select.select([self.replies], [], [], 0.5)[0]:
                    continue
                data = os.read(self.replies, 1 << 16)
                if not data:
                    raise RuntimeError("Chromium ended")
                self.buffer += data
            text, _, self.buffer = self.buffer.partition(b"\0")
            reply = json.loads(text)
            if reply.get("id") == self.last_id:
                if "error" in reply:
                    raise RuntimeError("%s: %s" % (method, reply["error"].get("message")))
                return reply.get("result", {})

    def attach_to_page(self):
        pages = wait_for(15, lambda: [t for t in self.call("Target.getTargets")["targetInfos"] if t["type"] == "page"])
        if not pages:
            raise RuntimeError("Chromium shows no page")
        self.session = self.call("Target.attachToTarget", {"targetId": pages[0]["targetId"], "flatten": True},
                                 session=False)["sessionId"]

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", {"expression": expression, "returnByValue": True})
        if "exceptionDetails" in result:
            raise RuntimeError("page script failed: " + expression)
        return result["result"].get("value")

    def open(self, url):
        self.call("Page.navigate", {"url": url})
        if not wait_for(15, lambda: self.evaluate("document.readyState == 'complete' && location.href") == url):
            raise RuntimeError("the page did not load: " + url)

    def click(self, element_id):
        """A real click (a trusted event, with the user activation that
        opening another program's link asks for) in the element's middle."""
        box = self.evaluate("(function (e) { var r = e.getBoundingClientRect();"
                            " return [r.left + r.width / 2, r.top + r.height / 2]; })"
                            "(document.getElementById(%s))" % json.dumps(element_id))
        for kind in ("mouseMoved", "mousePressed", "mouseReleased"):
            self.call("Input.dispatchMouseEvent", {"type": kind, "x": box[0], "y": box[1], "button": "left",
                                                   "clickCount": 1})

    def move_window(self, left, top):
        window = self.call("Browser.getWindowForTarget")["windowId"]
        self.call("Browser.setWindowBounds", {"windowId": window, "bounds": {"left": left, "top": top}},
                  session=False)

    def close(self):
        if self.process.poll() is None:
            try:
                self.call("Browser.close", session=False, timeout=5)
                self.process.wait(5)
            except (RuntimeError, OSError, subprocess.TimeoutExpired):
                pass
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.wait()
        for fd in (self.requests, self.replies):
            os.close(fd)


class Road:
    def __init__(self, args, work):
        self.args = args
        self.work = work
        self.bin = args.bin
        self.server = None
        self.browser = None
        self.failures = []
        self.shots = args.shots

    # --- Wine
    def wine(self, *command, check=True):
        done = subprocess.run(["wine"] + list(command), stdin=subprocess.DEVNULL, capture_output=True)
        if check and done.returncode != 0:
            raise RuntimeError("wine %s: exit %d" % (" ".join(command), done.returncode))
        return done.stdout.decode("gbk", errors="replace")

    def windows_path(self, path):
        return subprocess.run(["winepath", "-w", path], capture_output=True, check=True,
                              text=True).stdout.strip()

    def registry_value(self, key, name=None):
        done = subprocess.run(["wine", "reg", "query", key] + (["/v", name] if name else ["/ve"]),
                              stdin=subprocess.DEVNULL, capture_output=True)
        for line in done.stdout.decode("gbk", errors="replace").splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) == 3 and parts[1].startswith("REG_"):
                return parts[2]
        return None

    def scheme_command(self):
        return self.registry_value(r"HKCU\Software\Classes\%s\shell\open\command" % self.args.scheme)

    # --- the page's server
    def serve(self):
        root = os.path.join(self.work, "site")
        os.makedirs(os.path.join(root, "service"))
        shutil.copy(os.path.join(TOP, "testbed", "demo", "login.html"), root)
        self.installer = os.path.join(root, "service", "VokWeiqi.exe")
        shutil.copy(os.path.join(self.bin, "VokWeiqi.exe"), self.installer)
        port_file = os.path.join(self.work, "port")
        a = self.args
        command = [sys.executable, os.path.join(TOP, "testbed", "update_server.py"), "--root", root,
                   "--port", str(a.port), "--port-file", port_file, "--lifetime", "600", "--idle", "0",
                   "--link-tool", a.link_tool, "--link-key", a.link_key, "--link-id", a.id,
                   "--link-pass", a.password, "--link-join-key", a.join_key, "--link-server", a.server]
        if a.tls_port is not None:  # the installer over https://localhost, the page over plain http
            command += ["--tls-port", str(a.tls_port), "--tls", os.path.join(a.test_signing, "tls.pem"),
                        os.path.join(a.test_signing, "tls.key")]
        self.server_log = open(os.path.join(self.work, "server.log"), "w")
        self.server = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=self.server_log,
                                       stderr=subprocess.STDOUT, start_new_session=True)
        if not wait_for(10, lambda: os.path.exists(port_file) or self.server.poll() is not None) or \
                self.server.poll() is not None:
            raise RuntimeError("the page's server did not start (port %d taken?)" % a.port)
        with open(port_file) as f:
            self.origin = "http://127.0.0.1:%d" % int(f.read())
        self.url = self.origin + "/login.html"
        if a.slow:
            urllib.request.urlopen(self.origin + "/~set/~slow=" + a.slow + "/").read()

    # --- the throw-away desktop user
    def desktop(self):
        """A HOME whose xdg settings send the scheme's links to `wine start`."""
        home = os.path.join(self.work, "home")
        applications = os.path.join(home, ".local", "share", "applications")
        os.makedirs(applications)
        os.makedirs(os.path.join(home, ".config"))
        self.received_links = os.path.join(self.work, "links.txt")
        opener = os.path.join(self.work, "open-in-wine")
        # Wine finds its server through TMPDIR: the session's, not Chromium's.
        tmpdir = "export TMPDIR='%s'" % os.environ["TMPDIR"] if "TMPDIR" in os.environ else "unset TMPDIR"
        with open(opener, "w") as f:
            # Windows' shell reads the per-user classes over the machine's;
            # Wine's reads only the machine's, so the user's go there first.
            key = r"Software\Classes\%s" % self.args.scheme
            f.write("#!/bin/sh\n# The scheme's links to Wine's shell, which runs the command registered for them.\n"
                    "echo \"$1\" >>'%s'\nexport WINEPREFIX='%s'\n%s\n"
                    "wine reg copy 'HKCU\\%s' 'HKLM\\%s' /s /f >/dev/null 2>&1\nexec wine start \"$1\"\n" %
                    (self.received_links, os.environ["WINEPREFIX"], tmpdir, key, key))
        os.chmod(opener, 0o755)
        entry = "vantorima-wine.desktop"
        with open(os.path.join(applications, entry), "w") as f:
            f.write("[Desktop Entry]\nType=Application\nName=Vantorima (Wine)\nExec=%s %%u\nNoDisplay=true\n"
                    "MimeType=x-scheme-handler/%s;\n" % (opener, self.args.scheme))
        env = {k: v for k, v in os.environ.items()
               if k not in ("XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION", "GNOME_DESKTOP_SESSION_ID",
                            "BROWSER", "DBUS_SESSION_BUS_ADDRESS", "XDG_DATA_DIRS", "XDG_CONFIG_DIRS")}
        env.update(HOME=home, XDG_DATA_HOME=os.path.join(home, ".local", "share"),
                   XDG_CONFIG_HOME=os.path.join(home, ".config"), XDG_CACHE_HOME=os.path.join(home, ".cache"),
                   TMPDIR=self.work)  # Chromium's own temporary files go with the rest
        subprocess.run(["xdg-mime", "default", entry, "x-scheme-handler/" + self.args.scheme], env=env, check=True)
        found = subprocess.run(["xdg-mime", "query", "default", "x-scheme-handler/" + self.args.scheme], env=env,
                               capture_output=True, text=True).stdout.strip()
        if found != entry:
            raise RuntimeError("xdg-mime did not make %s the default (%r)" % (entry, found))
        return env

    def start_browser(self, env):
        """Chromium with a throw-away profile that lets the page's origin open
        the scheme without asking (what "always allow" in the prompt stores)."""
        profile = os.path.join(self.work, "profile")
        os.makedirs(os.path.join(profile, "Default"))
        with open(os.path.join(profile, "Default", "Preferences"), "w") as f:
            json.dump({"protocol_handler": {"allowed_origin_protocol_pairs": {self.origin: {self.args.scheme: True}}}},
                      f)
        # As root Chromium runs only without its sandbox; --test-type keeps the
        # warning bar about that out of the pictures.
        sandbox = ["--no-sandbox", "--test-type"] if os.geteuid() == 0 else []
        args = [self.args.chromium] + sandbox + ["--user-data-dir=" + profile, "--no-first-run",
                "--no-default-browser-check", "--password-store=basic", "--disable-sync", "--disable-extensions",
                "--disable-component-update", "--disable-background-networking", "--disable-features=Translate",
                "--window-position=0,0", "--window-size=1000,720", "--lang=zh-CN", "about:blank"]
        self.browser_log = open(os.path.join(self.work, "chromium.log"), "w")
        self.browser = DevTools(args, env, self.browser_log)
        self.browser.attach_to_page()
        self.browser.open(self.url)

    # --- checks and pictures
    def expect(self, ok, text):
        if ok:
            say("ok: " + text)
        else:
            say("FAILED: " + text)
            self.failures.append(text)
        return ok

    def shot(self, name, what, browser_aside=False):
        if not self.shots:
            return
        if browser_aside:
            self.browser.move_window(1280, 0)  # off the screen, where no window manager stops it
            time.sleep(0.5)
        path = os.path.join(self.shots, name + ".png")
        subprocess.run(["import", "-window", "root", path], check=False)
        say("screenshot %s (%s)" % (path, what))
        if browser_aside:
            self.browser.move_window(0, 0)

    def offered(self):
        return self.browser.evaluate("!document.getElementById('offer').hidden")

    def page_saw_the_link_taken(self):
        """Once the page has waited for the link to be taken: whether it saw
        it go (the browser lost focus to the program) rather than offering
        the installer."""
        if not wait_for(10, lambda: self.browser.evaluate("!document.getElementById('play').disabled")):
            return False
        return self.browser.evaluate("document.getElementById('offer').hidden")

    def click_play(self):
        if not wait_for(10, lambda: self.browser.evaluate("!document.getElementById('play').disabled")):
            raise RuntimeError("the play button stays disabled")
        links = self.links_received()
        self.clicked = time.monotonic()
        self.browser.click("play")
        return links

    def say_when_the_page_left(self):
        """How long after the click the page lost focus or was hidden: what
        the page takes for the link being taken."""
        left = wait_for(10, lambda: self.browser.evaluate("!document.hasFocus() || document.hidden"), interval=0.05)
        say("the page lost focus or was hidden " +
            ("after %.1f s" % (time.monotonic() - self.clicked) if left else "not at all"))

    def links_received(self):
        try:
            with open(self.received_links) as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def record(self, path):
        try:
            with open(path, "rb") as f:
                return f.read().decode("gbk", errors="replace").splitlines()
        except FileNotFoundError:
            return None

    # --- the road
    def run(self):
        a = self.args
        self.serve()
        env = self.desktop()
        trace = os.path.join(self.work, "trace.txt")
        client_record = os.path.join(self.work, "client.txt")
        installer_record = os.path.join(self.work, "installer.txt")
        env.update(VANTORIMA_TRACE=self.windows_path(trace), MAROVENT_RECORD=self.windows_path(client_record),
                   MAROVENT_INSTALLER_RECORD=self.windows_path(installer_record))
        if a.show_ms:
            env["MAROVENT_SHOW_MS"] = str(a.show_ms)
        # No client, no handler: a machine that has never seen the client.
        self.wine("reg", "delete", SETTINGS_KEY, "/f", check=False)
        for root in ("HKLM", "HKCU"):
            self.wine("reg", "delete", r"%s\Software\Classes\%s" % (root, a.scheme), "/f", check=False)

        self.start_browser(env)
        say("Chromium %s shows %s" % (self.browser.call("Browser.getVersion", session=False)["product"], self.url))
        self.shot("demo-4-chromium-page", "the login page in Chromium")

        say("click 0: nothing is registered for %s:" % a.scheme)
        before = self.click_play()
        self.expect(wait_for(10, lambda: len(self.links_received()) > len(before)),
                    "Chromium handed the link to xdg-open, without asking")
        sent = self.links_received()[len(before):]
        self.expect(sent and sent[0].startswith(a.scheme + ":launch?v=1&") and "&sig=" in sent[0],
                    "the link is a signed %s:launch link" % a.scheme)
        self.expect(wait_for(10, self.offered), "nothing took the link: the page offers the installer")
        href = self.browser.evaluate("document.getElementById('installer').href")
        with urllib.request.urlopen(href) as reply:
            body = reply.read()
        with open(self.installer, "rb") as f:
            self.expect(body == f.read(), "the offered download is the client's installer")
        self.shot("demo-5-chromium-offer", "nothing took the link: the page offers the installer")

        say("click 1: the handler is registered, the client is not installed")
        handler = os.path.join(self.bin, "VantorimaLaunch.exe")
        self.wine(handler, "/register")
        registered = self.scheme_command() or ""
        self.expect("VantorimaLaunch.exe" in registered, "the handler is registered: " + registered)
        before = self.click_play()
        self.say_when_the_page_left()
        self.expect(wait_for(10, lambda: len(self.links_received()) > len(before)), "the link went to Wine")
        if self.shots:
            # The update dialog that the link opened, mid-download (slowed).
            wait_for(30, lambda: any(line.startswith("link :") for line in self.trace_lines(trace)))
            time.sleep(2.5)
            self.shot("demo-6-link-update-dialog", "the update dialog that the link opened", browser_aside=True)
        installed = wait_for(90 if a.slow else 45, lambda: self.record(installer_record))
        self.expect(installed and "installed=yes" in installed, "the update dialog started the installer; it "
                    "installed the client")
        workdir = wait_for(10, lambda: self.registry_value(SETTINGS_KEY, "WorkDir"))
        self.expect(workdir, "the client's WorkDir: %s" % workdir)
        checked = [line for line in self.trace_lines(trace) if line.startswith("CheckInstallerFile : ")]
        self.expect(checked and checked[-1].startswith("CheckInstallerFile : suc "),
                    "the installer's signature was checked: %s" % (checked[-1] if checked else "no check"))
        command = wait_for(10, self.scheme_command) or ""
        self.expect(workdir and ('"%s\\VantorimaLaunch.exe"' % workdir).lower() in command.lower(),
                    "the installer registered the handler beside the client: " + command)
        self.expect(self.page_saw_the_link_taken(), "the page saw that a program took the link")
        self.expect(not self.record(client_record), "the client did not start from the first link")

        say("click 2: the client is installed")
        before = self.click_play()
        self.say_when_the_page_left()
        self.expect(wait_for(10, lambda: len(self.links_received()) > len(before)), "the link went to Wine")
        received = wait_for(20, lambda: self.record(client_record))
        if self.shots:
            time.sleep(1.5)
            self.shot("demo-7-link-client-started", "the client that the second click started",
                      browser_aside=True)
        received = received or []
        say("the client received:\n    " + "\n    ".join(received))
        self.expect("name=" + a.id in received, "name " + a.id)
        self.expect("password=" + a.password in received, "password " + a.password)
        self.expect("joinkey=" + (a.join_key or "1000") in received, "join key " + (a.join_key or "1000"))
        self.expect(any(line.startswith('cmdline="%s\\Marovent.exe"' % workdir) for line in received),
                    "started from WorkDir")
        server = self.registry_value(SETTINGS_KEY, "LoginSERV")
        if a.server:
            self.expect(server == a.server, "LoginSERV %s" % server)
        self.expect(self.page_saw_the_link_taken(), "the page saw that a program took the link")
        self.expect(len(self.links_received()) == 3 and len(set(self.links_received())) == 3,
                    "every click had a link of its own")
        return not self.failures

    def trace_lines(self, trace):
        try:
            with open(trace, "rb") as f:
                return f.read().decode("gbk", errors="replace").splitlines()
        except FileNotFoundError:
            return []

    def close(self):
        if self.browser:
            self.browser.close()
        if self.server and self.server.poll() is None:
            os.killpg(self.server.pid, signal.SIGTERM)
            self.server.wait()

    def diagnose(self):
        for name in ("links.txt", "trace.txt", "server.log"):
            path = os.path.join(self.work, name)
            if os.path.exists(path):
                with open(path, "rb") as f:
                    text = f.read().decode("gbk", errors="replace")
                say("%s:\n    %s" % (name, "\n    ".join(text.splitlines()[-30:])))
        if os.environ.get("DISPLAY"):
            path = os.path.join(self.args.failure_shots or self.work, "browser-road-failure.png")
            subprocess.run(["import", "-window", "root", path], check=False)
            say("screenshot of the failure: " + path)


def session_environment(session, root):
    """Starts a Wine session in session that trusts root; its environment."""
    script = os.path.join(TOP, "tools", "wine-session.sh")
    subprocess.run([script, "start", session, root], check=True, stdout=subprocess.DEVNULL)
    env = subprocess.run(["bash", "-c", '. "$1/wine.env" && env -0', "-", session], capture_output=True,
                         check=True).stdout
    return dict(item.split("=", 1) for item in env.decode().split("\0") if "=" in item)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--bin", default=os.path.join(TOP, "build", "win32", "bin"),
                        help="the Windows programs: VantorimaLaunch.exe, VokWeiqi.exe")
    parser.add_argument("--link-tool", default=os.path.join(TOP, "build", "host", "bin", "vantorima-link"))
    parser.add_argument("--test-signing", default=os.path.join(TOP, "build", "win32", "test-signing"),
                        help="the build's test certificates: root.pem, tls.pem and tls.key, link-key.pem")
    parser.add_argument("--link-key", help="the private key that signs links (default: the test key)")
    parser.add_argument("--port", type=int, required=True,
                        help="the page's port, and the installer's when it is served over http; 0 picks one")
    parser.add_argument("--tls-port", type=int, help="the installer's port when it is served over https")
    parser.add_argument("--scheme", default="vantorima")
    parser.add_argument("--id", default="guest")
    parser.add_argument("--password", default="go-demo-2026")
    parser.add_argument("--join-key", default="")
    parser.add_argument("--server", default="127.0.0.1:7000")
    parser.add_argument("--chromium", default="chromium")
    parser.add_argument("--session", help="start a Wine session of its own in this folder, stopped at the end")
    parser.add_argument("--slow", help="the server's ~slow mode for the download, e.g. 40,16384")
    parser.add_argument("--show-ms", type=int, default=0, help="the stand-in client shows what it got this long")
    parser.add_argument("--shots", help="screenshots into this folder")
    parser.add_argument("--failure-shots", help="where a failure's screenshot goes (default: the work folder)")
    parser.add_argument("--keep", action="store_true", help="keep the work folder")
    args = parser.parse_args()
    args.link_key = args.link_key or os.path.join(args.test_signing, "link-key.pem")
    for path in (args.link_tool, args.link_key, os.path.join(args.bin, "VokWeiqi.exe")):
        if not os.path.exists(path):
            say("missing " + path)
            return 2
    if not shutil.which(args.chromium) or not shutil.which("xdg-open"):
        say("Chromium and xdg-utils are missing: tools/setup.sh installs them")
        return 2

    if args.session:
        os.environ.update(session_environment(os.path.abspath(args.session),
                                              os.path.join(args.test_signing, "root.pem")))
    work = tempfile.mkdtemp(prefix="browser-road-")  # no blanks: the desktop entry's Exec splits at them
    road = Road(args, work)
    ok = False
    try:
        ok = road.run()
    except (RuntimeError, OSError, subprocess.CalledProcessError) as error:
        say("FAILED: %s" % error)
    finally:
        if not ok:
            road.diagnose()
        road.close()
        if args.session:
            subprocess.run([os.path.join(TOP, "tools", "wine-session.sh"), "stop", os.path.abspath(args.session)])
        if args.keep:
            say("work folder kept: " + work)
        else:
            shutil.rmtree(work, ignore_errors=True)
    say("check passed" if ok else "check FAILED")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
