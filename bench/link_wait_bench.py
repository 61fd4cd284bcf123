#!/usr/bin/python3
"""The link door at scale, on loopback: pages held in long waits against
two processes of the service package that share one Redis, and a report for
a random tenth of them. Prints the report-to-page latency, the requests per
waiting page per minute, the memory per waiting page and the links issued
per second per core. Stops by itself (everything it started with it).

    link_wait_bench.py [--pages N] [--seconds S]

Each page acts as package/vantorima.js does: one plain state request, then
long waits (after=pending, wait = Vantorima-Wait, at most 25) until its word
changes. The pages arrive over 25 s (one wait's time, as players arrive);
the figures come from the next S seconds, once every page is held. The pages
are bare asyncio protocols (a connection and a few callbacks each), so that
the client's own work stays small beside the servers'; the reports go through
aiohttp's client, as a POST each. A report goes to the
process that does not hold its page, so that it reaches the page through
Redis's pub/sub.
"""
import argparse
import asyncio
import os
import random
import re
import resource
import socket
import statistics
import subprocess
import sys
import tempfile
import time

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(TOP, "service"))
import aiohttp  # noqa: E402
import redis.asyncio  # noqa: E402
from cryptography.hazmat.primitives import serialization  # noqa: E402
from cryptography.hazmat.primitives.asymmetric import ec  # noqa: E402
from vantorima_service import RedisStore, issue_link, load_private_key  # noqa: E402

PAGE_LONGEST_WAIT = 25  # the page script's own bound on wait=
TODAY = 120  # requests a page makes a minute when it asks every 500 ms
LONGEST_RUN = 600  # seconds, whatever happens


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        return next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class Processes:
    """The processes the bench started: stopped by their ids at the end."""

    def __init__(self, work):
        self.work = work
        self.started = []

    def start(self, name, command, ready):
        log = open(os.path.join(self.work, name + ".log"), "w+")
        process = subprocess.Popen(command, stdout=log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                   env=dict(os.environ, PYTHONPATH=os.path.join(TOP, "service")))
        self.started.append((name, process, log))
        end = time.monotonic() + 20
        while time.monotonic() < end and process.poll() is None:
            log.seek(0)
            found = ready(log.read())
            if found:
                return process, found
            time.sleep(0.05)
        log.seek(0)
        raise RuntimeError("%s did not start: %s" % (name, log.read()[-500:]))

    def complaints(self):
        for name, _, log in self.started:
            log.seek(0)
            lines = [line for line in log.read().splitlines() if "Traceback" in line or "failed" in line]
            if lines:
                print("%s logged %d complaints, the first: %s" % (name, len(lines), lines[0]))

    def stop(self):
        for _, process, log in reversed(self.started):
            if process.poll() is None:
                process.terminate()
            try:
                process.wait(15)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
            log.close()


class Page(asyncio.Protocol):
    """One waiting page on a connection of its own: a few callbacks, so that
    the client's work stays small beside the servers'."""

    def __init__(self, pages, link, port):
        self.pages, self.link, self.port = pages, link, port
        self.path = "/link/state?nonce=%s&watch=%s" % (link["nonce"], link["watch"])
        self.word = self.wait = self.transport = self.asked_at = None
        self.buffer = b""

    def connection_made(self, transport):
        self.transport = transport
        self.ask()

    def ask(self):
        if self.pages.stopping or self.transport is None:
            return
        self.pages.asking(self)
        path = self.path if self.word is None else self.path + "&after=pending&wait=%d" % self.wait
        self.transport.write(b"GET %s HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n\r\n" % (path.encode(), self.port))

    def data_received(self, data):
        self.buffer += data
        end = self.buffer.find(b"\r\n\r\n")
        length = re.search(rb"(?i)\r\ncontent-length: *(\d+)", self.buffer[:end]) if end >= 0 else None
        if length is None or len(self.buffer) < end + 4 + int(length.group(1)):
            return
        head, body = self.buffer[:end], self.buffer[end + 4:end + 4 + int(length.group(1))]
        self.buffer = self.buffer[end + 4 + int(length.group(1)):]
        self.pages.answered(self)
        if head[9:12] != b"200":
            self.pages.error("status " + head[9:12].decode(errors="replace"))
            asyncio.get_running_loop().call_later(1, self.ask)
            return
        if self.word is None:
            most = re.search(rb"(?i)\r\nvantorima-wait: *(\d+)", head)
            self.wait = min(PAGE_LONGEST_WAIT, int(most.group(1))) if most else None
            if self.wait is None:
                self.pages.error("no Vantorima-Wait")
                return
        self.word = body.decode(errors="replace")
        if self.word != "pending":
            self.pages.learnt(self)
            self.transport.close()
            return
        self.ask()

    def connection_lost(self, error):
        if self.asked_at is not None:
            self.pages.answered(self)
        self.transport = None
        if self.word == "pending" or self.word is None:
            if not self.pages.stopping:
                self.pages.error("connection lost")
                asyncio.get_running_loop().call_later(1, self.pages.open, self.link, self.port)


class Pages:
    def __init__(self, session):
        self.session = session
        self.open_pages = set()
        self.outstanding = 0
        self.errors = {}
        self.counting = False
        self.counted = 0  # requests of pages never reported, while counting
        self.reported = set()
        self.sent_at = {}  # nonce -> when its report was sent
        self.latencies = []
        self.lags = []
        self.stopping = False

    def open(self, link, port):
        if not self.stopping:
            task = asyncio.get_running_loop().create_connection(lambda: Page(self, link, port), "127.0.0.1", port)
            asyncio.ensure_future(task).add_done_callback(self.opened)

    def opened(self, future):
        if future.exception() is not None:
            self.error(type(future.exception()).__name__)
        else:
            self.open_pages.add(future.result()[1])

    def asking(self, page):
        page.asked_at = time.monotonic()
        self.outstanding += 1
        if self.counting and page.link["nonce"] not in self.reported:
            self.counted += 1

    def answered(self, page):
        page.asked_at = None
        self.outstanding -= 1

    def learnt(self, page):
        sent = self.sent_at.get(page.link["nonce"])
        if sent is not None:
            self.latencies.append(time.monotonic() - sent)
        self.open_pages.discard(page)

    def error(self, kind):
        self.errors[kind] = self.errors.get(kind, 0) + 1

    async def sweep(self):
        """A request unanswered long after its wait: counted, and asked anew."""
        while not self.stopping:
            await asyncio.sleep(5)
            now = time.monotonic()
            for page in list(self.open_pages):
                if page.asked_at is not None and now - page.asked_at > PAGE_LONGEST_WAIT + 15:
                    self.error("unanswered")
                    page.transport.abort()

    async def watch_lag(self):
        """How late the client's own loop runs: the latency it adds."""
        while not self.stopping:
            before = time.monotonic()
            await asyncio.sleep(0.01)
            self.lags.append(time.monotonic() - before - 0.01)

    async def report(self, base, nonce):
        """As the launcher reports: a POST of its own, through aiohttp's client."""
        self.sent_at[nonce] = time.monotonic()
        try:
            async with self.session.post(base + "/link/report", data={"nonce": nonce, "outcome": "started",
                                                                      "version": "1.0.0.2"}) as reply:
                await reply.read()
                if reply.status != 204:
                    self.error("report status %d" % reply.status)
        except aiohttp.ClientError as error:
            self.error("report " + type(error).__name__)


async def issue(url, key_file, count):
    """count links through the package, as a backend issues them: one
    process, some requests in flight at once. (links, seconds, CPU seconds)."""
    store = RedisStore(redis.asyncio.Redis.from_url(url, decode_responses=True))
    key = load_private_key(key_file)
    links = []
    started, cpu = time.monotonic(), time.process_time()

    async def one(_):
        made = await issue_link(store, key, "player", "s3cret")
        nonce = made["link"].split("&nonce=")[1].split("&")[0]
        links.append({"nonce": nonce, "watch": made["watch"]})

    for at in range(0, count, 100):
        await asyncio.gather(*(one(i) for i in range(at, min(count, at + 100))))
    took, cpu = time.monotonic() - started, time.process_time() - cpu
    await store.close()
    return links, took, cpu


async def run(args, work, processes):
    key_file = os.path.join(work, "link-key.pem")
    with open(key_file, "wb") as f:
        f.write(ec.generate_private_key(ec.SECP256R1()).private_bytes(
            serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8, serialization.NoEncryption()))
    port = free_port()
    processes.start("redis-server", ["redis-server", "--port", str(port), "--bind", "127.0.0.1", "--save", "",
                                     "--appendonly", "no", "--dir", work], lambda log: "Ready to accept" in log)
    url = "redis://127.0.0.1:%d/0" % port
    servers = []
    for name in ("first", "second"):
        process, base = processes.start(
            name, ["/usr/bin/python3", "-m", "vantorima_service", "serve", "--listen", "127.0.0.1:0", "--redis", url,
                   "--private-key", key_file],
            lambda log: "serving on 127.0.0.1:" in log and "http://127.0.0.1:" + log.split("127.0.0.1:")[1].split()[0])
        servers.append((process, base))

    print("the machine's load (1 min) at the start: %.1f on %d cores" % (os.getloadavg()[0], os.cpu_count()))
    links, took, cpu = await issue(url, key_file, args.pages)
    print("links issued: %d in %.1f s by one process (%.1f CPU s): %.0f per second per core" % (
        len(links), took, cpu, len(links) / max(cpu, took)))

    ports = [int(base.rsplit(":", 1)[1]) for _, base in servers]
    async with aiohttp.ClientSession() as session:
        pages = Pages(session)
        for _, base in servers:  # the servers' first requests, before the baseline
            for link in links[:10]:
                async with session.get(base + "/link/state", params=link) as reply:
                    await reply.read()
        base_rss = sum(rss_kib(p.pid) for p, _ in servers)
        helpers = [asyncio.create_task(pages.sweep()), asyncio.create_task(pages.watch_lag())]
        # The pages arrive over one wait's time, as players do: their waits
        # then end spread out, not all at once.
        ramp = time.monotonic()
        for i, link in enumerate(links):
            pages.open(link, ports[i % 2])
            await asyncio.sleep(max(0.0, ramp + PAGE_LONGEST_WAIT * (i + 1) / len(links) - time.monotonic()))
        await asyncio.sleep(5)
        held = pages.outstanding
        held_rss = sum(rss_kib(p.pid) for p, _ in servers)
        print("waiting pages held: %d of %d" % (held, len(links)))
        print("memory per waiting page: %.1f KiB (the two processes' RSS %.0f -> %.0f MiB)" % (
            (held_rss - base_rss) / max(held, 1), base_rss / 1024, held_rss / 1024))

        # The window: every page held, a tenth of them reported, spread over its middle half.
        chosen = random.sample(range(len(links)), len(links) // 10)
        pages.reported = {links[i]["nonce"] for i in chosen}
        pages.lags.clear()
        pages.counting = True
        window = time.monotonic()
        cpu_before = sum(cpu_seconds(p.pid) for p, _ in servers)
        for n, i in enumerate(chosen):
            await asyncio.sleep(max(0.0, window + args.seconds * (0.25 + 0.5 * n / len(chosen)) - time.monotonic()))
            asyncio.create_task(pages.report(servers[(i + 1) % 2][1], links[i]["nonce"]))
        await asyncio.sleep(max(0.0, window + args.seconds - time.monotonic()))
        pages.counting = False
        seconds = time.monotonic() - window
        servers_cpu = sum(cpu_seconds(p.pid) for p, _ in servers) - cpu_before
        per_minute = pages.counted / (len(links) - len(chosen)) / (seconds / 60)
        print("requests per waiting page per minute: %.2f (a 500 ms poll: %d), over %.0f s" % (
            per_minute, TODAY, seconds))
        print("the two processes' CPU meanwhile: %.1f s (%.0f%% of a core)" % (
            servers_cpu, 100 * servers_cpu / seconds))
        late = sorted(pages.latencies)
        p99 = late[min(len(late) - 1, int(len(late) * 0.99))] if late else float("inf")
        print("report to page: p50 %.1f ms, p99 %.1f ms, max %.1f ms over %d of %d reported pages" % (
            1000 * statistics.median(late or [float("inf")]), 1000 * p99, 1000 * (late or [float("inf")])[-1],
            len(late), len(chosen)))
        lags = sorted(pages.lags)
        print("the client's own loop ran late by: p50 %.1f ms, p99 %.1f ms (part of the latency above)" % (
            1000 * statistics.median(lags), 1000 * lags[int(len(lags) * 0.99)]))
        print("errors: %s" % (", ".join("%s: %d" % kv for kv in pages.errors.items()) or "none"))
        print("the machine's load (1 min) at the end: %.1f" % os.getloadavg()[0])
        processes.complaints()
        pages.stopping = True
        for task in helpers:
            task.cancel()
        for page in list(pages.open_pages):
            if page.transport is not None:
                page.transport.close()
    return held >= len(links) and p99 <= 0.1 and per_minute <= 3


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--pages", type=int, default=10000, help="waiting pages (default %(default)s)")
    parser.add_argument("--seconds", type=float, default=60, help="the measured window (default %(default)s)")
    args = parser.parse_args()
    # One socket a page here, one in the servers (which inherit the limit).
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    if hard != resource.RLIM_INFINITY and args.pages + 500 > hard:
        print("the open-file limit (%d) holds %d pages, not %d" % (hard, hard - 500, args.pages))
        args.pages = hard - 500
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    with tempfile.TemporaryDirectory(prefix="link-bench-") as work:
        processes = Processes(work)
        try:
            met = asyncio.run(asyncio.wait_for(run(args, work, processes), LONGEST_RUN))
        except asyncio.TimeoutError:
            print("stopped after %d s" % LONGEST_RUN)
            met = False
        finally:
            processes.stop()
    print("targets (10,000 held, p99 <= 100 ms, <= 3 requests a page a minute): %s" % ("met" if met else "NOT met"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
