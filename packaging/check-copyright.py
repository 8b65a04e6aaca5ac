#!/usr/bin/python3
"""Checks the package's copyright file: machine-readable (DEP-5, parsed
strictly), every file covered, every licence named has its text, and the
project's licence text is the one in LICENSE word for word.

Usage: check-copyright.py COPYRIGHT LICENSE
"""
import sys

from debian import copyright as dep5


def words(text):
    return text.split()


def problems(copyright_path, license_path):
    with open(copyright_path, encoding="utf-8") as f:
        try:
            c = dep5.Copyright(f, strict=True)
        except (dep5.Error, ValueError) as e:
            return [f"not machine-readable: {e}"]
    found = []
    files = list(c.all_files_paragraphs())
    if not any("*" in p.files for p in files):
        found.append("no Files: * paragraph")
    texts = {p.license.synopsis: p.license.text for p in c.all_license_paragraphs()}
    for p in files:
        if p.license is None:
            found.append(f"Files: {' '.join(p.files)} names no licence")
            continue
        if not p.copyright:
            found.append(f"Files: {' '.join(p.files)} has no Copyright")
        texts.setdefault(p.license.synopsis, p.license.text)
    for name, text in texts.items():
        if not text.strip():
            found.append(f"licence {name} has no text")
    with open(license_path, encoding="utf-8") as f:
        license_words = words(f.read())
    ours = [p for p in files if "*" in p.files]
    if ours and ours[0].license is not None:
        text = words(texts.get(ours[0].license.synopsis, ""))
        # LICENSE opens with its title and copyright line; the grant follows.
        if not text or license_words[-len(text):] != text:
            found.append(f"the text of {ours[0].license.synopsis} differs from {license_path}")
    return found


def main():
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    found = problems(sys.argv[1], sys.argv[2])
    for p in found:
        print(f"{sys.argv[1]}: {p}", file=sys.stderr)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
