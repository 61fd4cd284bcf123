#!/usr/bin/env python3
"""The demo login page's link door in a real browser, Chromium or Firefox
(Debian's), under Xvfb, handing the signed link to Wine.

The road: the page (served by testbed/update_server.py, which signs links for
POST /link with the link tool and the test key) -> the play button -> the
page navigates to <scheme>:launch?... -> the browser, allowed to open that
scheme for the page's origin without asking (in a throw-away profile's own
preferences) -> the xdg default handler for the scheme, named in a
throw-away HOME -> an opener that does what Windows' shell does with such a
link: it reads the command registered for the scheme
(HKCU\\Software\\Classes\\<scheme>\\shell\\open\\command, the machine's under
HKLM when the user has none: Wine's own shell ignores the per-user classes),
puts the link for %1 and runs it in the session's prefix. What the browser
reaches is the registration the launcher wrote. Nothing machine-wide is
written outside the Wine prefix.

The player's roads, one after the other in one browser:
  (a) nothing installed: a press; nothing takes the link, and the page offers
      the launcher. The player clicks the offer's link (the browser
      downloads it), leaves the page, runs the downloaded launcher with no
      argument and answers its box, and comes back: the page's focus retry
      asks for a new link by itself; the launcher's update dialog installs
      the client and the client starts signed in;
  (c) everything installed: one press starts the client;
  (b) the client installed from before, no handler (every registration of
      the scheme and the launcher gone): the player runs the launcher, and
      the next press starts the client.
After each press the page must say what the launcher reported (through the
server's link state). --focus-retry checks the page alone (no Wine; the
launcher's reports posted as a launcher posts them): its retry asks for one
new link when the player comes back after an offer, and no more; a late
report hides the offer; each report's text.

Runs inside a Wine session: the environment of one (wine.env sourced), or
--session DIR to start one of its own and stop it at the end. Fails unless
every step did what it should; --shots DIR saves screenshots of the page, the
offer, the launcher's box, the update dialog and the started client.
"""

import argparse
import ctypes
import ctypes.util
import json
import select
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request
from ctypes import POINTER, byref, c_char_p, c_int, c_uint, c_ulong, c_void_p

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SETTINGS_KEY = r"HKCU\Software\Quorsel\Marovent\OrvMain"
# The page's texts, as far as the tests tell them apart.
WHAT_TO_DO = "如果浏览器询问，请选择“打开”。"
STARTED = "客户端已启动"
PRESS_AGAIN = "请再按一次“开始游戏”。"
BOX_CAPTION = "VOK 围棋"


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


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


# Xlib's own handler ends the process on any error, such as a window that
# went away between the listing and the question about it: ignore them.
X_ERRORS = ctypes.CFUNCTYPE(c_int, c_void_p, c_void_p)(lambda display, event: 0)


def x_focus(pid):
    """Gives the X input focus to the top-level window of process pid that is
    on the screen, as a window manager does for a click on it (there is none
    under Xvfb: a browser that another program's window took the focus from
    never gets it back by itself). Whether there was one."""
    x = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11") or "libX11.so.6")
    x.XOpenDisplay.restype = c_void_p
    x.XOpenDisplay.argtypes = [c_char_p]
    x.XDefaultRootWindow.restype = c_ulong
    x.XDefaultRootWindow.argtypes = [c_void_p]
    x.XInternAtom.restype = c_ulong
    x.XInternAtom.argtypes = [c_void_p, c_char_p, c_int]
    x.XQueryTree.argtypes = [c_void_p, c_ulong, POINTER(c_ulong), POINTER(c_ulong), POINTER(POINTER(c_ulong)),
                             POINTER(c_uint)]
    x.XGetWindowProperty.argtypes = [c_void_p, c_ulong, c_ulong, ctypes.c_long, ctypes.c_long, c_int, c_ulong,
                                     POINTER(c_ulong), POINTER(c_int), POINTER(c_ulong), POINTER(c_ulong),
                                     POINTER(ctypes.c_void_p)]
    x.XSetInputFocus.argtypes = [c_void_p, c_ulong, c_int, c_ulong]
    x.XRaiseWindow.argtypes = [c_void_p, c_ulong]
    x.XFree.argtypes = [c_void_p]
    x.XSync.argtypes = [c_void_p, c_int]
    x.XCloseDisplay.argtypes = [c_void_p]
    x.XSetErrorHandler.argtypes = [c_void_p]
    x.XSetErrorHandler(ctypes.cast(X_ERRORS, c_void_p))
    class Attributes(ctypes.Structure):
        _fields_ = [("x", c_int), ("y", c_int), ("width", c_int), ("height", c_int), ("border_width", c_int),
                    ("depth", c_int), ("visual", c_void_p), ("root", c_ulong), ("c_class", c_int),
                    ("bit_gravity", c_int), ("win_gravity", c_int), ("backing_store", c_int),
                    ("backing_planes", c_ulong), ("backing_pixel", c_ulong), ("save_under", c_int),
                    ("colormap", c_ulong), ("map_installed", c_int), ("map_state", c_int),
                    ("all_event_masks", ctypes.c_long), ("your_event_mask", ctypes.c_long),
                    ("do_not_propagate_mask", ctypes.c_long), ("override_redirect", c_int), ("screen", c_void_p)]
    x.XGetWindowAttributes.argtypes = [c_void_p, c_ulong, POINTER(Attributes)]
    display = x.XOpenDisplay(None)
    if not display:
        return False
    try:
        root = x.XDefaultRootWindow(display)
        wm_pid = x.XInternAtom(display, b"_NET_WM_PID", 0)
        r, p, children, n = c_ulong(), c_ulong(), POINTER(c_ulong)(), c_uint()
        if not x.XQueryTree(display, root, byref(r), byref(p), byref(children), byref(n)):
            return False
        windows = [children[i] for i in range(n.value)]
        x.XFree(children)
        for window in reversed(windows):
            kind, fmt, items, after, data = c_ulong(), c_int(), c_ulong(), c_ulong(), c_void_p()
            if x.XGetWindowProperty(display, window, wm_pid, 0, 1, 0, 6, byref(kind), byref(fmt), byref(items),
                                    byref(after), byref(data)) != 0 or not data.value:
                continue
            owner = ctypes.cast(data, POINTER(c_ulong))[0] if items.value else None
            x.XFree(data)
            attributes = Attributes()
            x.XGetWindowAttributes(display, window, byref(attributes))
            if owner == pid and attributes.map_state == 2 and attributes.x < 1280:
                x.XRaiseWindow(display, window)
                x.XSetInputFocus(display, window, 2, 0)
                x.XSync(display, 0)
                return True
        return False
    finally:
        x.XCloseDisplay(display)


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


class Chromium:
    """Debian's Chromium with a throw-away profile that lets the page's origin
    open the scheme without asking (what "always allow" in its prompt stores;
    ask: not, so it shows its own prompt as for a player's first time) and
    downloads into a folder without asking."""

    name = "Chromium"

    def __init__(self, args, env, work, origin, downloads, ask=False):
        profile = os.path.join(work, "profile")
        os.makedirs(os.path.join(profile, "Default"))
        preferences = {"download": {"default_directory": downloads, "prompt_for_download": False,
                                    "directory_upgrade": True}}
        if not ask:
            preferences["protocol_handler"] = {"allowed_origin_protocol_pairs": {origin: {args.scheme: True}}}
        with open(os.path.join(profile, "Default", "Preferences"), "w") as f:
            json.dump(preferences, f)
        # As root Chromium runs only without its sandbox; --test-type keeps the
        # warning bar about that out of the pictures.
        sandbox = ["--no-sandbox", "--test-type"] if os.geteuid() == 0 else []
        command = [args.chromium] + sandbox + ["--user-data-dir=" + profile, "--no-first-run",
                   "--no-default-browser-check", "--password-store=basic", "--disable-sync", "--disable-extensions",
                   "--disable-component-update", "--disable-background-networking", "--disable-features=Translate",
                   "--window-position=0,0", "--window-size=1000,720", "--lang=zh-CN", "about:blank"]
        self.log = open(os.path.join(work, "chromium.log"), "w")
        self.devtools = DevTools(command, env, self.log)
        self.devtools.attach_to_page()
        self.version = self.devtools.call("Browser.getVersion", session=False)["product"]
        self.aside = None

    def open(self, url):
        self.devtools.open(url)

    def evaluate(self, expression):
        return self.devtools.evaluate(expression)

    def click(self, element_id):
        self.devtools.click(element_id)

    def move_window(self, left, top):
        self.devtools.move_window(left, top)

    def leave(self):
        """The player turns to another window: a second one, off the screen."""
        self.aside = self.devtools.call("Target.createTarget", {"url": "about:blank", "newWindow": True},
                                        session=False)["targetId"]
        window = self.devtools.call("Browser.getWindowForTarget", {"targetId": self.aside}, session=False)["windowId"]
        self.devtools.call("Browser.setWindowBounds", {"windowId": window, "bounds": {"left": 1280, "top": 0}},
                           session=False)

    def come_back(self):
        if self.aside:
            self.devtools.call("Target.closeTarget", {"targetId": self.aside}, session=False)
            self.aside = None
        self.devtools.call("Page.bringToFront")
        x_focus(self.devtools.process.pid)

    def close(self):
        self.devtools.close()


class Marionette:
    """Firefox's remote protocol on a TCP port: each message is its length in
    decimal, a colon and JSON; a command [0, id, name, parameters] gets
    [1, id, error, result]."""

    def __init__(self, port, process, timeout=60):
        deadline = time.monotonic() + timeout
        while True:
            try:
                self.socket = socket.create_connection(("127.0.0.1", port), timeout=5)
                break
            except OSError:
                if process.poll() is not None or time.monotonic() > deadline:
                    raise RuntimeError("Firefox offers no Marionette on port %d" % port)
                time.sleep(0.2)
        self.socket.settimeout(60)
        self.buffer = b""
        self.last_id = 0
        hello = self.read()
        if hello.get("marionetteProtocol") != 3:
            raise RuntimeError("Marionette speaks another protocol: %r" % hello)

    def read(self):
        while b":" not in self.buffer:
            self.receive()
        size, _, rest = self.buffer.partition(b":")
        size = int(size)
        self.buffer = rest
        while len(self.buffer) < size:
            self.receive()
        message, self.buffer = self.buffer[:size], self.buffer[size:]
        return json.loads(message)

    def receive(self):
        data = self.socket.recv(1 << 16)
        if not data:
            raise RuntimeError("Firefox ended")
        self.buffer += data

    def call(self, name, params=None):
        self.last_id += 1
        data = json.dumps([0, self.last_id, name, params or {}]).encode()
        self.socket.sendall(b"%d:%s" % (len(data), data))
        while True:
            reply = self.read()
            if reply[0] == 1 and reply[1] == self.last_id:
                if reply[2]:
                    raise RuntimeError("%s: %s" % (name, reply[2].get("message", reply[2])))
                return reply[3]

    def close(self):
        self.socket.close()


class Firefox:
    """Debian's firefox-esr with a throw-away profile whose own preferences
    (user.js) and handlers.json hand the scheme to the system's default
    handler without asking (ask: not, so it shows its own prompt as for a
    player's first time), and that downloads into a folder without asking;
    driven over Marionette."""

    name = "Firefox"

    def __init__(self, args, env, work, origin, downloads, ask=False):
        profile = os.path.join(work, "profile")
        os.makedirs(profile)
        port = free_port()
        scheme = args.scheme
        prefs = {
            "marionette.port": port,
            "browser.download.folderList": 2,
            "browser.download.dir": downloads,
            "browser.download.useDownloadDir": True,
            "browser.download.always_ask_before_handling_new_types": False,
            "browser.download.alwaysOpenPanel": False,
            "browser.safebrowsing.downloads.enabled": False,
            "browser.shell.checkDefaultBrowser": False,
            "browser.startup.homepage_override.mstone": "ignore",
            "browser.aboutwelcome.enabled": False,
            "datareporting.policy.dataSubmissionEnabled": False,
            "toolkit.telemetry.reportingpolicy.firstRun": False,
            "app.update.disabledForTesting": True,
            "intl.locale.requested": "zh-CN",
        }
        if ask:
            # Marionette's recommended preferences fake the window's focus and
            # take the prompt's button delay away: the browser as players have it.
            prefs["remote.prefs.recommended"] = False
        else:
            prefs.update({"network.protocol-handler.external." + scheme: True,
                          "network.protocol-handler.warn-external." + scheme: False,
                          "security.external_protocol_requires_permission": False})
            with open(os.path.join(profile, "handlers.json"), "w") as f:
                json.dump({"defaultHandlersVersion": {}, "mimeTypes": {},
                           "schemes": {scheme: {"action": 4, "ask": False}}}, f)  # 4: the system's default
        with open(os.path.join(profile, "user.js"), "w") as f:
            for name, value in prefs.items():
                f.write("user_pref(%s, %s);\n" % (json.dumps(name), json.dumps(value)))
        self.log = open(os.path.join(work, "firefox.log"), "w")
        self.process = subprocess.Popen([args.firefox, "--marionette", "--no-remote", "--profile", profile,
                                         "about:blank"], env=env, stdin=subprocess.DEVNULL, stdout=self.log,
                                        stderr=subprocess.STDOUT, start_new_session=True)
        self.marionette = None
        try:
            self.marionette = Marionette(port, self.process)
            # No waiting for loads (a download or another program's link is no load): open() waits itself.
            session = self.marionette.call("WebDriver:NewSession",
                                           {"capabilities": {"alwaysMatch": {"pageLoadStrategy": "none"}}})
        except (RuntimeError, OSError):
            self.close()
            raise
        self.version = "Firefox " + session["capabilities"]["browserVersion"]
        self.page = self.marionette.call("WebDriver:GetWindowHandle")["value"]
        self.aside = None
        self.move_window(0, 0, 1000, 720)

    def open(self, url):
        self.marionette.call("WebDriver:Navigate", {"url": url})
        if not wait_for(15, lambda: self.evaluate("document.readyState == 'complete' && location.href") == url):
            raise RuntimeError("the page did not load: " + url)

    def evaluate(self, expression):
        return self.marionette.call("WebDriver:ExecuteScript",
                                    {"script": "return (%s);" % expression, "args": []}).get("value")

    def click(self, element_id):
        """A click through the browser's own input (a trusted event with the
        user activation that opening another program's link asks for)."""
        found = self.marionette.call("WebDriver:FindElement", {"using": "css selector", "value": "#" + element_id})
        self.marionette.call("WebDriver:ElementClick", {"id": next(iter(found["value"].values()))})

    def move_window(self, left, top, width=None, height=None):
        rect = {"x": left, "y": top}
        if width:
            rect.update(width=width, height=height)
        self.marionette.call("WebDriver:SetWindowRect", rect)

    def leave(self):
        self.aside = self.marionette.call("WebDriver:NewWindow", {"type": "window", "focus": True})["handle"]
        self.marionette.call("WebDriver:SwitchToWindow", {"handle": self.aside, "focus": True})
        self.move_window(1280, 0)

    def come_back(self):
        if self.aside:
            self.marionette.call("WebDriver:CloseWindow")
            self.aside = None
        self.marionette.call("WebDriver:SwitchToWindow", {"handle": self.page, "focus": True})
        x_focus(self.process.pid)

    def close(self):
        if self.marionette:
            try:
                self.marionette.call("Marionette:Quit")
                self.process.wait(10)
            except (RuntimeError, OSError, subprocess.TimeoutExpired):
                pass
            self.marionette.close()
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.wait()


BROWSERS = {"chromium": Chromium, "firefox": Firefox}


# What the xdg default handler runs for a link: records it, then does what
# Windows' shell does (Wine's reads the machine's classes alone): the command
# registered for the scheme, the user's before the machine's, with the link
# for %1, split into arguments as Windows splits a command line.
OPENER = r'''#!/usr/bin/env python3
import os, subprocess, sys
link = sys.argv[1] if len(sys.argv) > 1 else ""
with open(%(received)r, "a") as f:
    f.write(link + "\n")
if not %(prefix)r:
    sys.exit(0)
try:
    with open(%(received)r + ".env") as f:  # what the case at hand gives the programs
        for line in f:
            name, _, value = line.rstrip("\n").partition("=")
            if name:
                os.environ[name] = value
except FileNotFoundError:
    pass
os.environ["WINEPREFIX"] = %(prefix)r
if %(tmpdir)r:
    os.environ["TMPDIR"] = %(tmpdir)r  # Wine finds its server through it: the session's
else:
    os.environ.pop("TMPDIR", None)


def registered(root):
    key = root + r"\Software\Classes\%(scheme)s\shell\open\command"
    done = subprocess.run(["wine", "reg", "query", key, "/ve"], stdin=subprocess.DEVNULL, capture_output=True)
    for line in done.stdout.decode("gbk", errors="replace").splitlines():
        parts = line.strip().split(None, 2)
        if len(parts) == 3 and parts[1] in ("REG_SZ", "REG_EXPAND_SZ"):
            return parts[2]
    return None


def split(command):
    """The arguments of a Windows command line (quotes group, \\" is a quote)."""
    out, word, quoted, slashes, started = [], "", False, 0, False
    for c in command:
        if c == "\\":
            slashes += 1
            continue
        if c == '"':
            word += "\\" * (slashes // 2)
            if slashes %% 2:
                word += '"'
            else:
                quoted = not quoted
            slashes, started = 0, True
            continue
        word += "\\" * slashes
        slashes = 0
        if c in " \t" and not quoted:
            if started or word:
                out.append(word)
            word, started = "", False
        else:
            word += c
            started = True
    word += "\\" * slashes
    if started or word:
        out.append(word)
    return out


command = registered("HKCU") or registered("HKLM")
with open(%(received)r + ".commands", "a") as f:
    f.write((command or "(nothing registered)") + "\n")
if command:
    subprocess.Popen(["wine"] + split(command.replace("%%1", link)), stdin=subprocess.DEVNULL,
                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
'''


class Road:
    name = "browser-road"

    def __init__(self, args, work):
        self.args = args
        self.work = work
        self.bin = args.bin
        self.server = None
        self.browser = None
        self.failures = []
        self.shots = args.shots
        self.times = []

    # --- Wine
    def wine(self, *command, check=True):
        done = subprocess.run(["wine"] + list(command), stdin=subprocess.DEVNULL, capture_output=True)
        if check and done.returncode != 0:
            raise RuntimeError("wine %s: exit %d" % (" ".join(command), done.returncode))
        return done.stdout.decode("gbk", errors="replace")

    def windows_path(self, path):
        return subprocess.run(["winepath", "-w", path], capture_output=True, check=True,
                              text=True).stdout.strip()

    def unix_path(self, path):
        return subprocess.run(["winepath", "-u", path], capture_output=True, check=True,
                              text=True).stdout.strip()

    def registry_value(self, key, name=None):
        done = subprocess.run(["wine", "reg", "query", key] + (["/v", name] if name else ["/ve"]),
                              stdin=subprocess.DEVNULL, capture_output=True)
        for line in done.stdout.decode("gbk", errors="replace").splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) == 3 and parts[1].startswith("REG_"):
                return parts[2]
        return None

    def scheme_command(self, root="HKCU"):
        return self.registry_value(r"%s\Software\Classes\%s\shell\open\command" % (root, self.args.scheme))

    def forget_the_handler(self):
        """No program registered for the scheme, no launcher installed."""
        for root in ("HKCU", "HKLM"):
            self.wine("reg", "delete", r"%s\Software\Classes\%s" % (root, self.args.scheme), "/f", check=False)
        self.wine("reg", "delete", r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vantorima", "/f",
                  check=False)
        programs = self.unix_path(self.local_app_data + r"\Programs\Vantorima")
        shutil.rmtree(programs, ignore_errors=True)

    # --- the page's server
    def serve(self):
        root = os.path.join(self.work, "site")
        os.makedirs(os.path.join(root, "service"))
        shutil.copy(os.path.join(TOP, "testbed", "demo", "login.html"), root)
        self.installer = os.path.join(root, "service", "VokWeiqi.exe")
        shutil.copy(os.path.join(self.bin, "VokWeiqi.exe"), self.installer)
        # The launcher that the page offers: the 32-bit handler, signed as a
        # release signs it (make package).
        self.launcher = os.path.join(root, "service", "VantorimaLaunch.exe")
        signing = self.args.test_signing
        subprocess.run(["osslsigncode", "sign", "-certs", os.path.join(signing, "chain.pem"), "-key",
                        os.path.join(signing, "key.pem"), "-h", "sha256", "-n", "VOK 围棋", "-in",
                        os.path.join(self.bin, "VantorimaLaunch.exe"), "-out", self.launcher],
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, check=True)
        self.site = root
        a = self.args
        self.server_log = os.path.join(self.work, "server.log")
        self.server, self.origin = self.start_server("", a.port, self.server_log)
        self.url = self.origin + "/login.html"
        if a.slow:
            urllib.request.urlopen(self.origin + "/~set/~slow=" + a.slow + "/").read()

    def start_server(self, name, port, log, *options):
        """A server of the site that signs links; its process and origin."""
        port_file = os.path.join(self.work, name + "port")
        a = self.args
        command = ["/usr/bin/python3", os.path.join(TOP, "testbed", "update_server.py"), "--root", self.site,
                   "--port", str(port), "--port-file", port_file, "--lifetime", "900", "--idle", "0",
                   "--verbose", "--link-scheme", a.scheme, "--link-key", a.link_key, "--link-id", a.id,
                   "--link-pass", a.password, "--link-join-key", a.join_key, "--link-server", a.server]
        command += list(options)
        if a.tls_port is not None and not name:  # the installer over https://localhost, the page over plain http
            command += ["--tls-port", str(a.tls_port), "--tls", os.path.join(a.test_signing, "tls.pem"),
                        os.path.join(a.test_signing, "tls.key")]
        server = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=open(log, "w"),
                                  stderr=subprocess.STDOUT, start_new_session=True)
        if not wait_for(10, lambda: os.path.exists(port_file) or server.poll() is not None) or \
                server.poll() is not None:
            raise RuntimeError("the page's server did not start (port %d taken?)" % port)
        with open(port_file) as f:
            return server, "http://127.0.0.1:%d" % int(f.read())

    def links_asked(self):
        """How many links the page asked its server for."""
        with open(self.server_log, errors="replace") as f:
            return sum('"POST /link ' in line for line in f)

    # --- the throw-away desktop user
    def desktop(self, wine=True):
        """A HOME whose xdg settings send the scheme's links to the opener."""
        home = os.path.join(self.work, "home")
        applications = os.path.join(home, ".local", "share", "applications")
        os.makedirs(applications)
        os.makedirs(os.path.join(home, ".config"))
        self.downloads = os.path.join(home, "Downloads")
        os.makedirs(self.downloads)
        self.received_links = os.path.join(self.work, "links.txt")
        opener = os.path.join(self.work, "open-in-wine")
        with open(opener, "w") as f:
            f.write(OPENER % {"received": self.received_links, "scheme": self.args.scheme,
                              "prefix": os.environ["WINEPREFIX"] if wine else "",
                              "tmpdir": os.environ.get("TMPDIR", "")})
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
                   XDG_DOWNLOAD_DIR=self.downloads, TMPDIR=self.work)  # the browser's temporary files go with the rest
        subprocess.run(["xdg-mime", "default", entry, "x-scheme-handler/" + self.args.scheme], env=env, check=True)
        found = subprocess.run(["xdg-mime", "query", "default", "x-scheme-handler/" + self.args.scheme], env=env,
                               capture_output=True, text=True).stdout.strip()
        if found != entry:
            raise RuntimeError("xdg-mime did not make %s the default (%r)" % (entry, found))
        return env

    def start_browser(self, env, ask=False):
        self.browser = BROWSERS[self.args.browser](self.args, env, self.work, self.origin, self.downloads, ask)
        self.browser.open(self.url)
        say("%s shows %s" % (self.browser.version, self.url))

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

    def status(self):
        return self.browser.evaluate("document.getElementById('status').textContent")

    def says(self, start):
        """Whether the page's status line starts with start."""
        return (self.status() or "").startswith(start)

    def expect_the_page_saw_the_link_taken(self, seconds=20):
        """The launcher's report reached the page through the service."""
        self.expect(wait_for(seconds, lambda: self.says(STARTED)),
                    "the page says the client started: %s" % self.status())
        self.expect(self.browser.evaluate("document.getElementById('offer').hidden"), "and offers nothing")

    def click(self, element_id):
        self.browser.click(element_id)

    def client_runs(self):
        """Whether a stand-in client of this session's prefix runs (Wine's
        processes carry the Windows program's path as their command line)."""
        prefix = os.environ.get("WINEPREFIX")
        if not prefix:
            return False
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    if b"marovent.exe" not in f.read().lower():
                        continue
                with open("/proc/%s/environ" % pid, "rb") as f:
                    if ("WINEPREFIX=" + prefix).encode() in f.read().split(b"\0"):
                        return True
            except OSError:
                pass
        return False

    def wait_for_the_game_to_end(self):
        """A player presses play once the last game is over: while the
        account's client runs, a link only brings it to the front."""
        if not wait_for(30, lambda: not self.client_runs()):
            raise RuntimeError("the stand-in client does not end")

    def click_play(self):
        if not wait_for(10, lambda: self.browser.evaluate("!document.getElementById('play').disabled")):
            raise RuntimeError("the play button stays disabled")
        self.wait_for_the_game_to_end()
        links = self.links_received()
        self.browser.come_back()  # a player's click brings the window to the front
        self.click("play")
        return links

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

    def trace_lines(self):
        return self.record(self.trace) or []

    def expect_the_offer(self, before):
        """After a press that nothing took: the link went out and the page
        offers the launcher first, the installer second."""
        self.expect(wait_for(10, lambda: len(self.links_received()) > len(before)),
                    "%s handed the link to the system's handler, without asking" % self.browser.name)
        sent = self.links_received()[len(before):]
        self.expect(sent and sent[0].startswith(self.args.scheme + ":launch?v=1&") and "&sig=" in sent[0],
                    "the link is a signed %s:launch link" % self.args.scheme)
        self.expect(self.says(WHAT_TO_DO), "the page says what to do: %s" % self.status())
        self.expect(wait_for(20, self.offered), "nothing took the link: the page offers the launcher")
        hrefs = self.browser.evaluate("[document.getElementById('launcher').href,"
                                      " document.getElementById('installer').href]")
        self.expect(hrefs == [self.origin + "/service/VantorimaLaunch.exe", self.origin + "/service/VokWeiqi.exe"],
                    "the offer's links: the launcher, then the client's installer: %s" % hrefs)

    def download_the_launcher(self):
        """The player clicks the offer's link; the browser downloads it."""
        for name in os.listdir(self.downloads):
            os.remove(os.path.join(self.downloads, name))
        self.click("launcher")
        with open(self.launcher, "rb") as f:
            served = f.read()

        def downloaded():
            # Under its own name once complete (browsers write elsewhere first).
            path = os.path.join(self.downloads, "VantorimaLaunch.exe")
            try:
                with open(path, "rb") as f:
                    return path if f.read() == served else None
            except FileNotFoundError:
                return None

        path = wait_for(20, downloaded)
        self.expect(path, "%s downloaded the offered launcher, the signed handler: %s" % (self.browser.name, path))
        if not path:
            raise RuntimeError("no launcher to run")
        return path

    def run_the_launcher(self, path, shot=None):
        """As a player runs it from the download folder: no argument; its
        box answered. The launcher's exit code."""
        hold = "1500" if shot else "0"
        answer = subprocess.Popen(["wine", os.path.join(self.bin, "AnswerBox.exe"), "60", hold],
                                  stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        launcher = subprocess.Popen(["wine", path], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL)
        box = answer.stdout.readline().decode("utf-8", errors="replace").strip()
        if shot and box:
            time.sleep(0.5)
            self.shot(shot, "the launcher's box", browser_aside=True)
        answered = answer.wait(70) == 0
        try:
            code = launcher.wait(60)
        except subprocess.TimeoutExpired:
            launcher.kill()
            code = None
        self.expect(answered, "the launcher showed its box: %s" % box)
        self.expect(code == 0, "the launcher ended with exit code %s" % code)
        command = self.scheme_command() or ""
        self.expect(("%s\\Programs\\Vantorima\\VantorimaLaunch.exe" % self.local_app_data).lower() in command.lower(),
                    "the launcher installed itself per user and registered the scheme there: " + command)

    def expect_the_client(self, workdir):
        received = wait_for(30, lambda: self.record(self.client_record)) or []
        a = self.args
        say("the client received:\n    " + "\n    ".join(received))
        self.expect("name=" + a.id in received, "name " + a.id)
        self.expect("password=" + a.password in received, "password " + a.password)
        self.expect("joinkey=" + (a.join_key or "1000") in received, "join key " + (a.join_key or "1000"))
        self.expect(any(line.startswith('cmdline="%s\\Marovent.exe"' % workdir) for line in received),
                    "started from WorkDir")
        return received

    def forget_the_client_record(self):
        try:
            os.remove(self.client_record)
        except FileNotFoundError:
            pass

    def timed(self, name, since):
        seconds = time.monotonic() - since
        self.times.append("%s %.1f s" % (name, seconds))
        say("%s took %.1f s" % (name, seconds))

    # --- the roads
    def prepare(self):
        self.serve()
        env = self.desktop()
        self.trace = os.path.join(self.work, "trace.txt")
        self.client_record = os.path.join(self.work, "client.txt")
        self.installer_record = os.path.join(self.work, "installer.txt")
        env.update(VANTORIMA_TRACE=self.windows_path(self.trace),
                   MAROVENT_RECORD=self.windows_path(self.client_record),
                   MAROVENT_INSTALLER_RECORD=self.windows_path(self.installer_record))
        if self.args.show_ms:
            env["MAROVENT_SHOW_MS"] = str(self.args.show_ms)
        # Wine's programs started here (the launcher, the box's answerer) see what the browser's do.
        os.environ.update({k: env[k] for k in ("VANTORIMA_TRACE", "MAROVENT_RECORD", "MAROVENT_INSTALLER_RECORD")})
        if self.args.show_ms:
            os.environ["MAROVENT_SHOW_MS"] = env["MAROVENT_SHOW_MS"]
        self.local_app_data = self.wine("cmd", "/c", "echo", "%LOCALAPPDATA%").strip()
        # A machine that has never seen the client.
        self.wine("reg", "delete", SETTINGS_KEY, "/f", check=False)
        self.forget_the_handler()
        return env

    def run(self):
        a = self.args
        env = self.prepare()
        self.start_browser(env)
        self.shot("demo-4-%s-page" % a.browser, "the login page in " + self.browser.name)

        say("road (a): nothing installed")
        started = time.monotonic()
        before = self.click_play()
        if self.shots:
            wait_for(5, lambda: self.says(WHAT_TO_DO))
            self.shot("demo-5-%s-what-to-do" % a.browser, "after a press: what to do while the page waits")
        self.expect_the_offer(before)
        self.expect(self.links_asked() == 1, "one press, one link asked for")
        self.shot("demo-6-%s-offer" % a.browser, "nothing took the link: the page offers the launcher")
        path = self.download_the_launcher()
        before = self.links_received()
        self.browser.leave()
        self.run_the_launcher(path, shot="demo-7-launcher-box" if a.browser == "chromium" else None)
        # (A browser may take its focus back by itself when the box goes.)
        self.browser.come_back()
        self.expect(wait_for(15, lambda: len(self.links_received()) > len(before)),
                    "back on the page: the page asked for a new link by itself and opened it")
        self.expect(self.links_asked() == 2, "the focus retry asked for one link")
        if self.shots:
            # The update dialog that the link opened, mid-download (slowed).
            wait_for(30, lambda: any(line.startswith("link :") for line in self.trace_lines()))
            time.sleep(2.5)
            self.shot("demo-8-link-update-dialog", "the update dialog that the link opened", browser_aside=True)
        installed = wait_for(90 if a.slow else 45, lambda: self.record(self.installer_record))
        self.expect(installed and "installed=yes" in installed,
                    "the update dialog started the installer; it installed the client")
        workdir = wait_for(10, lambda: self.registry_value(SETTINGS_KEY, "WorkDir"))
        self.expect(workdir, "the client's WorkDir: %s" % workdir)
        checked = [line for line in self.trace_lines() if line.startswith("CheckInstallerFile : ")]
        self.expect(checked and checked[-1].startswith("CheckInstallerFile : suc "),
                    "the installer's signature was checked: %s" % (checked[-1] if checked else "no check"))
        self.expect_the_client(workdir)
        if self.shots:
            time.sleep(1.5)
            self.shot("demo-9-link-client-started", "the client that the launcher started after the install",
                      browser_aside=True)
        server = self.registry_value(SETTINGS_KEY, "LoginSERV")
        if a.server:
            self.expect(server == a.server, "LoginSERV %s" % server)
        self.expect_the_page_saw_the_link_taken()
        self.timed("road (a)", started)
        if not workdir:
            raise RuntimeError("no client installed: the other roads need it")

        say("road (c): everything installed")
        self.forget_the_client_record()
        started = time.monotonic()
        before = self.click_play()
        self.expect(wait_for(10, lambda: len(self.links_received()) > len(before)), "the link went to Wine")
        self.expect_the_client(workdir)
        self.expect_the_page_saw_the_link_taken()
        self.shot("demo-10-%s-started" % a.browser, "the launcher reported the client started: the page says so")
        self.timed("road (c)", started)

        say("road (b): the client installed from before, no handler")
        self.forget_the_handler()
        try:
            os.remove(self.unix_path(workdir + "\\VantorimaLaunch.exe"))
        except OSError:
            pass
        self.forget_the_client_record()
        installs = len(self.record(self.installer_record) or [])
        started = time.monotonic()
        self.run_the_launcher(path)
        before = self.click_play()
        self.expect(wait_for(10, lambda: len(self.links_received()) > len(before)), "the link went to Wine")
        self.expect_the_client(workdir)
        self.expect(len(self.record(self.installer_record) or []) == installs, "nothing was installed again")
        self.expect_the_page_saw_the_link_taken()
        self.timed("road (b)", started)

        links = self.links_received()
        self.expect(len(links) == len(set(links)), "every link was a link of its own")
        say("times in %s: %s" % (self.browser.name, ", ".join(self.times)))
        return not self.failures

    def report(self, link, outcome):
        """What a launcher that took link tells the service."""
        nonce = urllib.parse.parse_qs(urllib.parse.urlsplit(link).query)["nonce"][0]
        body = urllib.parse.urlencode({"nonce": nonce, "outcome": outcome, "version": "1.0.0.0"}).encode()
        urllib.request.urlopen(urllib.request.Request(self.origin + "/link/report", body)).read()

    def run_focus_retry(self):
        """The page's focus retry and its texts for the launcher's reports,
        without Wine: nothing takes a link; a case's report is posted as the
        launcher posts it."""
        self.serve()
        env = self.desktop(wine=False)
        self.start_browser(env)
        before = self.click_play()
        self.expect_the_offer(before)
        self.expect(self.links_asked() == 1, "one press, one link asked for")
        self.browser.leave()
        time.sleep(0.5)
        self.expect(self.links_asked() == 1, "leaving the page asks for nothing")
        self.browser.come_back()
        self.expect(wait_for(8, lambda: self.links_asked() == 2), "coming back asks for a new link (after a moment)")
        self.expect(wait_for(15, lambda: self.says(PRESS_AGAIN)) and not self.offered(),
                    "nothing took it either: the page asks for a press instead of offering again: %s"
                    % self.status())
        for _ in range(2):
            self.browser.leave()
            time.sleep(0.5)
            self.browser.come_back()
        time.sleep(4)
        self.expect(self.links_asked() == 2, "coming back again asks for nothing more (once, not in a loop)")

        # A report after the offer hides it and disarms the retry.
        before = self.click_play()
        self.expect(wait_for(20, self.offered), "a press that nothing took: the offer again")
        self.report(self.links_received()[-1], "started")
        self.expect(wait_for(3, lambda: self.says(STARTED)) and not self.offered(),
                    "a late report: the page says started, the offer is gone")
        self.browser.leave()
        time.sleep(0.5)
        self.browser.come_back()
        time.sleep(4)
        self.expect(self.links_asked() == 3, "coming back after the late report asks for nothing")

        # What the page says for each report (one that it does not know is a refusal).
        for outcome, text in (("installing", "正在安装客户端"), ("started", STARTED),
                              ("refused:expired", "链接已过期。请检查电脑的日期和时间"),
                              ("refused:running", "游戏已经打开了"), ("refused:declined", "你没有同意以这个帐号登录"),
                              ("refused:later", "启动器没有接受这个链接"), ("failed", "客户端未能启动")):
            if outcome != "started":  # (installing goes on: its link's next report)
                before = self.click_play()
                if not wait_for(5, lambda: len(self.links_received()) > len(before)):
                    raise RuntimeError("the press opened no link")
            self.report(self.links_received()[-1], outcome)
            self.expect(wait_for(3, lambda: self.says(text)), "%s: the page says %s" % (outcome, self.status()))
        return not self.failures

    def close(self):
        if self.browser:
            self.browser.close()
        if self.server and self.server.poll() is None:
            os.killpg(self.server.pid, signal.SIGTERM)
            self.server.wait()

    def diagnose(self):
        for name in ("links.txt", "links.txt.commands", "trace.txt", "server.log"):
            path = os.path.join(self.work, name)
            if os.path.exists(path):
                with open(path, "rb") as f:
                    text = f.read().decode("gbk", errors="replace")
                lines = [line for line in text.splitlines() if "GET /link/state?" not in line]  # the page's polls
                say("%s:\n    %s" % (name, "\n    ".join(lines[-30:])))
        if os.environ.get("DISPLAY"):
            path = os.path.join(self.args.failure_shots or self.work,
                                "%s-%s-failure.png" % (self.name, self.args.browser))
            subprocess.run(["import", "-window", "root", path], check=False)
            say("screenshot of the failure: " + path)


def session_environment(session, root):
    """Starts a Wine session in session that trusts root; its environment."""
    script = os.path.join(TOP, "tools", "wine-session.sh")
    subprocess.run([script, "start", session, root], check=True, stdout=subprocess.DEVNULL)
    env = subprocess.run(["bash", "-c", '. "$1/wine.env" && env -0', "-", session], capture_output=True,
                         check=True).stdout
    return dict(item.split("=", 1) for item in env.decode().split("\0") if "=" in item)


def start_xvfb():
    """An X server of its own on a display nobody uses: the process."""
    display = 90
    while os.path.exists("/tmp/.X%d-lock" % display) or os.path.exists("/tmp/.X11-unix/X%d" % display):
        display += 1
    xvfb = subprocess.Popen(["Xvfb", ":%d" % display, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            start_new_session=True)
    if not wait_for(10, lambda: os.path.exists("/tmp/.X11-unix/X%d" % display) or xvfb.poll() is not None):
        raise RuntimeError("Xvfb did not start")
    os.environ["DISPLAY"] = ":%d" % display
    return xvfb


def main(road_class=None, description=None):
    parser = argparse.ArgumentParser(description=(description or __doc__).split("\n\n")[0])
    parser.add_argument("--browser", choices=sorted(BROWSERS), default="chromium")
    parser.add_argument("--focus-retry", action="store_true",
                        help="check the page's focus retry alone, on an X server of its own, without Wine")
    parser.add_argument("--bin", default=os.path.join(TOP, "build", "win32", "bin"),
                        help="the Windows programs: VantorimaLaunch.exe, VokWeiqi.exe, AnswerBox.exe")
    parser.add_argument("--link-tool", default=os.path.join(TOP, "build", "host", "bin", "vantorima-link"))
    parser.add_argument("--test-signing", default=os.path.join(TOP, "build", "win32", "test-signing"),
                        help="the build's test certificates: root.pem, chain.pem and key.pem, tls.pem and tls.key, "
                             "link-key.pem")
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
    parser.add_argument("--firefox", default="firefox-esr")
    parser.add_argument("--session", help="start a Wine session of its own in this folder, stopped at the end")
    parser.add_argument("--slow", help="the server's ~slow mode for the download, e.g. 40,16384")
    parser.add_argument("--show-ms", type=int, default=0, help="the stand-in client shows what it got this long")
    parser.add_argument("--shots", help="screenshots into this folder")
    parser.add_argument("--failure-shots", help="where a failure's screenshot goes (default: the work folder)")
    parser.add_argument("--keep", action="store_true", help="keep the work folder")
    args = parser.parse_args()
    args.link_key = args.link_key or os.path.join(args.test_signing, "link-key.pem")
    needed = [args.link_tool, args.link_key, os.path.join(args.bin, "VokWeiqi.exe"),
              os.path.join(args.bin, "VantorimaLaunch.exe"), os.path.join(args.bin, "AnswerBox.exe")]
    for path in needed:
        if not os.path.exists(path):
            say("missing " + path)
            return 2
    program = args.chromium if args.browser == "chromium" else args.firefox
    if not shutil.which(program) or not shutil.which("xdg-open"):
        say("%s or xdg-utils is missing: tools/setup.sh installs them" % program)
        return 2

    xvfb = None
    if args.focus_retry:
        xvfb = start_xvfb()
    elif args.session:
        os.environ.update(session_environment(os.path.abspath(args.session),
                                              os.path.join(args.test_signing, "root.pem")))
    work = tempfile.mkdtemp(prefix="browser-road-")  # no blanks: the desktop entry's Exec splits at them
    road = (road_class or Road)(args, work)
    ok = False
    try:
        ok = road.run_focus_retry() if args.focus_retry else road.run()
    except (RuntimeError, OSError, subprocess.CalledProcessError) as error:
        say("FAILED: %s" % error)
    finally:
        if not ok:
            road.diagnose()
        road.close()
        if xvfb:
            xvfb.terminate()
            xvfb.wait()
        elif args.session:
            subprocess.run([os.path.join(TOP, "tools", "wine-session.sh"), "stop", os.path.abspath(args.session)])
        if args.keep:
            say("work folder kept: " + work)
        else:
            shutil.rmtree(work, ignore_errors=True)
    say("check passed" if ok else "check FAILED")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
