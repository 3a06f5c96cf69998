#!/usr/bin/env python3
"""Checks the package's text file of the Japanese guide against its source:
    check_readme_txt.py GUIDE.md GUIDE.txt
- it is UTF-8 with a byte-order mark, every line ends in CRLF (no bare CR
  or LF), and no line is wider than 80 columns, characters of East Asian
  width (wide, full-width, ambiguous) counting two;
- no Markdown is left: no link syntax, code marks, emphasis, heading marks
  or table rows;
- nothing is lost: every line of code appears as a line, and the text of
  every heading, paragraph, list item and table cell appears, spaces and
  line breaks aside, in the same order as in the source (a table's column
  labels aside, which a table too wide for the page repeats in each row).
Prints each failure and exits 1 if there is any."""
import re
import sys
import unicodedata


def width(line):
    return sum(2 if unicodedata.east_asian_width(c) in "WFA" else 1
               for c in line if not unicodedata.combining(c))


def plain(text):
    """The words a reader sees, without spaces: links by their text."""
    text = re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", text)
    text = text.replace("`", "").replace("**", "")
    return re.sub(r"\s+", "", text)


def pieces(md):
    """What must survive, in order: ('code', line) and ('text', words)."""
    out, para = [], []

    def flush():
        if para:
            out.append(("text", plain(" ".join(para))))
            para.clear()

    fenced = in_table = False
    for line in md.split("\n"):
        in_table = in_table and line.startswith("|")
        if line.startswith("```"):
            flush()
            fenced = not fenced
            continue
        if fenced or line.startswith("    ") and not para:
            out.append(("code", line.rstrip()))
            continue
        if not line.strip() or re.match(r"\s*<!--", line):
            flush()
            continue
        m = re.match(r"(#+ |\s*[-*] |\s*\d+\. )(.*)", line)
        if m:
            flush()
            para.append(m.group(2))
        elif line.startswith("|"):
            flush()
            header = not in_table
            in_table = True
            if header:
                continue  # column labels: a row written as a block names them per cell
            for cell in line.strip().strip("|").split("|"):
                if not re.fullmatch(r"\s*:?-+:?\s*", cell):
                    out.append(("text", plain(cell)))
        else:
            para.append(line)
    flush()
    return [p for p in out if p[1]]


def main():
    md_path, txt_path = sys.argv[1], sys.argv[2]
    raw = open(txt_path, "rb").read()
    errors = []
    if not raw.startswith(b"\xef\xbb\xbf"):
        errors.append("no UTF-8 byte-order mark")
    try:
        text = raw.decode("utf-8-sig")
    except UnicodeDecodeError as e:
        sys.exit(f"check_readme_txt: {txt_path} is not UTF-8: {e}")
    if not text.endswith("\r\n"):
        errors.append("the last line has no CRLF")
    if re.search(r"\r(?!\n)|(?<!\r)\n", text):
        errors.append("a line ends without CRLF")
    lines = text.split("\r\n")[:-1]
    for n, line in enumerate(lines, 1):
        if width(line) > 80:
            errors.append(f"line {n} is {width(line)} columns wide: {line[:40]}")
        if re.search(r"\]\(|`|\*\*", line) or re.match(r"#|\|", line):
            errors.append(f"line {n} holds Markdown: {line[:40]}")

    code = set(lines)
    flat = re.sub(r"\s+", "", text)
    at = 0
    for kind, what in pieces(open(md_path, encoding="utf-8").read()):
        if kind == "code":
            if what not in code:
                errors.append(f"code line lost: {what.strip()[:60]}")
            continue
        found = flat.find(what, at)
        if found < 0:
            errors.append(f"text lost or out of order: {what[:40]}")
        else:
            at = found + len(what)
    for e in errors:
        print(f"check_readme_txt: {txt_path}: {e}")
    sys.exit(1 if errors else 0)


if __name__ == "__main__":
    main()
