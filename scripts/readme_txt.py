#!/usr/bin/env python3
"""Writes the Japanese guide as a text file that Notepad shows correctly on
any Windows: UTF-8 with a byte-order mark, CRLF line ends, and lines wrapped
to at most 80 columns, where a character of East Asian width (Japanese
text) counts two columns.

    scripts/readme_txt.py INPUT.md OUTPUT.txt

The Markdown is turned into plain text as a reader would want it: headings
become marked lines, links show their text (and their address, when it is
one), code marks and emphasis are dropped, list items get hanging indents,
tables are aligned when they fit and otherwise written one row a block, and
indented or fenced code is kept line for line. Prose breaks between Japanese
characters or at spaces, never inside a run of ASCII (a word, an option, a
path or an address); closing punctuation may hang one character past the
margin rather than begin a line, as Japanese typesetting has it. A line of
code wider than 80 columns is an error: the guide must wrap it itself.
"""
import re
import sys
import unicodedata

WIDTH = 80
PROSE = WIDTH - 2  # prose wraps here, so that hanging punctuation stays within WIDTH
GLUE = "\x01"  # stands for a space inside a code span while lines are broken

# Characters that must not begin a line, and ones that must not end it.
NO_START = set("、。，．・：；？！）」』】〕〉》ー…ぁぃぅぇぉっゃゅょゎァィゥェォッャュョヮヵヶ々")
NO_END = set("（「『【〔〈《")


def cols(text):
    """Display width: East Asian wide, full-width and ambiguous characters
    take two columns (Japanese fonts draw the ambiguous ones wide)."""
    n = 0
    for ch in text:
        if ch == GLUE:
            n += 1
        elif unicodedata.combining(ch):
            continue
        else:
            n += 2 if unicodedata.east_asian_width(ch) in ("W", "F", "A") else 1
    return n


def inline(text):
    """Markdown inline markup to plain text."""
    def link(m):
        label, target = m.group(1), m.group(2)
        if re.match(r"[a-z]+://", target) and target != label:
            return f"{label}（{target}）"
        return label
    text = re.sub(r"\[([^\]]*)\]\(([^)\s]*)\)", link, text)
    # A short code span (a command, an option with its value) stays on one line.
    text = re.sub(r"`([^`]*)`", lambda m: m.group(1).replace(" ", GLUE) if len(m.group(1)) <= 40
                  else m.group(1), text)
    text = re.sub(r"\*\*(.+?)\*\*", r"\1", text)
    return text


def tokens(text):
    """Splits prose into pieces between which a line may break: a run of
    ASCII without spaces, one space, or one other character."""
    return re.findall(r"[\x21-\x7e\x01]+| |[^\x20-\x7e]", text)


def wrap(text, first, rest):
    """Wraps prose to PROSE columns; `first` prefixes the first line, `rest`
    (spaces of the same width) the others."""
    lines, line, width = [], first, cols(first)
    for tok in tokens(text):
        if tok == " " and width == cols(rest) and line.strip() == "":
            continue  # no space at the start of a continued line
        w = cols(tok)
        fits = width + w <= PROSE
        hangs = tok in NO_START and width + w <= WIDTH
        if fits or hangs or line.strip() == "":
            line, width = line + tok, width + w
            continue
        # Break. An opening bracket at the end moves down with what follows.
        carry = ""
        while line and line[-1] in NO_END:
            carry, line = line[-1] + carry, line[:-1]
        lines.append(line.rstrip())
        if tok == " ":
            tok, w = "", 0
        line = rest + carry + tok
        width = cols(line)
    lines.append(line.rstrip())
    return lines


def table(rows):
    """A Markdown table: aligned columns when they fit, else a block a row."""
    cells = [[inline(c.strip()) for c in r.strip().strip("|").split("|")] for r in rows]
    cells = [r for r in cells if not all(re.fullmatch(r":?-+:?", c) for c in r)]
    head, body = cells[0], cells[1:]
    n = len(head)
    widths = [max(cols(r[i]) if i < len(r) else 0 for r in cells) for i in range(n)]
    if sum(widths) + 2 * (n - 1) + 2 <= WIDTH:
        def row(r):
            parts = [c + " " * (widths[i] - cols(c)) for i, c in enumerate(r)]
            return ("  " + "  ".join(parts)).rstrip()
        return [row(head), "  " + "-" * (sum(widths) + 2 * (n - 1))] + [row(r) for r in body]
    out = []
    for r in body:
        out += wrap(r[0], "・", "  ")
        for i in range(1, min(n, len(r))):
            if r[i]:
                label = f"{head[i]}："
                out += wrap(r[i], "    " + label, "    " + " " * cols(label))
        out.append("")
    return out[:-1]


def convert(md):
    src = md.split("\n")
    out = []
    i = 0

    def blank():
        if out and out[-1] != "":
            out.append("")

    while i < len(src):
        line = src[i]
        if re.match(r"\s*<!--", line):  # a comment, to its end
            while "-->" not in src[i]:
                i += 1
            i += 1
            continue
        if not line.strip():
            i += 1
            continue
        m = re.match(r"(#{1,6}) +(.*)", line)
        if m:
            level, text = len(m.group(1)), inline(m.group(2)).strip()
            blank()
            if level == 1:
                out += [text, "=" * cols(text)]
            elif level == 2:
                out += ["", "■ " + text]
            else:
                out += wrap(text, {3: "◆ ", 4: "○ "}.get(level, "・ "), "   ")
            out.append("")
            i += 1
            continue
        if line.startswith("```"):
            blank()
            i += 1
            while i < len(src) and not src[i].startswith("```"):
                out.append("    " + src[i])
                i += 1
            i += 1
            out.append("")
            continue
        if line.startswith("    "):
            blank()
            while i < len(src) and (src[i].startswith("    ") or not src[i].strip()):
                out.append(src[i].rstrip())
                i += 1
            while out and out[-1] == "":
                out.pop()
            out.append("")
            continue
        if line.startswith("|"):
            rows = []
            while i < len(src) and src[i].startswith("|"):
                rows.append(src[i])
                i += 1
            blank()
            out += table(rows) + [""]
            continue
        m = re.match(r"( *)([-*]|\d+\.) +(.*)", line)
        if m:
            indent, mark, text = len(m.group(1)), m.group(2), m.group(3)
            i += 1
            while i < len(src) and src[i].strip() and src[i].startswith(" " * (indent + 2)) \
                    and not re.match(r" *([-*]|\d+\.) ", src[i]):
                text += " " + src[i].strip()
                i += 1
            bullet = "・" if mark in "-*" else mark + " "
            pad = " " * indent
            out += wrap(inline(text), pad + bullet, pad + " " * cols(bullet))
            if i < len(src) and not src[i].strip():
                out.append("")
            continue
        text = line.strip()
        i += 1
        while i < len(src) and src[i].strip() and not re.match(r"(#|\||    |```| *([-*]|\d+\.) )", src[i]):
            text += " " + src[i].strip()
            i += 1
        blank()
        out += wrap(inline(text), "", "") + [""]
    while out and out[-1] == "":
        out.pop()
    out = [line.replace(GLUE, " ") for line in out]
    for n, line in enumerate(out, 1):
        if cols(line) > WIDTH:
            raise SystemExit(f"readme_txt.py: output line {n} is {cols(line)} columns wide "
                             f"(at most {WIDTH}): {line.strip()[:60]}")
    return out


def main():
    if len(sys.argv) != 3:
        raise SystemExit("usage: readme_txt.py INPUT.md OUTPUT.txt")
    with open(sys.argv[1], encoding="utf-8") as f:
        lines = convert(f.read())
    with open(sys.argv[2], "w", encoding="utf-8-sig", newline="\r\n") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
