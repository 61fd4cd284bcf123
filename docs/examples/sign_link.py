#!/usr/bin/python3
"""Signs a launcher link, as the service's own tool (vantorima-link sign) does.

    printf '%s' "$PASS" | sign_link.py --private PRIVATE.pem --id ID --pass - \
        [--join-key KEY] [--server SERVER] [--ttl SECONDS] [--v N] [--scheme SCHEME]

A reference for services written in Python: Debian's python3-cryptography
(run it with /usr/bin/python3). The signature is ECDSA P-256 with SHA-256 over
the link's exact ASCII bytes from the scheme up to, not including, "&sig=",
written as the base64url, without padding, of r||s: r and s as 32 bytes each,
big-endian (IEEE P1363, 64 bytes). The library gives DER: decode it with
decode_dss_signature and pack r and s. Check its links with
`vantorima-link verify --public PUBLIC.pem LINK`.
"""
import argparse
import base64
import secrets
import sys
import time
import urllib.parse

from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.hazmat.primitives.asymmetric.utils import decode_dss_signature


def encode(value):
    # UTF-8, every byte but A-Z a-z 0-9 - . _ ~ as %XX ("/" too: safe="" plus those four).
    return urllib.parse.quote(value, safe="-._~")


def signature(private_key, text):
    """sig= of text: base64url (no padding) of r||s, 32 bytes each."""
    der = private_key.sign(text.encode("ascii"), ec.ECDSA(hashes.SHA256()))
    r, s = decode_dss_signature(der)
    raw = r.to_bytes(32, "big") + s.to_bytes(32, "big")  # pad: r or s may be shorter than 32 bytes
    return base64.urlsafe_b64encode(raw).rstrip(b"=").decode("ascii")


def sign_link(private_key, player_id, password, join_key="", server="", ttl=120, version=1, scheme="vantorima"):
    fields = [("v", str(version)), ("id", player_id), ("pass", password), ("key", join_key), ("server", server),
              ("exp", str(int(time.time()) + ttl)), ("nonce", secrets.token_hex(16))]  # a fresh nonce per link
    text = f"{scheme}:launch?" + "&".join(f"{name}={encode(value)}" for name, value in fields)
    return f"{text}&sig={signature(private_key, text)}"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--private", required=True, help="the service's P-256 private key, PEM")
    parser.add_argument("--id", required=True)
    parser.add_argument("--pass", dest="password", required=True, help="- reads one line from standard input")
    parser.add_argument("--join-key", default="")
    parser.add_argument("--server", default="")
    parser.add_argument("--ttl", type=int, default=120, help="seconds, at most VANTORIMA_LINK_MAX_AGE (300)")
    parser.add_argument("--v", type=int, default=1, help="the link's version")
    parser.add_argument("--scheme", default="vantorima", help="VANTORIMA_URL_SCHEME")
    args = parser.parse_args()
    password = sys.stdin.readline().rstrip("\r\n") if args.password == "-" else args.password
    with open(args.private, "rb") as f:
        key = serialization.load_pem_private_key(f.read(), password=None)
    if not isinstance(key, ec.EllipticCurvePrivateKey) or key.curve.name != "secp256r1":
        sys.exit(f"{args.private}: not a P-256 private key")
    print(sign_link(key, args.id, password, args.join_key, args.server, args.ttl, args.v, args.scheme))


if __name__ == "__main__":
    main()
