"""The link's state, by nonce: one interface, two stores.

MemoryStore keeps it in this process (the embedded default; its rules are
LinkStates, a synchronous core that a threaded server may use alone).
RedisStore keeps it in Redis for services of more than one process: each
rule is one Lua script, run atomically, and a report reaching any process
wakes the pages waiting on every other through one pub/sub channel.

The store's interface (all coroutines):
  issue(nonce, watch, until)        records "pending" until the Unix time until
  report(nonce, outcome) -> bool    True when the report changed the state
  state(nonce, watch) -> word|None  None: unknown, expired or the wrong watch
  wait(nonce, watch, after, seconds) -> word|None
                                    at once when the state is not after, else
                                    when a report changes it or seconds pass
  start(), close()
"""
import asyncio
import collections
import hashlib
import hmac
import logging
import re
import threading
import time

from . import outcomes

try:
    from redis.exceptions import RedisError
except ImportError:  # the memory store needs no Redis
    class RedisError(Exception):
        pass

log = logging.getLogger("vantorima_service")

NONCE = re.compile(r"[0-9a-f]{16,64}")
WATCH = re.compile(r"[A-Za-z0-9_-]{43}")
INSTALL_WAIT = 1800  # VANTORIMA_INSTALL_WAIT: the most the launcher waits for the installer
UNDERWAY_EXTRA = 60  # after installing/renewing: the install wait and a minute for the next report
FINAL_KEEP = 600  # after a final outcome: at least this long from the report, for a page that looks late
MAX_LINKS = 100000  # most states kept in one process's memory
MAX_WAITERS = 20000  # most requests held at once in one process


class StoreUnavailable(Exception):
    """The store cannot be reached (Redis down): the request gets a 503."""


def watch_digest(watch):
    """What the store keeps of a watch token: its SHA-256, so that neither a
    dump of the store nor the comparison's timing gives the token away."""
    return hashlib.sha256(watch.encode("ascii")).hexdigest()


def keep_after(outcome, install_wait):
    """Seconds a state lives at least after a report of outcome."""
    return install_wait + UNDERWAY_EXTRA if outcome in outcomes.UNDERWAY else FINAL_KEEP


def report_allowed(current, outcome):
    """The one rule of replacement: a second launcher's refused:used says
    nothing of what the first one did, so it never replaces another outcome."""
    return outcome != outcomes.USED or current == outcomes.PENDING


class LinkStates:
    """The rules in memory, thread-safe and synchronous; bounded: beyond
    max_links the oldest issued link is forgotten first."""

    def __init__(self, install_wait=INSTALL_WAIT, max_links=MAX_LINKS, clock=time.time):
        self.install_wait = install_wait
        self.max_links = max_links
        self.clock = clock
        self.lock = threading.Lock()
        self.links = collections.OrderedDict()  # nonce -> [until, word, watch digest], oldest issued first

    def issue(self, nonce, watch, until):
        nonce = nonce.lower()
        if not NONCE.fullmatch(nonce) or not WATCH.fullmatch(watch):
            raise ValueError("not a nonce or not a watch token")
        with self.lock:
            self._forget_expired()
            self.links[nonce] = [until, outcomes.PENDING, watch_digest(watch)]
            self.links.move_to_end(nonce)
            while len(self.links) > self.max_links:
                self.links.popitem(last=False)

    def _forget_expired(self):
        # From the oldest on, as far as they have expired: a long-lived one
        # stops the sweep, and the bound still holds.
        now = self.clock()
        while self.links:
            nonce, entry = next(iter(self.links.items()))
            if entry[0] > now:
                break
            del self.links[nonce]

    def report(self, nonce, outcome):
        """The new word when the report was recorded, else None."""
        if outcome not in outcomes.REPORTED:
            return None
        with self.lock:
            entry = self.links.get(nonce.lower())
            now = self.clock()
            if entry is None or entry[0] <= now or not report_allowed(entry[1], outcome):
                return None
            entry[0] = max(entry[0], now + keep_after(outcome, self.install_wait))
            entry[1] = outcome
            return outcome

    def state(self, nonce, watch):
        digest = watch_digest(watch) if WATCH.fullmatch(watch or "") else ""
        with self.lock:
            entry = self.links.get((nonce or "").lower())
            if entry is None or entry[0] <= self.clock() or not hmac.compare_digest(entry[2], digest):
                return None
            return entry[1]

    def __len__(self):
        with self.lock:
            return len(self.links)


class Waiters:
    """Requests held until their link's state changes: at most max_waiters
    in this process; beyond that a request is answered at once."""

    def __init__(self, max_waiters):
        self.max_waiters = max_waiters
        self.by_nonce = {}  # nonce -> set of futures, each resolved with the new word (None: read again)
        self.count = 0

    def wake(self, nonce, word):
        for future in self.by_nonce.pop(nonce, ()):
            if not future.done():
                future.set_result(word)

    def wake_all(self):
        for nonce in list(self.by_nonce):
            self.wake(nonce, None)

    async def wait(self, store, nonce, watch, after, seconds):
        nonce = (nonce or "").lower()
        if self.count >= self.max_waiters or seconds <= 0:
            return await store.state(nonce, watch)
        # Listed before the state is read: a report between the read and the
        # wait still finds it.
        future = asyncio.get_running_loop().create_future()
        self.by_nonce.setdefault(nonce, set()).add(future)
        self.count += 1
        try:
            word = await store.state(nonce, watch)
            if word is None or word != after:
                return word
            try:
                word = await asyncio.wait_for(future, seconds)
            except asyncio.TimeoutError:
                word = None
            return word if word is not None else await store.state(nonce, watch)
        finally:
            self.count -= 1
            waiting = self.by_nonce.get(nonce)
            if waiting is not None:
                waiting.discard(future)
                if not waiting:
                    del self.by_nonce[nonce]


class MemoryStore:
    """The state in this process: one process serves it all."""

    def __init__(self, install_wait=INSTALL_WAIT, max_links=MAX_LINKS, max_waiters=MAX_WAITERS):
        self.states = LinkStates(install_wait, max_links)
        self.waiters = Waiters(max_waiters)

    async def start(self):
        pass

    async def close(self):
        self.waiters.wake_all()

    async def issue(self, nonce, watch, until):
        self.states.issue(nonce, watch, until)

    async def report(self, nonce, outcome):
        word = self.states.report(nonce, outcome)
        if word is not None:
            self.waiters.wake(nonce.lower(), word)
        return word is not None

    async def state(self, nonce, watch):
        return self.states.state(nonce, watch)

    async def wait(self, nonce, watch, after, seconds):
        return await self.waiters.wait(self, nonce, watch, after, seconds)


# Each rule as one script, run atomically by Redis. KEYS[1]: the link's hash
# (state, watch), which expires when the state's lifetime ends.
ISSUE_SCRIPT = """
if redis.call('EXISTS', KEYS[1]) == 1 then return 0 end
redis.call('HSET', KEYS[1], 'state', 'pending', 'watch', ARGV[1])
redis.call('EXPIREAT', KEYS[1], ARGV[2])
return 1
"""
# ARGV: outcome, seconds it keeps the state at least, the channel, the nonce.
REPORT_SCRIPT = """
local current = redis.call('HGET', KEYS[1], 'state')
if not current then return 0 end
if ARGV[1] == '%s' and current ~= '%s' then return 0 end
redis.call('HSET', KEYS[1], 'state', ARGV[1])
if redis.call('TTL', KEYS[1]) < tonumber(ARGV[2]) then redis.call('EXPIRE', KEYS[1], ARGV[2]) end
redis.call('PUBLISH', ARGV[3], ARGV[4] .. ' ' .. ARGV[1])
return 1
""" % (outcomes.USED, outcomes.PENDING)
STATE_SCRIPT = """
local found = redis.call('HMGET', KEYS[1], 'state', 'watch')
if not found[1] or found[2] ~= ARGV[1] then return false end
return found[1]
"""


class RedisStore:
    """The state in Redis, shared by every process of the service.

    One channel carries every change as "<nonce> <word>": each process holds
    one subscription for its lifetime, so a held request costs no Redis
    command, and there is no window between subscribing and reading the
    state. A report is rare (one or two a link), so every process hearing
    every report costs little."""

    def __init__(self, client, install_wait=INSTALL_WAIT, max_waiters=MAX_WAITERS, prefix="vantorima:link:"):
        """client: a redis.asyncio.Redis made with decode_responses=True."""
        self.client = client
        self.install_wait = install_wait
        self.prefix = prefix
        self.channel = prefix + "changed"
        self.waiters = Waiters(max_waiters)
        # Registered once; each runs with EVALSHA (loaded again should Redis restart).
        self.issue_script = client.register_script(ISSUE_SCRIPT)
        self.report_script = client.register_script(REPORT_SCRIPT)
        self.state_script = client.register_script(STATE_SCRIPT)
        self.listener = None
        self.listening = asyncio.Event()

    async def start(self):
        """Subscribes this process (one connection), before it serves."""
        if self.listener is None:
            self.listener = asyncio.create_task(self._listen())
            try:
                await asyncio.wait_for(self.listening.wait(), 10)
            except asyncio.TimeoutError:
                raise ConnectionError("Redis did not take the subscription within 10 s") from None

    async def close(self):
        if self.listener is not None:
            self.listener.cancel()
            try:
                await self.listener
            except (asyncio.CancelledError, Exception):
                pass
            self.listener = None
        self.waiters.wake_all()
        await self.client.close()
        await self.client.connection_pool.disconnect()

    async def _listen(self):
        while True:
            pubsub = self.client.pubsub(ignore_subscribe_messages=True)
            try:
                await pubsub.subscribe(self.channel)
                self.listening.set()
                # Reports made while this process did not listen: whoever
                # waits reads the state again.
                self.waiters.wake_all()
                async for message in pubsub.listen():
                    if message and message.get("type") == "message":
                        nonce, _, word = str(message["data"]).partition(" ")
                        self.waiters.wake(nonce, word or None)
            except asyncio.CancelledError:
                raise
            except Exception as error:  # the connection broke: listen again
                log.warning("the Redis subscription broke (%s); subscribing again", error)
                self.waiters.wake_all()
                await asyncio.sleep(1)
            finally:
                try:
                    await pubsub.reset()
                except Exception:
                    pass

    async def _run(self, script, keys, args):
        try:
            return await script(keys=keys, args=args)
        except RedisError as error:
            raise StoreUnavailable(str(error)) from error

    def key(self, nonce):
        return self.prefix + nonce.lower()

    async def issue(self, nonce, watch, until):
        nonce = nonce.lower()
        if not NONCE.fullmatch(nonce) or not WATCH.fullmatch(watch):
            raise ValueError("not a nonce or not a watch token")
        await self._run(self.issue_script, [self.key(nonce)], [watch_digest(watch), int(until)])

    async def report(self, nonce, outcome):
        nonce = (nonce or "").lower()
        if outcome not in outcomes.REPORTED or not NONCE.fullmatch(nonce):
            return False
        keep = keep_after(outcome, self.install_wait)
        done = await self._run(self.report_script, [self.key(nonce)], [outcome, keep, self.channel, nonce])
        return bool(done)

    async def state(self, nonce, watch):
        nonce = (nonce or "").lower()
        if not NONCE.fullmatch(nonce) or not WATCH.fullmatch(watch or ""):
            return None
        return await self._run(self.state_script, [self.key(nonce)], [watch_digest(watch)])

    async def wait(self, nonce, watch, after, seconds):
        return await self.waiters.wait(self, nonce, watch, after, seconds)
