"""The signed link, as the service's tool (vantorima-link sign) writes it.

The signature is ECDSA P-256 with SHA-256 over the link's exact ASCII bytes
from the scheme up to, not including, "&sig=", written as the base64url,
without padding, of r||s: r and s as 32 bytes each, big-endian (IEEE P1363,
64 bytes). The library gives DER: decode_dss_signature and pack r and s.
"""
import base64
import secrets
import time
import urllib.parse

from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.hazmat.primitives.asymmetric.utils import decode_dss_signature, encode_dss_signature

# What the launcher's reader takes (link/SignedLink.h): longer values, a
# blank in a name, are refused there, so they are refused here first.
MAX_LINK_CHARS = 2048
MAX_ID_BYTES = 64
MAX_KEY_BYTES = 32
MAX_SERVER_BYTES = 199
MAX_PASSWORD_BYTES = 26
TOKEN_CHARS = 64
MAX_VERSION = 999
DEFAULT_TTL = 120
DEFAULT_MAX_AGE = 300  # VANTORIMA_LINK_MAX_AGE


class LinkError(ValueError):
    """A link the launcher would refuse: the service's mistake, better seen here."""


def load_private_key(path):
    """The P-256 private key in the PEM file at path; LinkError otherwise."""
    try:
        with open(path, "rb") as f:
            key = serialization.load_pem_private_key(f.read(), password=None)
    except OSError as error:
        raise LinkError(f"cannot read {path}: {error.strerror}") from None
    except (ValueError, TypeError):
        raise LinkError(f"{path} holds no private key in PEM (without a password)") from None
    if not isinstance(key, ec.EllipticCurvePrivateKey) or key.curve.name != "secp256r1":
        raise LinkError(f"{path}: not a P-256 private key")
    return key


def encode(value):
    # UTF-8, every byte but A-Z a-z 0-9 - . _ ~ as %XX ("/" too: safe="" plus those four).
    return urllib.parse.quote(value, safe="-._~")


def signature(private_key, text):
    """sig= of text: base64url (no padding) of r||s, 32 bytes each."""
    der = private_key.sign(text.encode("ascii"), ec.ECDSA(hashes.SHA256()))
    r, s = decode_dss_signature(der)
    raw = r.to_bytes(32, "big") + s.to_bytes(32, "big")  # pad: r or s may be shorter than 32 bytes
    return base64.urlsafe_b64encode(raw).rstrip(b"=").decode("ascii")


def signature_holds(public_key, link):
    """True when link's sig= is public_key's signature of the text before it."""
    text, sep, sig = link.rpartition("&sig=")
    try:
        raw = base64.urlsafe_b64decode(sig + "=" * (-len(sig) % 4))
        if not sep or len(raw) != 64:
            return False
        der = encode_dss_signature(int.from_bytes(raw[:32], "big"), int.from_bytes(raw[32:], "big"))
        public_key.verify(der, text.encode("ascii"), ec.ECDSA(hashes.SHA256()))
        return True
    except Exception:  # a malformed or forged signature alike
        return False


def check_values(player_id, password, join_key, server, ttl, version, max_age=DEFAULT_MAX_AGE):
    """LinkError for a value the launcher's reader would refuse."""
    for name, value in (("id", player_id), ("pass", password), ("key", join_key), ("server", server)):
        if not isinstance(value, str):
            raise LinkError(f"{name} is not text")
        if any(ord(c) < 32 or 127 <= ord(c) < 160 for c in value):
            raise LinkError(f"a control character in {name}")
    # The values that go into the client's command line stay one argument
    # there: no blank or quote, no leading "/" (a switch), none at all in id and key.
    for name, value in (("id", player_id), ("key", join_key), ("server", server)):
        if any(c.isspace() or c in "\u200b\u200c\u200d\u2060\ufeff" for c in value):
            raise LinkError(f"a blank in {name}")
        if '"' in value or "'" in value:
            raise LinkError(f"a quote in {name}")
        if value.startswith("/") or (name != "server" and "/" in value):
            raise LinkError(f"a switch (/) in {name}")
    for name, value, most in (("id", player_id, MAX_ID_BYTES), ("key", join_key, MAX_KEY_BYTES),
                              ("server", server, MAX_SERVER_BYTES)):
        if len(value.encode("utf-8", "surrogatepass")) > most:
            raise LinkError(f"{name} is longer than {most} bytes")
    size = len(password.encode("utf-8", "surrogatepass"))
    is_token = len(password) == TOKEN_CHARS and all(c in "0123456789abcdefABCDEF" for c in password)
    if size == TOKEN_CHARS and not is_token:
        raise LinkError(f"a pass of {TOKEN_CHARS} characters must be a token (hex digits)")
    if size > MAX_PASSWORD_BYTES and not is_token:
        raise LinkError(f"pass is longer than {MAX_PASSWORD_BYTES} bytes and no token")
    if not isinstance(ttl, int) or not 1 <= ttl <= max_age:
        raise LinkError(f"ttl takes 1 to {max_age} seconds (the launcher refuses a link valid for longer)")
    if not isinstance(version, int) or not 1 <= version <= MAX_VERSION:
        raise LinkError(f"the link version takes 1 to {MAX_VERSION}")


def sign_link(private_key, player_id, password, join_key="", server="", ttl=DEFAULT_TTL, version=1,
              scheme="vantorima", *, now=None, nonce=None):
    """One signed link; exp is now (default: the clock) plus ttl, nonce a
    fresh random one unless given (for test vectors)."""
    exp = int(time.time() if now is None else now) + ttl
    nonce = secrets.token_hex(16) if nonce is None else nonce
    fields = [("v", str(version)), ("id", player_id), ("pass", password), ("key", join_key), ("server", server),
              ("exp", str(exp)), ("nonce", nonce)]
    text = f"{scheme}:launch?" + "&".join(f"{name}={encode(value)}" for name, value in fields)
    return f"{text}&sig={signature(private_key, text)}"


class MadeLink:
    """A link signed for one player, with its nonce, exp and watch token."""

    __slots__ = ("link", "nonce", "exp", "watch")

    def __init__(self, link, nonce, exp, watch):
        self.link, self.nonce, self.exp, self.watch = link, nonce, exp, watch

    def as_json(self):
        return {"link": self.link, "watch": self.watch}


def new_watch():
    """The watch token: 32 random bytes, URL-safe base64 without padding (43 characters)."""
    return secrets.token_urlsafe(32)


def make_link(private_key, player_id, password, join_key="", server="", ttl=DEFAULT_TTL, version=1,
              scheme="vantorima", max_age=DEFAULT_MAX_AGE):
    """A checked, signed link and a new watch token; LinkError for values the
    launcher would refuse."""
    check_values(player_id, password, join_key, server, ttl, version, max_age)
    if not scheme or not all(c.isascii() and (c.isalnum() or c in "+-.") for c in scheme) or not scheme[0].isalpha():
        raise LinkError(f"not a URL scheme: {scheme!r}")
    now = int(time.time())
    nonce = secrets.token_hex(16)
    link = sign_link(private_key, player_id, password, join_key, server, ttl, version, scheme, now=now, nonce=nonce)
    if len(link) > MAX_LINK_CHARS:
        raise LinkError(f"the link is longer than {MAX_LINK_CHARS} characters")
    return MadeLink(link, nonce, now + ttl, new_watch())
