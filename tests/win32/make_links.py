#!/usr/bin/env python3
"""Signs fresh links for the link handler's tests, then runs the test.

    make_links.py --key LINK-KEY.pem --scheme SCHEME [--link-tool TOOL] [--bench N] -- COMMAND...

Writes name=link lines to a temporary file, names it in VANTORIMA_TEST_LINKS
and runs COMMAND (the test under Wine) with it: every run gets new nonces and
an exp a few minutes ahead, as the service would give. Its first line,
watch=TOKEN, is the watch token with which the local server (update_server.py)
tells the links' state, as the service tells it the page that got the link. --bench N adds N links
bench_0... for bench_handler. Signs with openssl as a
service in any language could: ECDSA P-256 over SHA-256 of the bytes up to
"&sig=", r||s in base64url without padding. A second key, made here, signs
the link of a key that the handler does not know. With --link-tool, the
service's own tool (build/host's vantorima-link) signs the link of the next
format, "next", with `sign --v 2`, as a service would during a launcher's
rollout.
"""
import base64
import os
import secrets
import subprocess
import sys
import tempfile
import time
import urllib.parse


def der_to_raw(der):
    # SEQUENCE { INTEGER r, INTEGER s }, each to 32 bytes big-endian.
    assert der[0] == 0x30
    at = 2 if der[1] < 0x80 else 3
    out = b""
    for _ in range(2):
        assert der[at] == 0x02
        n = der[at + 1]
        out += int.from_bytes(der[at + 2:at + 2 + n], "big").to_bytes(32, "big")
        at += 2 + n
    return out


def sign(key, text):
    der = subprocess.run(["openssl", "dgst", "-sha256", "-sign", key], input=text.encode(),
                         capture_output=True, check=True).stdout
    return base64.urlsafe_b64encode(der_to_raw(der)).decode().rstrip("=")


def link(signer, scheme, exp, **values):
    fields = {"v": "1", "id": "", "pass": "", "key": "", "server": ""}
    fields.update(values)
    fields["exp"] = str(exp)
    fields.setdefault("nonce", secrets.token_hex(16))
    query = "&".join(f"{k}={urllib.parse.quote(v, safe='-._~')}" for k, v in fields.items())
    text = f"{scheme}:launch?{query}"
    return f"{text}&sig={sign(signer, text)}"


def tool_link(tool, key, scheme, ttl, version, player_id, password):
    """A link that TOOL signs (the password on its standard input)."""
    run = subprocess.run([tool, "sign", "--private", key, "--id", player_id, "--pass", "-", "--ttl", str(ttl),
                          "--v", str(version)], input=password.encode(), capture_output=True)
    made = run.stdout.decode().strip()
    if run.returncode != 0 or not made.lower().startswith(f"{scheme.lower()}:launch?v={version}&"):
        sys.exit(f"make_links: {tool} signed no link of {scheme}, v={version} (build/host with the same "
                 f"VANTORIMA_URL_SCHEME first: tools/build.sh): {run.stderr.decode().strip()} {made}")
    return made


def main():
    args = sys.argv[1:]
    split = args.index("--")
    opts = dict(zip(args[:split:2], args[1:split:2]))
    key, scheme, command = opts["--key"], opts["--scheme"], args[split + 1:]
    now = int(time.time())
    token = "0123456789abcdef" * 4
    with tempfile.TemporaryDirectory() as work:
        stranger = os.path.join(work, "stranger.pem")
        subprocess.run(["openssl", "genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256",
                        "-out", stranger], check=True, capture_output=True)
        soon = now + 240
        links = {
            "token": link(key, scheme, soon, id="棋手one", **{"pass": token}, key="7777", server="go.example:7000"),
            "password": link(key, scheme, soon, id="guest", **{"pass": "s3cret \"%s\""}),
            "update": link(key, scheme, soon, id="player", **{"pass": token}),
            "update_stop": link(key, scheme, soon, id="player", **{"pass": token}),
            "expired": link(key, scheme, now - 5, id="guest"),
            "far_future": link(key, scheme, now + 3600, id="guest"),
            "stranger_key": link(stranger, scheme, soon, id="guest"),
            "not_ansi": link(key, scheme, soon, id="guest😀"),
            "same_account": link(key, scheme, soon, id="alice", **{"pass": token}),
            "switch_no": link(key, scheme, soon, id="mallory", **{"pass": token}),
            "switch_yes": link(key, scheme, soon, id="mallory", **{"pass": token}),
            # A newer format: renews the launcher (v2: the next launcher reads it; v3: nobody here does).
            "next": (tool_link(opts["--link-tool"], key, scheme, soon - now, 2, "player", token)
                     if "--link-tool" in opts else link(key, scheme, soon, v="2", id="player", **{"pass": token})),
            "next_stranger": link(stranger, scheme, soon, v="2", id="player"),
            "next_expired": link(key, scheme, now - 5, v="2", id="player", **{"pass": token}),
            "beyond": link(key, scheme, soon, v="3", id="player", extra="a parameter of its own"),
        }
        for i in range(int(opts.get("--bench", "0"))):
            links[f"bench_{i}"] = link(key, scheme, soon, id="guest", **{"pass": "0" * 64})
        path = os.path.join(work, "links.txt")
        with open(path, "w", encoding="utf-8") as f:
            f.write(f"watch={secrets.token_urlsafe(32)}\n")
            for name, value in links.items():
                f.write(f"{name}={value}\n")
        env = dict(os.environ, VANTORIMA_TEST_LINKS=path)
        sys.exit(subprocess.run(command, env=env).returncode)


if __name__ == "__main__":
    main()
