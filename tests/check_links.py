#!/usr/bin/env python3
"""Checks the relative links of the documentation:
    check_links.py SOURCE_DIR
In README.md, README.ja.md and docs/*.md, every link [text](target) whose
target is not an address (http:, https:, mailto:) must name a file or folder
that exists, relative to the page, and a #fragment must name a heading of
the page it points to, as GitHub makes anchors of headings: lower case,
spaces to hyphens, punctuation dropped, letters of every script kept, a
repeated heading numbered -1, -2, ... Links inside code are not links.
Prints each broken link and exits 1 if there is any."""
import os
import re
import sys
import unicodedata


def anchors(path):
    """The fragments GitHub gives the headings of a Markdown file."""
    seen, out = {}, set()
    fenced = False
    for line in open(path, encoding="utf-8"):
        if line.startswith("```"):
            fenced = not fenced
        m = re.match(r"(#{1,6})\s+(.*?)\s*#*\s*$", line)
        if fenced or not m:
            continue
        text = re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", m.group(2)).lower()
        slug = "".join(c for c in text if c in " -_" or unicodedata.category(c)[0] in "LMN")
        slug = slug.replace(" ", "-")
        n = seen.get(slug, 0)
        seen[slug] = n + 1
        out.add(slug if n == 0 else f"{slug}-{n}")
    return out


def links(path):
    """(line number, target) of every link outside code."""
    fenced = False
    for n, line in enumerate(open(path, encoding="utf-8"), 1):
        if line.startswith("```"):
            fenced = not fenced
        if fenced or line.startswith("    "):
            continue
        line = re.sub(r"`[^`]*`", "", line)
        for m in re.finditer(r"\]\(([^)\s]+)\)", line):
            yield n, m.group(1)


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    pages = [os.path.join(root, "README.md"), os.path.join(root, "README.ja.md")]
    docs = os.path.join(root, "docs")
    pages += sorted(os.path.join(docs, f) for f in os.listdir(docs) if f.endswith(".md"))
    bad, count = 0, 0
    for page in pages:
        for n, target in links(page):
            if re.match(r"(https?|mailto):", target):
                continue
            count += 1
            name, _, fragment = target.partition("#")
            dest = os.path.normpath(os.path.join(os.path.dirname(page), name)) if name else page
            where = f"{os.path.relpath(page, root)}:{n}: {target}"
            if not os.path.exists(dest):
                print(f"{where}: no such file")
                bad += 1
            elif fragment and (not dest.endswith(".md") or fragment not in anchors(dest)):
                print(f"{where}: no heading #{fragment} in {os.path.relpath(dest, root)}")
                bad += 1
    if not bad:
        print(f"every relative link resolves ({count} links in {len(pages)} pages)")
    sys.exit(1 if bad else 0)


if __name__ == "__main__":
    main()
