"""python3 -m vantorima_service serve|issue: the link's endpoints as a small
service behind the site's reverse proxy, and the signing of one link.

  serve --listen HOST:PORT [--host NAME]... [--redis URL] --private-key PEM [--max-age S]
        [--install-wait S] [--max-waiters N] [--scheme SCHEME]
        [--demo-account ID --demo-pass-file FILE [--demo-join-key K] [--demo-server S] [--ttl S]]
  issue --redis URL --private-key PEM --id ID --pass - [--join-key K] [--server S] [--ttl S]
        [--max-age S] [--scheme SCHEME]

Bad usage exits 2 with the reason; a failure to serve or to reach Redis, 1.
"""
import argparse
import asyncio
import gc
import json
import logging
import signal
import sys

from .app import DemoAccount, Settings, make_app
from .hosts import default_hosts, split_host
from .links import issue_link
from .signing import DEFAULT_MAX_AGE, DEFAULT_TTL, LinkError, check_values, load_private_key
from .store import INSTALL_WAIT, MAX_WAITERS, MemoryStore, RedisStore, StoreUnavailable

PROG = "vantorima_service"


def number(low, high):
    def parse(text):
        if not text.isdigit() or not low <= int(text) <= high:
            raise argparse.ArgumentTypeError(f"takes a whole number from {low} to {high}")
        return int(text)
    return parse


def listen_address(text):
    name, port = split_host(text)
    if not name or port is None or port > 65535:
        raise argparse.ArgumentTypeError("takes HOST:PORT (IPv6 as [ADDRESS]:PORT)")
    return name.strip("[]"), port


def host_name(text):
    name, port = split_host(text)
    if not name or (port is not None and not 0 < port <= 65535) or not all(c.isalnum() or c in "-._[]:" for c in name):
        raise argparse.ArgumentTypeError("takes a host name, with or without :PORT")
    return text.strip().lower()


def parser():
    top = argparse.ArgumentParser(prog=PROG, description=__doc__.split("\n\n")[0])
    commands = top.add_subparsers(dest="command", required=True)

    def common(p):
        p.add_argument("--private-key", required=True, metavar="PEM", help="the service's P-256 private key, PEM")
        p.add_argument("--max-age", type=number(1, 86400), default=DEFAULT_MAX_AGE, metavar="S",
                       help="the state's lifetime after the link's exp; and the longest --ttl "
                       "(the build's VANTORIMA_LINK_MAX_AGE, default %(default)s)")
        p.add_argument("--scheme", default="vantorima", help="the build's VANTORIMA_URL_SCHEME (default %(default)s)")
        p.add_argument("--ttl", type=number(1, 86400), default=DEFAULT_TTL, metavar="S",
                       help="seconds a link stays valid (default %(default)s)")

    serve = commands.add_parser("serve", help="serve /link/report and /link/state (and a demo's POST /link)")
    serve.add_argument("--listen", required=True, type=listen_address, metavar="HOST:PORT",
                       help="the address and port (0: a free one, printed)")
    serve.add_argument("--host", action="append", type=host_name, default=[], metavar="NAME",
                       help="a Host the service answers, with or without :PORT (repeatable; default: the listen "
                       "address, and localhost for a loopback one)")
    serve.add_argument("--redis", metavar="URL", help="redis://... : the state in Redis, shared by every process")
    serve.add_argument("--install-wait", type=number(1, 86400), default=INSTALL_WAIT, metavar="S",
                       help="the build's VANTORIMA_INSTALL_WAIT (default %(default)s)")
    serve.add_argument("--max-waiters", type=number(0, 1000000), default=MAX_WAITERS, metavar="N",
                       help="requests held at once in this process; more are answered at once (default %(default)s)")
    serve.add_argument("--demo-account", metavar="ID", help="POST /link signs links for this one account (a demo)")
    serve.add_argument("--demo-pass-file", metavar="FILE", help="the demo account's password (its first line)")
    serve.add_argument("--demo-join-key", default="", metavar="K")
    serve.add_argument("--demo-server", default="", metavar="S")
    serve.add_argument("--verbose", action="store_true", help="log every request")
    common(serve)

    issue = commands.add_parser("issue", help="sign one link, record its state in Redis, print {link, watch}")
    issue.add_argument("--redis", required=True, metavar="URL")
    issue.add_argument("--id", required=True)
    issue.add_argument("--pass", dest="password", required=True, metavar="-",
                       help="- reads the password (or token) from standard input, one line")
    issue.add_argument("--join-key", default="")
    issue.add_argument("--server", default="")
    common(issue)
    return top


def redis_client(url):
    import redis.asyncio
    return redis.asyncio.Redis.from_url(url, decode_responses=True, health_check_interval=30)


def check_redis_url(p, url):
    if url and not url.startswith(("redis://", "rediss://", "unix://")):
        p.error("--redis takes a redis://, rediss:// or unix:// URL")


def read_line(p, stream, what):
    line = stream.readline(1025)
    if len(line) > 1024 or (line and not line.endswith("\n") and stream.read(1)):
        p.error(f"{what}: more than one line")
    return line.rstrip("\r\n")


async def run_issue(args):
    store = RedisStore(redis_client(args.redis))
    try:
        made = await issue_link(store, args.key, args.id, args.password, join_key=args.join_key, server=args.server,
                                ttl=args.ttl, max_age=args.max_age, scheme=args.scheme)
    finally:
        await store.close()
    print(json.dumps(made))


async def run_serve(args):
    from aiohttp import web

    store = (RedisStore(redis_client(args.redis), args.install_wait, args.max_waiters) if args.redis
             else MemoryStore(args.install_wait, max_waiters=args.max_waiters))
    settings = Settings(hosts=list(args.host), max_age=args.max_age, scheme=args.scheme, private_key=args.key,
                        demo=args.demo)
    app = make_app(store, settings)
    # Held requests are long-lived objects: under the default thresholds the
    # collector walks every one of them every few seconds, a pause of
    # hundreds of ms at 5,000 held requests that delays the reports' wake-ups.
    gc.set_threshold(10000, 10, 100)
    gc.freeze()  # what is loaded by now lives as long as the process
    runner = web.AppRunner(app, access_log=logging.getLogger("aiohttp.access") if args.verbose else None)
    await runner.setup()
    try:
        host, port = args.listen
        site = web.TCPSite(runner, host, port, shutdown_timeout=5)
        await site.start()
        port = site._server.sockets[0].getsockname()[1]
        if not settings.hosts:
            settings.hosts = default_hosts(host, port)
        print(f"{PROG}: serving on {host}:{port} with the state in {'Redis' if args.redis else 'memory'}",
              flush=True)
        stop = asyncio.Event()
        loop = asyncio.get_running_loop()
        for sig in (signal.SIGINT, signal.SIGTERM):
            loop.add_signal_handler(sig, stop.set)
        await stop.wait()
    finally:
        await runner.cleanup()


def main(argv=None):
    p = parser()
    args = p.parse_args(argv)
    if args.command == "issue" or args.demo_account is not None:
        if args.ttl > args.max_age:
            p.error("--ttl may be at most --max-age (the launcher refuses a link valid for longer)")
    check_redis_url(p, args.redis)
    try:
        args.key = load_private_key(args.private_key)
    except LinkError as error:
        p.error(f"--private-key: {error}")
    if args.command == "issue":
        if args.password != "-":
            p.error("--pass takes - (the password on standard input: a command line shows in every process list)")
        args.password = read_line(p, sys.stdin, "--pass -")
    else:
        if (args.demo_account is None) != (args.demo_pass_file is None):
            p.error("--demo-account and --demo-pass-file go together")
        args.demo = None
        if args.demo_account is not None:
            try:
                with open(args.demo_pass_file, encoding="utf-8") as f:
                    password = read_line(p, f, "--demo-pass-file")
            except (OSError, UnicodeDecodeError) as error:
                p.error(f"--demo-pass-file: {error}")
            args.demo = DemoAccount(args.demo_account, password, args.demo_join_key, args.demo_server, args.ttl)
            try:
                check_values(args.demo.id, password, args.demo.join_key, args.demo.server, args.ttl, 1, args.max_age)
            except LinkError as error:
                p.error(f"the demo account: {error}")
        if not args.host:
            try:
                default_hosts(args.listen[0], args.listen[1] or 1)
            except ValueError as error:
                p.error(str(error))
    logging.basicConfig(level=logging.INFO if getattr(args, "verbose", False) else logging.WARNING,
                        format=f"{PROG}: %(message)s")
    try:
        asyncio.run(run_issue(args) if args.command == "issue" else run_serve(args))
    except LinkError as error:
        sys.stderr.write(f"{PROG}: no link: {error}\n")
        return 2
    except (StoreUnavailable, ConnectionError, OSError) as error:
        sys.stderr.write(f"{PROG}: {error}\n")
        return 1
    except KeyboardInterrupt:
        return 130
    return 0


if __name__ == "__main__":
    sys.exit(main())
