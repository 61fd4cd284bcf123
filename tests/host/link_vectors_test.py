#!/usr/bin/env python3
"""The link tool's verdicts against docs/link-vectors.json, and the reference
signers (docs/examples/) against the tool.

    link_vectors_test.py vectors TOOL VECTORS.json
    link_signer_test.py  signer  TOOL VECTORS.json python|node|tool

vectors: `TOOL verify` prints each vector's verdict at its now, and exits 0
for "valid" alone. signer: the signer's links, signed with the vectors' test
key, verify now (v=1: "valid"; --v 2: "newer version", on which a launcher
that reads v=1 renews itself), and one signed by the wrong key does not.
"""
import json
import os
import subprocess
import sys
import tempfile

EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs", "examples")
SIGNERS = {
    # Debian's python3-cryptography, not a pyenv interpreter's site-packages.
    "python": ["/usr/bin/python3", os.path.join(EXAMPLES, "sign_link.py")],
    "node": ["node", os.path.join(EXAMPLES, "sign-link.js")],
}


def verify(tool, public, link, *options, stdin=False):
    command = [tool, "verify", "--public", public, *options, "-" if stdin else link]
    run = subprocess.run(command, input=link if stdin else "", capture_output=True, text=True, timeout=30)
    return run.stdout.strip(), run.returncode, run.stderr


def check_vectors(tool, document, public):
    failures = 0
    for i, vector in enumerate(document["vectors"]):
        verdict, code, err = verify(tool, public, vector["link"], "--now", str(vector["now"]), "--max-age",
                                    str(document["max_age"]), stdin=i % 2 == 1)  # both ways of giving the link
        expected_code = 0 if vector["verdict"] == "valid" else 1
        if verdict != vector["verdict"] or code != expected_code:
            failures += 1
            print(f"FAIL {vector['name']}: got {verdict!r} (exit {code}), expected {vector['verdict']!r} "
                  f"(exit {expected_code}) {err}")
    print(f"{len(document['vectors']) - failures} of {len(document['vectors'])} vectors give their verdict")

    # The keys: any one of those named; without --public, the build's own
    # (never the vectors' key); a file that holds no public key is no key.
    valid = next(v for v in document["vectors"] if v["verdict"] == "valid")
    clock = ["--now", str(valid["now"]), "--max-age", str(document["max_age"])]
    other = os.path.join(os.path.dirname(public), "other-pub.pem")
    subprocess.run(f"openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 | openssl pkey -pubout -out {other}",
                   shell=True, check=True, capture_output=True)
    private = os.path.join(os.path.dirname(public), "vectors-key.pem")
    runs = [
        ([tool, "verify", "--public", other, "--public", public, *clock, valid["link"]], "valid", 0),
        ([tool, "verify", "--public", other, *clock, valid["link"]], "signature does not verify", 1),
        ([tool, "verify", *clock, valid["link"]], "signature does not verify", 1),
        ([tool, "verify", "--public", private, *clock, valid["link"]], "", 2),
        ([tool, "verify", "--public", public, "--now", "soon", valid["link"]], "", 64),
        ([tool, "verify", "--public", public, valid["link"], "extra"], "", 64),
    ]
    for command, expected, expected_code in runs:
        run = subprocess.run(command, capture_output=True, text=True, timeout=30)
        if run.stdout.strip() != expected or run.returncode != expected_code:
            failures += 1
            print(f"FAIL {' '.join(command[1:-1])}: got {run.stdout.strip()!r} (exit {run.returncode}), expected "
                  f"{expected!r} (exit {expected_code})")
    # The build refuses to compile the vectors' published key in.
    tools = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools")
    run = subprocess.run([sys.executable, os.path.join(tools, "link_keys.py"), os.path.join(os.path.dirname(public),
                          "LinkKeys.h"), other, public], capture_output=True, text=True, timeout=30)
    if run.returncode == 0 or "test vectors' key" not in run.stderr:
        failures += 1
        print(f"FAIL link_keys.py took the vectors' key: {run.stderr}")
    return failures == 0


def check_signer(tool, signer, work, private, public, stranger):
    command = [tool, "sign"] if signer == "tool" else SIGNERS[signer]
    ok = True
    cases = [
        # (key, extra options, verdict)
        (private, [], "valid"),
        (private, ["--v", "2"], "newer version"),
        (stranger, [], "signature does not verify"),
    ]
    for key, extra, expected in cases:
        run = subprocess.run([*command, "--private", key, "--id", "张三", "--pass", "-", "--join-key", "42",
                              "--server", "go.example:7000", "--ttl", "60", *extra],
                             input="p&ss= w%\n", capture_output=True, text=True, timeout=30)
        link = run.stdout.strip()
        verdict, code, err = verify(tool, public, link)
        expected_v = "v=2&" if extra else "v=1&"
        good = run.returncode == 0 and verdict == expected and (code == 0) == (expected == "valid") and \
            f":launch?{expected_v}id=%E5%BC%A0%E4%B8%89&pass=p%26ss%3D%20w%25&key=42&server=go.example%3A7000&" in link
        print(f"{'ok  ' if good else 'FAIL'} {signer} {' '.join(extra)}: {verdict} ({link}) {run.stderr}{err}")
        ok = ok and good
    return ok


def main():
    mode, tool, vectors = sys.argv[1:4]
    with open(vectors, encoding="utf-8") as f:
        document = json.load(f)
    with tempfile.TemporaryDirectory() as work:
        public = os.path.join(work, "vectors-pub.pem")
        private = os.path.join(work, "vectors-key.pem")
        with open(public, "w") as f:
            f.write(document["public_key_pem"])
        with open(private, "w") as f:
            f.write(document["private_key_pem"])
        if mode == "vectors":
            ok = check_vectors(tool, document, public)
        else:
            stranger = os.path.join(work, "stranger.pem")
            subprocess.run(["openssl", "genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256",
                            "-out", stranger], check=True, capture_output=True)
            ok = check_signer(tool, sys.argv[4], work, private, public, stranger)
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
