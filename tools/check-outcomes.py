#!/usr/bin/python3
"""Fails unless the link door's outcome words are one set in the three
languages: the launcher's (support/TraceLines.h, namespace LinkOutcome), the
service package's (service/vantorima_service/outcomes.py, WORDS) and the page
script's (package/vantorima.js, its outcome table). "pending", the service's
own word before any report, is in the service's and the page's lists only."""
import os
import re
import sys

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WORD = re.compile(r"(installing|renewing|started|failed|(failed|refused):[a-z]{1,32})")
PENDING = "pending"


def listed(path, block, item, what):
    """The items of the one block of a file."""
    found = re.search(block, read(path), re.S)
    if not found:
        raise LookupError("no " + what)
    return re.findall(item, found.group(1), re.M)


def launcher(path):
    return listed(path, r"namespace LinkOutcome \{(.*?)\}  // namespace LinkOutcome",
                  r'^inline constexpr char k\w+\[\] = "([^"]*)";', "namespace LinkOutcome")


def service(path):
    # The package's own module, as a program that imports the package reads it.
    sys.path.insert(0, os.path.dirname(os.path.dirname(path)))
    from vantorima_service import outcomes

    return list(outcomes.WORDS)


def page(path):
    return listed(path, r"var outcomes = \{(.*?)\};", r'^\s*"([^"]*)":', "outcome table (var outcomes = {...};)")


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def main():
    lists = {}
    bad = []
    for name, path, reader in (("C++", "support/TraceLines.h", launcher),
                               ("Python", "service/vantorima_service/outcomes.py", service),
                               ("JavaScript", "package/vantorima.js", page)):
        try:
            words = reader(os.path.join(TOP, path))
        except (FileNotFoundError, ModuleNotFoundError):
            bad.append("%s is missing (%s's list not merged yet?)" % (path, name))
            continue
        except (LookupError, AttributeError, SyntaxError) as error:
            bad.append("%s: cannot read %s's list: %s" % (path, name, error))
            continue
        lists[name] = (path, words)
        for word in sorted({w for w in words if words.count(w) > 1}):
            bad.append("%s: %r twice" % (path, word))
        for word in words:
            if word != PENDING and not WORD.fullmatch(word):
                bad.append("%s: %r is not an outcome word" % (path, word))
        has_pending = PENDING in words
        if has_pending != (name != "C++"):
            bad.append("%s: %s %r" % (path, "has" if has_pending else "lacks", PENDING))
    if len(lists) > 1:
        sets = {name: set(words) - {PENDING} for name, (_, words) in lists.items()}
        every = set().union(*sets.values())
        for name, words in sets.items():
            for word in sorted(every - words):
                bad.append("%s lacks %r" % (lists[name][0], word))
    for line in bad:
        print("outcomes: " + line)
    if bad:
        print("outcomes: FAILED, the outcome words differ between the languages")
        return 1
    print("outcomes: %d words alike in C++, Python and JavaScript" % len(sets["C++"]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
