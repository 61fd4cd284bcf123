#!/usr/bin/python3
"""Signs a launcher link, as the service's own tool (vantorima-link sign) does.

    printf '%s' "$PASS" | sign_link.py --private PRIVATE.pem --id ID --pass - \
        [--join-key KEY] [--server SERVER] [--ttl SECONDS] [--v N] [--scheme SCHEME]

A thin wrapper of the service package's signer (service/vantorima_service/
signing.py: sign_link), which a service in Python imports; run it with
/usr/bin/python3 (Debian's python3-cryptography). The signature is ECDSA
P-256 with SHA-256 over the link's exact ASCII bytes from the scheme up to,
not including, "&sig=", written as the base64url, without padding, of r||s
(IEEE P1363, 64 bytes). Check its links with
`vantorima-link verify --public PUBLIC.pem LINK`.
"""
import argparse
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "service"))
from vantorima_service.signing import LinkError, load_private_key, sign_link  # noqa: E402


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
    try:
        key = load_private_key(args.private)
    except LinkError as error:
        sys.exit(str(error))
    print(sign_link(key, args.id, password, args.join_key, args.server, args.ttl, args.v, args.scheme))


if __name__ == "__main__":
    main()
