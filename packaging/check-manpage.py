#!/usr/bin/python3
"""Checks a manual page against its program: man renders it without a
warning (as lintian runs it), its header names the program's version, and
it mentions every long option (and, with --commands, every command) that
the program's --help lists.

Usage: check-manpage.py PAGE PROGRAM [--commands]
"""
import re
import subprocess
import sys


def run(argv):
    return subprocess.run(argv, capture_output=True, text=True, timeout=60)


def render_warnings(page):
    r = run(["man", "--warnings", "-E", "UTF-8", "-l", "-Tutf8", "-Z", page])
    if r.returncode != 0:
        return [f"man failed ({r.returncode}): {r.stderr.strip()}"]
    return [f"man: {line}" for line in r.stderr.splitlines() if line.strip()]


def plain(source):
    """The page's source with troff's escapes for '-' and no-hyphenation undone."""
    return source.replace("\\-", "-").replace("\\%", "")


def version_problems(source, program):
    r = run([program, "--version"])
    printed = r.stdout.split()
    if r.returncode != 0 or len(printed) != 2:
        return [f"{program} --version printed {r.stdout!r} (status {r.returncode})"]
    header = next((l for l in source.splitlines() if l.startswith(".TH ")), "")
    fields = re.findall(r'"[^"]*"|\S+', header)
    source_field = fields[4].strip('"') if len(fields) > 4 else ""
    if not source_field.endswith(" " + printed[1]):
        return [f".TH names {source_field!r}, {program} --version {printed[1]!r}"]
    return []


def help_text(program):
    r = run([program, "--help"])
    if r.returncode != 0:
        sys.exit(f"{program} --help failed ({r.returncode}): {r.stderr.strip()}")
    return r.stdout


def option_problems(text, help_):
    options = sorted(set(re.findall(r"(?<![\w-])--[a-z][a-z-]*", help_)))
    return [f"{o} is in --help, not in the page"
            for o in options if not re.search(rf"(?<![\w-]){o}(?![\w-])", text)]


def command_problems(text, help_):
    """Commands: the first word (or words joined by '|') of each line of
    --help's Commands: list; each must tag an item of the page's COMMANDS."""
    listing = re.search(r"^Commands:\n((?:  .*\n)+)", help_, re.M)
    if not listing:
        return ["--help has no Commands: list"]
    commands = set()
    for line in listing.group(1).splitlines():
        head = re.match(r"  (\w+(?: \| \w+)*)", line)
        if head:
            commands.update(w for w in head.group(1).split(" | "))
    section = re.search(r"^\.SH COMMANDS\n(.*?)^\.SH ", text, re.M | re.S)
    if not section:
        return ["the page has no COMMANDS section"]
    tags = re.findall(r"^\.TP\n(.*)$", section.group(1), re.M)
    tagged = set(re.findall(r"\w+", " ".join(tags)))
    return [f"command {c} is in --help, not in the page's COMMANDS"
            for c in sorted(commands - tagged)]


def main():
    args = sys.argv[1:]
    if len(args) not in (2, 3) or (len(args) == 3 and args[2] != "--commands"):
        print(__doc__, file=sys.stderr)
        return 2
    page, program = args[0], args[1]
    with open(page, encoding="utf-8") as f:
        source = f.read()
    text = plain(source)
    help_ = help_text(program)
    found = render_warnings(page) + version_problems(source, program)
    found += option_problems(text, help_)
    if len(args) == 3:
        found += command_problems(text, help_)
    for p in found:
        print(f"{page}: {p}", file=sys.stderr)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
