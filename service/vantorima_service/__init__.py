"""The service's half of the Vantorima link door.

    from vantorima_service import make_app, issue_link, MemoryStore, RedisStore, Settings

See docs/operators.md, "The link's state". The names load on first use, so
that a program that only signs or keeps the state in memory (the test bed's
threaded server) needs neither aiohttp nor redis.
"""
import importlib

_HOMES = {
    "DemoAccount": "app", "Settings": "app", "make_app": "app",
    "issue_link": "links",
    "LinkError": "signing", "load_private_key": "signing", "make_link": "signing", "sign_link": "signing",
    "LinkStates": "store", "MemoryStore": "store", "RedisStore": "store",
}
__all__ = sorted(_HOMES)


def __getattr__(name):
    if name not in _HOMES:
        raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
    return getattr(importlib.import_module("." + _HOMES[name], __name__), name)
