#!/usr/bin/python3
"""Holds the docs to the code where a program can tell (make test):

- every code span of docs/support.md is a line that support/TraceLines.h can
  print (its %s, %d, %lu... stand for any value, the docs' <n>, <why> and
  "..." for any text), a refusal's reason, an outcome word, or something
  else the program names as it stands (a path, a value's name);
- every text quoted in docs/support.md that a player reads (Chinese, or a
  status line's) is the program's own: a string of the sources that show it
  (boxes, the update dialog, the page);
- every command in a fenced block of docs/operators.md, docs/reference.md and
  docs/developers.md names a program on the PATH, a target of the Makefile or
  of CMake, or a file of the tree;
- every VANTORIMA_* name in docs/ and README.md exists in the tree outside
  the docs, and each row of a settings table ("| `VANTORIMA_X` | `default`
  |") gives the default that CMake gives;
- every link between the pages leads to a page and heading that exist.

Prints "docs: ..." lines and one summary; exits 1 on any fault.
"""
import os
import re
import shlex
import shutil
import sys

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CJK = re.compile(r"[\u3000-\u303f\u4e00-\u9fff\uff00-\uffef]")
PRINTF = re.compile(r"%[-+ #0]*\d*(?:\.\d+)?(?:hh|h|ll|l|z)?[sdiouxXfcp]")
PLACEHOLDER = re.compile(r"<[^<>`]*>|\.\.\.|…(?=$)")
# Where the player's texts live: the boxes, the update dialog, the page.
TEXT_SOURCES = ["dialog", "terminator", "handler", "download", "launch", "control", "support", "res", "package",
                "testbed/demo"]
# Where the operators' how-to puts this tree (a release's copy of it).
INSTALL_ROOT = "/opt/vantorima/"
# Programs of Windows itself that a command may name.
WINDOWS_PROGRAMS = {"regsvr32", "sfc"}
SHELL_WORDS = {".", "cd", "export", "set", "echo", "printf", "for", "do", "done", "if", "then", "fi", "test", "[",
               "time", "sudo", "env", "exec", "source", "true", "false"}


def read(path):
    with open(os.path.join(TOP, path), encoding="utf-8") as f:
        return f.read()


def literals(text, html=False):
    """The string literals of a source, unescaped; a C++ concatenation with
    a variable ("a " + name + " b") reads as one literal with %s for it."""
    text = re.sub(r'"\s*\+\s*[A-Za-z_][\w.]*(?:\(\))?(?:\.c_str\(\))?\s*\+\s*"', "%s", text)
    out = []
    if html:  # an element's text, its inner tags left out
        out += [re.sub(r"<[^>]*>", "", line).strip() for line in text.splitlines()]
    for m in re.finditer(r'L?"((?:[^"\\\n]|\\.)*)"', text):
        value = m.group(1)
        value = re.sub(r"\\[rn]", "", value).replace('\\"', '"').replace("\\\\", "\\")
        out.append(value)
    return out


def trace_formats():
    """TraceLines.h: {namespace: {name: text}}."""
    text = read("support/TraceLines.h")
    spaces = {}
    for m in re.finditer(r"namespace (\w+) \{(.*?)\n\}", text, re.S):
        names = {}
        for d in re.finditer(r"constexpr char (\w+)\[\]\s*=\s*((?:\"(?:[^\"\\]|\\.)*\"\s*)+);", m.group(2)):
            names[d.group(1)] = "".join(re.findall(r'"((?:[^"\\]|\\.)*)"', d.group(2)))
        spaces[m.group(1)] = names
    return spaces


def wild_regex(text, wildcard, wild_repl):
    parts = wildcard.split(text)
    return wild_repl.join(re.escape(p) for p in parts)


def letters(text, wildcard):
    return sum(c.isalpha() for c in wildcard.sub("", text))


def matches(doc, program):
    """Whether a docs' text stands for a program's: the program's %s may be
    any value in the docs, the docs' <...> and ... any text of the program's.
    Each must say something of its own: a bare "%s" or "<n>" stands for
    nothing."""
    if letters(program, PRINTF) < 2 or letters(doc, PLACEHOLDER) < 2:
        return False
    marked = PRINTF.sub("\x01", program.replace("%%", "%"))
    if re.fullmatch(wild_regex(marked, re.compile("\x01"), ".*?"), doc, re.S):
        return True
    return re.fullmatch(wild_regex(doc, PLACEHOLDER, ".*?"), marked, re.S) is not None


def code_spans(text):
    text = re.sub(r"```.*?```", "", text, flags=re.S)
    # A span may go on over a line's end, which reads as a blank.
    return [re.sub(r"\n", " ", span) for span in re.findall(r"`([^`]+)`", text)]


def quoted_texts(text):
    text = re.sub(r"```.*?```", "", text, flags=re.S)
    text = re.sub(r"`[^`\n]*`", "", text)
    out = []
    for line in text.splitlines():
        if line.startswith("#"):
            continue  # a heading: the player's own words
        for m in re.finditer(r'"([^"\n]+)"', line):
            value = m.group(1)
            if CJK.search(value) or "<file>" in value or value.endswith("!"):
                out.append(value)
    return out


def check_support(faults):
    spaces = trace_formats()
    lines = [v for k, v in spaces["TraceLine"].items() if k not in ("kLinkRefused", "kAccountSwitch", "kRegistration")]
    lines += [spaces["TraceLine"]["kRegistration"].replace("%s %s", f"{verb} {scope}", 1)
              for verb in ("register", "unregister") for scope in ("user", "machine")]
    reasons = list(spaces["LinkRefusal"].values())
    # A reason about one value ends with its name; one of the command-line
    # rule reads "<fault> in <name>"; the code page's starts with the name.
    reasons = [r + " %s" if r.endswith(" in") or r in ("missing parameter", "repeated parameter") else r
               for r in reasons]
    reasons = ["%s" + r if r.startswith(" ") else r for r in reasons]
    reasons += [r + " in %s" for r in ("switch", "blank", "quote", "control character")]
    refused = spaces["TraceLine"]["kLinkRefused"].replace("%s", "")
    lines += [refused + r for r in reasons] + [refused + "%s"]
    lines += [spaces["TraceLine"]["kAccountSwitch"].replace("%s", w) for w in ("accepted", "declined")]
    outcomes = list(spaces["LinkOutcome"].values())
    # The names the product spells (a registry value, a file), the listed lines aside.
    names = [t for p in text_files() if p != "support/TraceLines.h" for t in literals(read(p))]
    text = read("docs/support.md")
    texts = [t for path in text_files() for t in literals(read(path), path.endswith(".html"))]
    known = 0
    for span in code_spans(text):
        # A line of the log as it stands in the file: the time, process and program first.
        span = re.sub(r"^\d{4}-\d\d-\d\d [\d:.]+ \[\d+ [a-z ]+\] ", "", span)
        if PLACEHOLDER.fullmatch(span):
            continue
        shown = re.match(r"(box|status line): (.*)", span)
        if shown and shown.group(2) not in ("<text>", "...") and not any(
                matches(shown.group(2), t) or matches_inside(shown.group(2), t) for t in texts):
            faults.append(f"support.md: `{span}`: the player is shown no such text")
            continue
        if any(matches(span, f) for f in lines + reasons + outcomes):
            known += 1
            continue
        if (re.fullmatch(r"[\d,.]+|.*\\.*|[^ ]*/[^ ]*|%\w+%.*", span) or span.split()[0] in WINDOWS_PROGRAMS or
                any(span in name for name in names)):
            continue  # a number, a path or switch, Windows' own command, a name the sources spell so
        if re.fullmatch(r"[A-Za-z_$][\w$]*(?:\.[A-Za-z_$][\w$]*)+", span) and span in sources_text():
            continue  # a script's name as its sources spell it (Vantorima.texts)
        faults.append(f"support.md: `{span}` is no trace line, reason or outcome of the program")
    quoted = quoted_texts(text)
    for value in quoted:
        if not any(matches(value, t) or matches_inside(value, t) for t in texts):
            faults.append(f'support.md: "{value}" is no text of the program\'s')
    return known, len(quoted)


def matches_inside(doc, program):
    """doc as a part of a longer text (the page's texts carry English after them)."""
    if letters(doc, PLACEHOLDER) < 2:
        return False
    marked = PRINTF.sub("\x01", program)
    return re.search(wild_regex(doc, PLACEHOLDER, ".*?"), marked, re.S) is not None


def text_files():
    for room in TEXT_SOURCES:
        for folder, _, files in os.walk(os.path.join(TOP, room)):
            for name in files:
                if name.endswith((".cpp", ".h", ".rc", ".js", ".html")):
                    yield os.path.relpath(os.path.join(folder, name), TOP)


def tree_files():
    for folder, dirs, files in os.walk(TOP):
        dirs[:] = [d for d in dirs if not d.startswith(".") and d != "build" and
                   os.path.relpath(os.path.join(folder, d), TOP) != "docs"]
        for name in files:
            yield os.path.relpath(os.path.join(folder, name), TOP)


_sources = None


def sources_text():
    global _sources
    if _sources is None:
        parts = []
        for path in tree_files():
            if path.endswith((".cpp", ".h", ".in", ".rc", ".py", ".sh", ".txt", ".js", ".html", ".cmake", ".inf")):
                try:
                    parts.append(read(path))
                except UnicodeDecodeError:
                    pass
        _sources = "\n".join(parts)
    return _sources


def make_targets():
    return set(re.findall(r"^([\w-]+):", read("Makefile"), re.M))


def cmake_targets():
    names = set()
    for path in tree_files():
        if os.path.basename(path) == "CMakeLists.txt":
            text = read(path)
            names.update(re.findall(r"add_(?:executable|library|custom_target)\(\s*([\w.-]+)", text))
            names.update(re.findall(r"OUTPUT_NAME\s+([\w.-]+)", text))
            names.update(re.findall(r"add_test\(\s*NAME\s+([\w.-]+)", text))
            # The functions that make a target of their first argument.
            for function in re.findall(r"function\((\w+) name\)(?:(?!endfunction).)*add_executable\(\$\{name\}", text, re.S):
                names.update(re.findall(function + r"\(\s*([\w.-]+)", text))
    return names


def commands(block, synopsis=False):
    """The commands of a fenced block: lines joined across a trailing
    backslash and open quotes, comments dropped, split at | && ; ||. In a
    synopsis (a block of no language) a line indented deeper than the
    block's first continues the line before it."""
    joined, out = "", []
    lines = block.splitlines()
    indent = len(lines[0]) - len(lines[0].lstrip()) if lines else 0
    for at, line in enumerate(lines):
        joined += line + "\n"
        following = lines[at + 1] if at + 1 < len(lines) else ""
        deeper = synopsis and following.strip() and len(following) - len(following.lstrip()) > indent
        if joined.rstrip().endswith("\\") or joined.count('"') % 2 or deeper:
            continue
        text = re.sub(r"(^|\s)#.*", "", joined.replace("\\\n", " ")).strip()
        joined = ""
        # A synopsis's choices ([a|b], <x | y>) are not pipes.
        text = re.sub(r"\[[^\]\n]*\]|<[^>\n]*>", "ARG", text)
        for part in split_outside_quotes(text):
            if part.strip():
                out.append(part.strip().rstrip(")"))
    return out


def split_outside_quotes(text):
    """A command line's commands: split at | ; && and $( outside quotes."""
    parts, current, quote, at = [], "", None, 0
    while at < len(text):
        c = text[at]
        if quote:
            quote = None if c == quote else quote
        elif c in "'\"":
            quote = c
        elif c in "|;" or text.startswith("&&", at) or text.startswith("$(", at):
            parts.append(current)
            current = ""
            at += 2 if c in "&$" else 1
            continue
        current += c
        at += 1
    return parts + [current]


def check_commands(faults):
    targets, built = make_targets(), cmake_targets()
    count = 0
    for page in ("docs/operators.md", "docs/reference.md", "docs/developers.md"):
        if not os.path.exists(os.path.join(TOP, page)):
            continue
        for lang, block in re.findall(r"```(\w*)\n(.*?)```", read(page), re.S):
            if lang not in ("", "sh", "bash", "shell", "console"):
                continue
            for command in commands(block, synopsis=not lang):
                try:
                    words = shlex.split(command)
                except ValueError:
                    words = command.split()
                while words and re.fullmatch(r"[A-Za-z_]\w*=.*", words[0], re.S):
                    words.pop(0)  # an assignment before the command, or alone
                if not words:
                    continue
                count += 1
                fault = command_fault(words, targets, built)
                if fault:
                    faults.append(f"{page}: `{command}`: {fault}")
    return count


def command_fault(words, targets, built):
    program = words[0]
    if program.startswith(INSTALL_ROOT):
        program = program[len(INSTALL_ROOT):]  # the how-to's copy of this tree
    name = os.path.basename(program)
    if program == "make":
        wanted = [w for w in words[1:] if not w.startswith("-") and "=" not in w]
        missing = [w for w in wanted if w not in targets]
        return f"no Makefile target {', '.join(missing)}" if missing else None
    if "/" in program and not program.startswith(("build/", "/")):
        return None if os.path.exists(os.path.join(TOP, program)) else f"{program} is not in the tree"
    if program.startswith("build/"):
        return None if name in built or os.path.splitext(name)[0] in built else f"no CMake target makes {name}"
    if name in built or os.path.splitext(name)[0] in built:
        return None
    if program in SHELL_WORDS or program in WINDOWS_PROGRAMS or shutil.which(program):
        if program in ("python3", "/usr/bin/python3", "bash", "node") and len(words) > 1:
            script = next((w for w in words[1:] if not w.startswith("-")), "")
            if script.endswith((".py", ".sh", ".js")) and not os.path.exists(os.path.join(TOP, script)):
                return f"{script} is not in the tree"
        if program == "cmake" and "--target" in words:
            target = words[words.index("--target") + 1]
            if target not in built:
                return f"no CMake target {target}"
        return None
    return f"{program} is no program, target or script"


def check_settings(faults):
    cmake = read("CMakeLists.txt") + "".join(read(p) for p in tree_files() if p.endswith("CMakeLists.txt"))
    defaults = {}
    for name, value in re.findall(r'set\((VANTORIMA_\w+)\s+("[^"]*"|\S+)\s+CACHE', cmake):
        defaults[name] = value.strip('"')
    for name, value in re.findall(r'option\((VANTORIMA_\w+)\s+"[^"]*"\s+(ON|OFF)\)', cmake, re.S):
        defaults[name] = value
    outside = sources_text()
    pages = ["README.md"] + ["docs/" + p for p in sorted(os.listdir(os.path.join(TOP, "docs"))) if p.endswith(".md")]
    names = set()
    for page in pages:
        text = read(page)
        names.update(re.findall(r"VANTORIMA_[A-Z0-9_]*[A-Z0-9]", text))
        for name, default in re.findall(r"^\| `(VANTORIMA_\w+)` \| `([^`]*)` \|", text, re.M):
            if name not in defaults:
                faults.append(f"{page}: {name} is no setting of CMake's")
            elif default != defaults[name] and "${" not in defaults[name]:
                faults.append(f"{page}: {name} defaults to `{default}`, CMake to `{defaults[name]}`")
    for name in sorted(names):
        if name not in defaults and not re.search(r"\b" + name + r"\b", outside):
            faults.append(f"docs: {name} exists nowhere in the tree")
    return len(names)


def slug(heading):
    """The anchor a heading gets on GitHub."""
    return re.sub(r"[^\w\- ]", "", heading.strip().lower()).replace(" ", "-")


def check_links(faults):
    pages = ["README.md", "bench/README.md"] + ["docs/" + p for p in os.listdir(os.path.join(TOP, "docs"))
                                                 if p.endswith(".md")]
    count = 0
    for page in pages:
        text = re.sub(r"```.*?```", "", read(page), flags=re.S)
        for target, anchor in re.findall(r"\]\(([^)#\s]*)(?:#([^)\s]*))?\)", text):
            if re.match(r"\w+:", target):
                continue  # another site's
            path = os.path.normpath(os.path.join(os.path.dirname(page), target)) if target else page
            count += 1
            if not os.path.exists(os.path.join(TOP, path)):
                faults.append(f"{page}: a link to {target}, which is not there")
            elif anchor and path.endswith(".md"):
                headings = re.findall(r"^#+ (.*)$", re.sub(r"```.*?```", "", read(path), flags=re.S), re.M)
                if anchor not in {slug(h) for h in headings}:
                    faults.append(f"{page}: a link to {path}#{anchor}, a heading that is not there")
    return count


def main():
    faults = []
    lines, texts = check_support(faults)
    count = check_commands(faults)
    settings = check_settings(faults)
    links = check_links(faults)
    for fault in faults:
        print("docs: " + fault)
    if faults:
        print(f"docs: FAILED, {len(faults)} statements the code does not bear out")
        return 1
    print(f"docs: {lines} log lines, {texts} texts, {count} commands, {settings} settings and {links} links as the "
          "code and the pages have them")
    return 0


if __name__ == "__main__":
    sys.exit(main())
