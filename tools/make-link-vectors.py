#!/usr/bin/python3
"""Writes docs/link-vectors.json: links and the verdict the launcher gives each.

    /usr/bin/python3 tools/make-link-vectors.py docs/link-vectors.json
    /usr/bin/python3 tools/make-link-vectors.py --check docs/link-vectors.json

Keeps the test key pair of the file it rewrites (a new pair when there is
none) and signs with the reference signer's own function
(service/vantorima_service/signing.py, which docs/examples/sign_link.py
wraps). Each vector has a fixed "now", so the file stays
true for ever; run again only to add vectors. The committed file, not this
script, is what the tests read. --check writes nothing: it says whether the
file is what this script makes, signatures aside (ECDSA's are random each
time; the vectors' test reads each verdict with the launcher's own reader).
"""
import base64
import json
import os
import re
import sys

from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.hazmat.primitives.asymmetric.utils import decode_dss_signature

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "service"))
from vantorima_service.signing import encode, signature  # noqa: E402

NOW = 1800000000
MAX_AGE = 300
EXP = NOW + 120
NONCE = "00112233445566778899aabbccddeeff"
TOKEN = "0123456789abcdef" * 4


def load_or_make_key(path):
    if os.path.exists(path):
        with open(path, encoding="utf-8") as f:
            pem = json.load(f)["private_key_pem"]
        return serialization.load_pem_private_key(pem.encode("ascii"), password=None)
    return ec.generate_private_key(ec.SECP256R1())


def text(fields, head="vantorima:launch?"):
    return head + "&".join(f"{name}={value}" for name, value in fields)


def fields(**changes):
    """The good link's query, raw (already encoded); None drops a parameter."""
    out = [("v", "1"), ("id", "guest"), ("pass", encode("s3cret")), ("key", ""), ("server", ""), ("exp", str(EXP)),
           ("nonce", NONCE)]
    for name, value in changes.items():
        name = name.rstrip("_")
        out = [(n, value if n == name else v) for n, v in out if not (n == name and value is None)]
    return out


def raw_rs(key, message):
    r, s = decode_dss_signature(key.sign(message.encode("ascii"), ec.ECDSA(hashes.SHA256())))
    return r, s


def b64url(data):
    return base64.urlsafe_b64encode(data).rstrip(b"=").decode("ascii")


def without_signatures(document):
    """The document with what differs from run to run masked: each sig= value
    and the stranger's signatures with it."""
    masked = json.loads(json.dumps(document))
    for vector in masked["vectors"]:
        vector["link"] = re.sub(r"&sig=[^&]*", "&sig=*", vector["link"])
    return masked


def check(path, document):
    with open(path, encoding="utf-8") as f:
        committed = json.load(f)
    want, have = without_signatures(document), without_signatures(committed)
    faults = [f"{k}: differs" for k in sorted(set(want) | set(have)) if k != "vectors" and want.get(k) != have.get(k)]
    names = [v["name"] for v in have["vectors"]]
    for vector in want["vectors"]:
        if vector not in have["vectors"]:
            faults.append(f"vector {vector['name']!r}: " + ("differs" if vector["name"] in names else "missing"))
    for vector in have["vectors"]:
        if vector["name"] not in [v["name"] for v in want["vectors"]]:
            faults.append(f"vector {vector['name']!r}: not made by this script")
    for fault in faults:
        print(f"link vectors: {path}: {fault}")
    if faults:
        print(f"link vectors: FAILED, {len(faults)} differences; run /usr/bin/python3 tools/make-link-vectors.py {path}")
        return 1
    print(f"link vectors: {len(want['vectors'])} vectors as tools/make-link-vectors.py makes them")
    return 0


def main():
    args = sys.argv[1:]
    checking = args[:1] == ["--check"]
    if checking:
        args = args[1:]
    if len(args) != 1:
        sys.exit("usage: make-link-vectors.py [--check] docs/link-vectors.json")
    out = args[0]
    key = load_or_make_key(out)
    stranger = ec.generate_private_key(ec.SECP256R1())
    vectors = []

    def add(name, link, verdict, now=NOW, note=None):
        vector = {"name": name, "now": now, "link": link, "verdict": verdict}
        if note:
            vector["note"] = note
        vectors.append(vector)

    def signed(body, signer=key):
        return f"{body}&sig={signature(signer, body)}"

    good = text(fields())
    add("valid", signed(good), "valid")
    add("valid: every value, UTF-8", signed(text(fields(
        id=encode("张三"), pass_=encode("p&ss= word"), key="1000", server=encode("go.example.com:7000")))), "valid")
    add("valid: a ready token in pass", signed(text(fields(pass_=TOKEN))), "valid")
    add("valid: lowercase escapes, uppercase nonce, scheme in capitals",
        signed(text(fields(id="%e5%bc%a0", nonce=NONCE.upper()), "VANTORIMA:launch?")), "valid")
    add("valid: its last second", signed(good), "valid", now=EXP - 1)
    add("valid: exp exactly the longest validity ahead", signed(good), "valid", now=EXP - MAX_AGE)

    # r shorter than 32 bytes: padded it verifies, unpadded it is 63 bytes.
    while True:
        r, s = raw_rs(key, good)
        if r < 1 << 248:
            break
    add("valid: r with a leading zero byte, padded", f"{good}&sig={b64url(r.to_bytes(32, 'big') + s.to_bytes(32, 'big'))}",
        "valid")
    r_bytes = r.to_bytes((r.bit_length() + 7) // 8, "big")
    add("r not padded to 32 bytes (63 bytes)", f"{good}&sig={b64url(r_bytes + s.to_bytes(32, 'big'))}", "bad sig")
    der = key.sign(good.encode("ascii"), ec.ECDSA(hashes.SHA256()))
    add("DER signature instead of r||s", f"{good}&sig={b64url(der)}", "bad sig")
    rs = signature(key, good)
    add("padded base64url", f"{good}&sig={rs}==", "bad sig")
    add("hex instead of base64url", f"{good}&sig={base64.urlsafe_b64decode(rs + '==').hex()}", "bad sig")
    add("r alone", f"{good}&sig={b64url(base64.urlsafe_b64decode(rs + '==')[:32])}", "bad sig")
    alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"
    spare = alphabet[alphabet.index(rs[-1]) & ~15 | 1]  # the last character's 4 bits past the 64 bytes
    add("base64url with its spare bits set", f"{good}&sig={rs[:-1]}{spare}", "bad sig")

    tampered = signed(good).replace("id=guest", "id=guesT")
    add("tampered byte in a value", tampered, "signature does not verify")
    flipped = signed(good)
    at = flipped.index("&sig=") + 10
    flipped = flipped[:at] + ("B" if flipped[at] == "A" else "A") + flipped[at + 1:]
    add("tampered byte in the signature", flipped, "signature does not verify")
    add("signed by another key", signed(good, stranger), "signature does not verify")
    add("signed without the scheme", f"{good}&sig={signature(key, good.split(':', 1)[1])}", "signature does not verify")
    add("signed over the link with &sig= itself", f"{good}&sig={signature(key, good + '&sig=')}",
        "signature does not verify")
    add("expired: now is exp", signed(good), "expired", now=EXP)
    add("expired long ago", signed(good), "expired", now=EXP + 86400)
    add("too far ahead: one second more than the longest validity", signed(good), "exp too far ahead",
        now=EXP - MAX_AGE - 1)
    add("exp in milliseconds", signed(text(fields(exp=str(EXP * 1000)))), "exp too far ahead")

    newer = signed(text(fields(v="2")))
    add("newer v, genuine and fresh: an older launcher renews itself", newer, "newer version")
    add("newer v with a parameter of its own", signed(text(fields(v="2") + [("extra", "new")])), "newer version")
    add("newer v, expired", newer, "expired", now=EXP)
    add("newer v, another key", signed(text(fields(v="2")), stranger), "signature does not verify")
    add("newer v without a nonce", signed(text(fields(v="2", nonce=None))), "missing parameter nonce")
    add("v=0", signed(text(fields(v="0"))), "unknown version")
    add("v with a leading zero", signed(text(fields(v="01"))), "unknown version")

    add("a blank as + (form encoding)", signed(text(fields(pass_="s3c+ret"))), "character not allowed in a link")
    add("an unencoded blank", signed(text(fields(pass_="s3c ret"))), "character not allowed in a link")
    add("bad escape", signed(text(fields(id="gu%G1st"))), "bad escape in id")
    add("invalid UTF-8", signed(text(fields(id="%C3%28"))), "invalid UTF-8 in id")
    add("Latin-1 instead of UTF-8", signed(text(fields(id="Jos%E9"))), "invalid UTF-8 in id")
    add("encoded blank in id", signed(text(fields(id="player%20one"))), "blank in id")
    add("slash in id", signed(text(fields(id="a%2Fb"))), "switch in id")
    add("control character", signed(text(fields(pass_="a%00b"))), "control character in pass")
    add("id too long (65 bytes)", signed(text(fields(id="i" * 65))), "id too long")
    add("pass too long (27 bytes)", signed(text(fields(pass_="p" * 27))), "pass too long")
    add("pass of 64 characters, not hex", signed(text(fields(pass_="g" * 64))), "pass of 64 characters is not a token")
    add("exp with a leading zero", signed(text(fields(exp="0" + str(EXP)))), "bad exp")
    add("exp with a fraction", signed(text(fields(exp=f"{EXP}.5"))), "bad exp")
    add("nonce of 15 digits", signed(text(fields(nonce="a" * 15))), "bad nonce")
    add("missing nonce", signed(text(fields(nonce=None))), "missing parameter nonce")
    add("repeated id", signed(text(fields() + [("id", "other")])), "repeated parameter id")
    add("unknown parameter", signed(text(fields() + [("lang", "zh")])), "unknown parameter")
    add("a parameter repeated after sig", signed(good) + "&v=1", "repeated parameter v")
    add("parameter after sig", f"{text(fields(nonce=None))}&sig={'A' * 86}&nonce={NONCE}", "sig not last")
    add("other scheme", signed(text(fields(), "https:launch?")), "other scheme")
    add("other verb", signed(text(fields(), "vantorima:open?")), "other verb")
    padded = text(fields() + [("pad", "")])
    add("2,049 characters", signed(padded + "x" * (2049 - len(padded) - 91)), "link too long")

    for vector in vectors:
        assert vector["name"] != "2,049 characters" or len(vector["link"]) == 2049, len(vector["link"])
    document = {
        "about": "Links and the verdict the launcher gives each at the given now (Unix seconds), with "
                 "VANTORIMA_URL_SCHEME vantorima, VANTORIMA_LINK_VERSION 1 and VANTORIMA_LINK_MAX_AGE 300: "
                 "'valid', or the reason it traces as 'link refused: <reason>'. vantorima-link verify --public "
                 "PUBLIC.pem --now NOW --max-age 300 LINK prints the same. Made by tools/make-link-vectors.py.",
        "warning": "TEST KEY FOR THESE VECTORS ONLY. Its private half is published here: never list this public key "
                   "in VANTORIMA_LINK_KEYS, never sign a real link with it.",
        "scheme": "vantorima",
        "link_version": 1,
        "max_age": MAX_AGE,
        "public_key_pem": key.public_key().public_bytes(serialization.Encoding.PEM,
                                                        serialization.PublicFormat.SubjectPublicKeyInfo).decode(),
        "private_key_pem": key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                                             serialization.NoEncryption()).decode(),
        "vectors": vectors,
    }
    if checking:
        return check(out, document)
    with open(out, "w", encoding="utf-8") as f:
        json.dump(document, f, indent=1, ensure_ascii=True)
        f.write("\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
