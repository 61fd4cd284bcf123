#!/usr/bin/env python3
"""The demo login page's link door with the browser's own prompt, answered
as a player answers it: Chromium or Firefox (Debian's) with a fresh profile
in which the scheme is not allowed, so that every link brings the browser's
"open this application?" prompt, non-headless under the Wine session's Xvfb
with a small window manager (openbox, which the prompt needs to take the
focus) and a D-Bus session; xdotool presses the prompt's keys. The rest is
testbed/browser_road.py's road: the page's server signs links and keeps
their state; the xdg default handler hands a link to the command that Wine
has registered for the scheme.

The cases, one after the other in one browser:
  nothing handles the scheme: Open; after 10 s the page offers the launcher,
      which runs nothing;
  ... then the player installs the launcher from the offer and comes back:
      the page retries the link by itself (Open again), or asks for one more
      press (Chromium drops a second link that no click preceded), and the
      launcher installs the client and starts it: started;
  Cancel: after 10 s the offer, nothing runs;
  Open after 12 s, after the offer: the page says started, the offer is gone,
      and no retry follows;
  a service without the state (another server, --no-link-state), Open: what
      to do and the launcher's quiet line, never started;
  Open at once, with "always allow" ticked: started;
  always allowed (no prompt any more), a client whose window comes only
      after 10 s, then the player comes back to the page: started, never the
      offer, no second run.
"Runs" are the launcher's: the links that the opener handed to a registered
command. Fails unless every case did what it should.
"""

import os
import shutil
import subprocess
import sys
import time

import browser_road
from browser_road import NO_STATE, PRESS_AGAIN, STARTED, WHAT_TO_DO, say, wait_for

# The keys that answer each browser's prompt, and how long after it shows
# them: keys sent earlier get lost (Chromium), or pass over a button that is
# not enabled yet (Firefox's "Open Link", about 1 s). Chromium's focus starts
# on Cancel; Firefox's on "Choose a different application", then the
# "always allow" box, Cancel and "Open Link".
PROMPTS = {
    "chromium": (0.8, {"open": ["Tab", "Return"], "cancel": ["Return"],
                       "always": ["Tab", "Tab", "space", "shift+Tab", "Return"]}),
    "firefox": (1.5, {"open": ["Tab", "Tab", "Tab", "space"], "cancel": ["Tab", "Tab", "space"],
                      "always": ["Tab", "space", "Tab", "Tab", "space"]}),
}
OFFER_AFTER = 10


class Prompts(browser_road.Road):
    name = "browser-prompts"

    def __init__(self, args, work):
        super().__init__(args, work)
        self.helpers = []

    # --- the player's desktop
    def start_desktop(self, env):
        """A D-Bus session and openbox for the browser."""
        bus = subprocess.run(["dbus-daemon", "--session", "--fork", "--print-address=1", "--print-pid=1"], env=env,
                             stdin=subprocess.DEVNULL, capture_output=True, text=True, check=True).stdout.split()
        self.helpers.append(int(bus[1]))
        env["DBUS_SESSION_BUS_ADDRESS"] = bus[0]
        wm = subprocess.Popen(["openbox", "--sm-disable"], env=env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        self.helpers.append(wm.pid)
        if not wait_for(10, lambda: subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"],
                                                   capture_output=True, text=True).stdout.count("window id")):
            raise RuntimeError("openbox did not start")

    def close(self):
        super().close()
        if getattr(self, "plain_server", None) and self.plain_server.poll() is None:
            os.killpg(self.plain_server.pid, 15)
            self.plain_server.wait()
        for pid in self.helpers:
            try:
                os.kill(pid, 15)
            except ProcessLookupError:
                pass

    # --- what the player does
    def has_focus(self):
        return self.browser.evaluate("document.hasFocus()")

    def click(self, element_id):
        """A player's click. Firefox gets it from the X server (Marionette's
        own click waits for a navigation that a link to another program
        never makes)."""
        if self.args.browser != "firefox":
            return self.browser.click(element_id)
        x, y = self.browser.evaluate(
            "(function (r) { return [Math.round(mozInnerScreenX + r.left + r.width / 2),"
            " Math.round(mozInnerScreenY + r.top + r.height / 2)]; })"
            "(document.getElementById(%r).getBoundingClientRect())" % element_id)
        # (The pointer moves onto the button first: on a page just loaded
        # under a pointer that has not moved, Firefox may drop the click.)
        subprocess.run(["xdotool", "mousemove", str(x - 10), str(y), "sleep", "0.1", "mousemove", str(x), str(y),
                        "sleep", "0.1", "click", "1"], check=True)

    def press(self):
        """Play, as the player presses it; when."""
        if not wait_for(10, lambda: self.browser.evaluate("!document.getElementById('play').disabled")):
            raise RuntimeError("the play button stays disabled")
        self.wait_for_the_game_to_end()
        self.browser.come_back()
        if not wait_for(5, self.has_focus, 0.1):
            raise RuntimeError("the page did not get the focus")
        self.pressed = time.monotonic()
        self.click("play")
        if not wait_for(3, lambda: self.browser.evaluate("document.getElementById('play').disabled"), 0.05):
            raise RuntimeError("the press did not reach the page: %s" % self.status())
        return self.pressed

    def browser_active(self):
        """Whether the X server's active window is the browser's."""
        done = subprocess.run(["xdotool", "getactivewindow", "getwindowpid"], capture_output=True, text=True)
        return done.stdout.strip() == str(self.browser_pid)

    def prompt_shows(self, seconds=5):
        """Whether the prompt came: it takes the focus from the page, drawn
        in the browser's own window, which stays the active one (another
        program's window takes the browser's focus)."""
        return wait_for(seconds, lambda: not self.has_focus() and self.browser_active(), 0.05)

    def answer(self, what, at=None):
        """Answers the prompt that shows: open, cancel or always (open, and
        never ask again for this page); at: not before this time."""
        if not self.prompt_shows():
            raise RuntimeError("no prompt to answer")
        delay, keys = PROMPTS[self.args.browser]
        time.sleep(max(delay, (at or 0) - time.monotonic()))
        subprocess.run(["xdotool", "key", "--delay", "150"] + keys[what], check=True)
        if not wait_for(5, self.has_focus, 0.1):
            raise RuntimeError("the prompt did not go (%s)" % what)

    def runs(self):
        """How many links reached a registered command: the launcher's runs."""
        try:
            with open(self.received_links + ".commands") as f:
                return sum(line.strip() != "(nothing registered)" for line in f)
        except FileNotFoundError:
            return 0

    def case_env(self, **values):
        """What the next links' programs get (the stand-in client's settings)."""
        with open(self.received_links + ".env", "w") as f:
            f.writelines("%s=%s\n" % item for item in values.items())

    def expect_offer_in_time(self, pressed):
        self.expect(self.says(WHAT_TO_DO), "the page says what to do: %s" % self.status())
        offered = wait_for(OFFER_AFTER + 10, self.offered, 0.1)
        after = time.monotonic() - pressed
        self.expect(offered and after >= OFFER_AFTER - 0.5, "after %.1f s the page offers the launcher" % after)

    def expect_started(self, seconds, what):
        self.expect(wait_for(seconds, lambda: self.says(STARTED)) and not self.offered(),
                    "%s: the page says started and offers nothing: %s" % (what, self.status()))

    def watch(self, seconds, probe):
        """Whether probe() held at every look over seconds."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if not probe():
                return False
            time.sleep(0.2)
        return True

    def case(self, name, runs, since, asked=None):
        self.expect(self.runs() == runs, "%s: the launcher ran %d times in all" % (name, self.runs()))
        if asked is not None:
            self.expect(self.links_asked() == asked, "%s: %d links asked for in all" % (name, self.links_asked()))
        self.timed(name, since)

    # --- the cases
    def run(self):
        env = self.prepare()
        self.start_desktop(env)
        self.start_browser(env, ask=True)
        self.browser_pid = (self.browser.devtools.process if self.args.browser == "chromium" else
                            self.browser.process).pid
        runs = 0

        say("nothing handles the scheme")
        pressed = self.press()
        self.answer("open")
        self.expect_offer_in_time(pressed)
        self.case("nothing handles the scheme", runs, pressed, asked=1)

        say("... the player installs the launcher from the offer and comes back")
        since = time.monotonic()
        path = self.download_the_launcher()
        self.browser.leave()
        self.run_the_launcher(path)
        self.browser.come_back()
        self.expect(wait_for(OFFER_AFTER, lambda: self.links_asked() == 2),
                    "back on the page, the page asks for a new link by itself")
        if self.prompt_shows(3):
            self.answer("open")
        else:
            self.expect(wait_for(OFFER_AFTER + 5, lambda: self.says(PRESS_AGAIN)) and not self.offered(),
                        "the browser dropped the retry's link: the page asks for one more press: %s" % self.status())
            self.press()
            self.answer("open")
        runs += 1
        self.expect_started(60, "the launcher installed the client")
        self.expect(self.record(self.client_record), "the client started")
        self.case("the player installs the launcher and comes back", runs, since)

        say("Cancel")
        asked = self.links_asked()
        pressed = self.press()
        self.answer("cancel")
        self.expect_offer_in_time(pressed)
        self.case("Cancel", runs, pressed, asked + 1)

        say("Open after 12 s")
        self.forget_the_client_record()
        pressed = self.press()
        self.expect(self.prompt_shows(), "the prompt shows")
        self.expect(wait_for(OFFER_AFTER + 5, self.offered, 0.1), "the offer, the prompt still up")
        self.answer("open", at=pressed + 12)
        runs += 1
        self.expect_started(15, "a late Open")
        self.expect(wait_for(10, lambda: self.record(self.client_record)), "the client started")
        time.sleep(4)  # the page's time to retry, if it did
        self.case("Open after 12 s", runs, pressed, asked + 2)

        say("a service without the state, Open")
        self.forget_the_client_record()
        log = os.path.join(self.work, "plain-server.log")
        self.plain_server, origin = self.start_server("plain-", 0, log, "--no-link-state")
        self.browser.open(origin + "/login.html")
        pressed = self.press()
        self.answer("open")
        self.expect(wait_for(2, lambda: self.says(NO_STATE) and
                             self.browser.evaluate("!document.getElementById('quiet').hidden")),
                    "what to do, and the launcher's quiet line: %s" % self.status())
        runs += 1
        self.expect(self.watch(6, lambda: not self.says(STARTED) and not self.offered()),
                    "never started, no offer: %s" % self.status())
        self.expect(self.record(self.client_record), "the client started")
        self.case("a service without the state", runs, pressed)
        self.browser.open(self.url)

        say("Open at once, always allowed from now on")
        self.forget_the_client_record()
        pressed = self.press()
        self.answer("always")
        runs += 1
        self.expect_started(10, "Open")
        self.case("Open at once", runs, pressed)

        say("always allowed, a client whose window comes after 10 s; the player comes back")
        self.forget_the_client_record()
        self.case_env(MAROVENT_SHOW_AFTER_MS=10000, MAROVENT_SHOW_MS=2000)
        asked = self.links_asked()
        pressed = self.press()
        self.expect(not self.prompt_shows(1.5), "no prompt")
        runs += 1
        self.expect_started(10, "always allowed")
        self.expect(self.watch(max(0, pressed + 13 - time.monotonic()), lambda: not self.offered()),
                    "never the offer while the client's window comes")
        self.browser.come_back()
        time.sleep(4)
        self.expect(self.says(STARTED) and not self.offered(), "back on the page: still started")
        self.case("always allowed, a slow client, the player comes back", runs, pressed, asked + 1)

        say("times in %s: %s" % (self.browser.name, ", ".join(self.times)))
        return not self.failures


def main():
    missing = [tool for tool in ("openbox", "xdotool", "dbus-daemon", "xprop") if not shutil.which(tool)]
    if missing:
        say("%s missing: tools/setup.sh installs them" % ", ".join(missing))
        return 2
    return browser_road.main(Prompts, __doc__)


if __name__ == "__main__":
    sys.exit(main())
