"""Issuing a link: signed for the signed-in player, its state recorded."""
from .signing import DEFAULT_MAX_AGE, DEFAULT_TTL, make_link


async def issue_link(store, private_key, player_id, password, *, join_key="", server="", ttl=DEFAULT_TTL,
                     max_age=DEFAULT_MAX_AGE, scheme="vantorima", version=1):
    """Signs a link as `vantorima-link sign` does, records its state
    ("pending" until exp + max_age) in store and returns
    {"link": ..., "watch": ...}: the page opens the link and reads the state
    with the watch token, which never appears in the link.

    Call it only for the player the request has signed in: the link carries
    that player's password or token. Raises signing.LinkError for a value
    the launcher would refuse."""
    made = make_link(private_key, player_id, password, join_key, server, ttl, version, scheme, max_age)
    await store.issue(made.nonce, made.watch, made.exp + max_age)
    return made.as_json()
