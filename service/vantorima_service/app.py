"""The link's endpoints in aiohttp: make_app(store, settings).

  POST /link/report    the launcher's report: always 204, never a redirect
  GET  /link/state     the page's question: the word, with the watch token
  POST /link           (with a demo account only) a link for that account

Mount the routes where no session, cookie or CSRF middleware runs: the report
comes from the launcher, which has none of them.
"""
import dataclasses
import logging
import urllib.parse

from aiohttp import web

from . import hosts as hostnames
from .links import issue_link
from .signing import DEFAULT_MAX_AGE, DEFAULT_TTL, LinkError
from .store import StoreUnavailable

log = logging.getLogger("vantorima_service")

MAX_WAIT = 30  # the most seconds a state request is held (Vantorima-Wait)
REPORT_CAP = 4096  # a report is a hundred bytes or so
NO_STORE = {"Cache-Control": "no-store"}
FORM = "application/x-www-form-urlencoded"


@dataclasses.dataclass
class DemoAccount:
    """The one account that POST /link signs for (a demo: no sign-in)."""
    id: str
    password: str
    join_key: str = ""
    server: str = ""
    ttl: int = DEFAULT_TTL


@dataclasses.dataclass
class Settings:
    hosts: list  # the Host values answered: "name:port", or "name" for any port
    max_age: int = DEFAULT_MAX_AGE  # the state's lifetime after exp (VANTORIMA_LINK_MAX_AGE)
    max_wait: int = MAX_WAIT
    report_cap: int = REPORT_CAP
    scheme: str = "vantorima"
    private_key: object = None  # signs the demo's links
    demo: DemoAccount = None


def text(status, body, headers=None):
    return web.Response(status=status, text=body, content_type="text/plain", headers={**NO_STORE, **(headers or {})})


@web.middleware
async def host_check(request, handler):
    if not hostnames.allowed(request.headers.get("Host"), request.app["vantorima.settings"].hosts):
        return text(421, "not this service's host name\n")
    try:
        return await handler(request)
    except StoreUnavailable as error:
        log.error("the store failed: %s", error)
        return text(503, "the link's state is out of reach\n")


async def report(request):
    settings = request.app["vantorima.settings"]
    try:
        body = await request.read()  # capped by the application's client_max_size
    except web.HTTPRequestEntityTooLarge:
        return web.Response(status=413, headers=NO_STORE)
    if request.content_type == FORM and len(body) <= settings.report_cap:
        fields = urllib.parse.parse_qs(body.decode("ascii", "replace"), max_num_fields=8)
        nonce, outcome = fields.get("nonce", [""])[0], fields.get("outcome", [""])[0]
        await request.app["vantorima.store"].report(nonce, outcome)
    return web.Response(status=204, headers=NO_STORE)


async def state(request):
    settings = request.app["vantorima.settings"]
    store = request.app["vantorima.store"]
    query = request.query
    nonce, watch = query.get("nonce", ""), query.get("watch", "")
    after, wait = query.get("after"), query.get("wait")
    if after is not None and wait is not None:
        if not wait.isdigit() or int(wait) < 1:
            return text(400, "wait takes 1 to %d seconds\n" % settings.max_wait)
        word = await store.wait(nonce, watch, after, min(int(wait), settings.max_wait))
    else:
        word = await store.state(nonce, watch)
    if word is None:
        return text(404, "no such link\n")
    return text(200, word, {"Vantorima-Wait": str(settings.max_wait)})


async def new_link(request):
    settings = request.app["vantorima.settings"]
    demo = settings.demo
    try:
        made = await issue_link(request.app["vantorima.store"], settings.private_key, demo.id, demo.password,
                                join_key=demo.join_key, server=demo.server, ttl=demo.ttl, max_age=settings.max_age,
                                scheme=settings.scheme)
    except LinkError as error:
        log.error("no link for %s: %s", demo.id, error)
        return text(500, "no link\n")
    return web.json_response(made, headers=NO_STORE)


async def release_waiters(app):
    # Held requests answer now, not when the shutdown's grace ends.
    app["vantorima.store"].waiters.wake_all()


async def close_store(app):
    await app["vantorima.store"].close()


def make_app(store, settings):
    """The aiohttp application of the link's endpoints over store (a
    store.MemoryStore or store.RedisStore), under settings (a Settings).
    The application starts and closes the store."""
    app = web.Application(middlewares=[host_check], client_max_size=settings.report_cap + 1)
    app["vantorima.store"] = store
    app["vantorima.settings"] = settings
    app.router.add_post("/link/report", report)
    app.router.add_get("/link/state", state)
    if settings.demo is not None:
        if settings.private_key is None:
            raise ValueError("a demo account needs the private key")
        app.router.add_post("/link", new_link)

    async def start_store(app):
        await store.start()

    app.on_startup.append(start_store)
    app.on_shutdown.append(release_waiters)
    app.on_cleanup.append(close_store)
    return app
