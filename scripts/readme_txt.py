#!/usr/bin/env python3
"""Writes the Japanese guide as a text file that Notepad shows correctly on
any Windows: UTF-8 with a byte-order mark, CRLF line ends, and lines wrapped
to at most 80 columns, where a character of East Asian width (Japanese
text) counts two columns.

    scripts/readme_txt.py INPUT.md OUTPUT.txt

The Markdown is turned into plain text as a reader would want it: headings
become marked lines, links show their text (and their address, when it is
one), code marks and emphasis are dropped, list items get hanging indents,
tables are aligned when they fit and otherwise written one row a block,
indented or fenced code is kept line for line, and HTML comments (the
markers of the output examples) are dropped. An output example (a code
block after an `<!-- example: ... -->` marker) is kept line for line too,
each of the program's lines whole however wide, as the program prints it;
any other line of code wider than 80 columns is an error.

Prose breaks only where a reader of Japanese expects a line to end, so that
Notepad's search still finds every word: at a space, after 、。 and closing
brackets, before an opening bracket, and after the hiragana that ends a
phrase (a particle, the end of a verb) where a kanji or katakana word
follows (素材の|種類). Never inside a katakana or kanji word (フィルタ,
処理範囲), between a word and its okurigana or particle (組み合わせ, 範囲を),
inside an inline code span (an option with its value, a command, a file
name) or a quoted string (「...」, 『...』, "..."), where ASCII touches
another character without a space (閾Y, 縞/512, pelta.auf」), between two
ASCII words (pelta analyze, Ut Video, 3.579545 MHz), between a number or an
ASCII word and the Japanese word after it (120 フレーム, TFF オン), between a
label and its number (左 320), before a particle (pelta は), or at a space
beside × or ÷ in a formula. Closing punctuation may hang past the margin
rather than begin a line, as Japanese typesetting has it. A line of code, or
one of those unbreakable pieces, wider than a line is an error: the guide
must be written so that it fits.
"""
import re
import sys
import unicodedata

WIDTH = 80
PROSE = WIDTH - 2  # prose wraps here, so that hanging punctuation stays within WIDTH
GLUE = "\x01"  # stands for a space inside an unbreakable piece while lines are broken
OPEN, CLOSE = "\x02", "\x03"  # mark a code span or quoted string while lines are broken
OUTPUT = "\x05"  # marks a line of a program's output, which is never folded

# Characters that must not begin a line, and ones that must not end it.
NO_START = set("、。，．・：；？！）」』】〕〉》ー…ぁぃぅぇぉっゃゅょゎァィゥェォッャュョヮヵヶ々")
NO_END = set("（「『【〔〈《")
OPERATORS = ("×", "÷")


def cols(text):
    """Display width: East Asian wide, full-width and ambiguous characters
    take two columns (Japanese fonts draw the ambiguous ones wide)."""
    n = 0
    for ch in text:
        if ch == GLUE:
            n += 1
        elif ch in (OPEN, CLOSE):
            continue
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
    # Code spans first: what is inside them is literal.
    spans = []

    def code(m):
        spans.append(m.group(1))
        return f"{OPEN}\x04{len(spans) - 1}\x04{CLOSE}"
    text = re.sub(r"`([^`]*)`", code, text)
    text = re.sub(r"\[([^\]]*)\]\(([^)\s]*)\)", link, text)
    text = re.sub(r"\*\*(.+?)\*\*", r"\1", text)
    text = mark_quotes(text)
    text = re.sub(r"\x04(\d+)\x04", lambda m: spans[int(m.group(1))], text)
    # Inside a marked piece a space does not break the line.
    return re.sub(f"{OPEN}[^{CLOSE}]*{CLOSE}", lambda m: m.group(0).replace(" ", GLUE), text)


QUOTES = {"「": "」", "『": "』", "“": "”"}


def mark_quotes(text):
    """Marks each outermost quoted string (Japanese brackets, curly quotes, a
    pair of ASCII double quotes) as one piece. Code spans are marked already
    and are skipped."""
    out, i = [], 0
    while i < len(text):
        ch = text[i]
        if ch == OPEN:  # a code span: copy it as it is
            j = text.index(CLOSE, i)
            out.append(text[i:j + 1])
            i = j + 1
            continue
        close = QUOTES.get(ch) or ('"' if ch == '"' else None)
        if close:
            depth, j = 0, i + 1
            while j < len(text):
                if text[j] == ch and ch != close:
                    depth += 1
                elif text[j] == close:
                    if depth == 0:
                        break
                    depth -= 1
                j += 1
            if j < len(text):
                out.append(OPEN + text[i:j + 1] + CLOSE)
                i = j + 1
                continue
        out.append(ch)
        i += 1
    return "".join(out)


# Character kinds, for where a line may break.
def kind(ch):
    if ch == "":
        return ""
    if ch == GLUE or "\x21" <= ch <= "\x7e":
        return "ascii"
    if "\u3041" <= ch <= "\u309f":
        return "hira"
    if "\u30a1" <= ch <= "\u30ff" and ch != "・" or ch == "ー":
        return "kata"
    if "\u4e00" <= ch <= "\u9fff" or ch in "々〆":
        return "kanji"
    return "other"


# A line may end after these hiragana, which end a phrase (particles, the
# ends of verbs and adjectives that precede a noun), when a kanji or katakana
# word follows: 素材の|種類, 処理して|確かめる. Never after the others, which
# run on inside a word: 組み|合わせ, 入れ|替え, 書き|出す.
PHRASE_END = set("のをにはがでともへやかてばらどつくたるうすず")
# A line may end after these always (when what follows may begin a line).
AFTER_ALWAYS = set("、。，．：；？！")
CLOSING = set("）」』】〕〉》")
OPENING = set("（「『【〔〈《")


def may_break(a, b):
    """Whether a line may break between the characters a and b, which touch."""
    if b in NO_START or a in OPENING:
        return False
    if a in AFTER_ALWAYS:
        return True
    if a in CLOSING:
        return kind(b) != "hira"
    if b in OPENING:
        return True
    return a in PHRASE_END and kind(b) in ("kanji", "kata")


def space_breaks(a, b):
    """Whether the space between the characters a and b may break the line.
    Not before hiragana or closing punctuation (pelta は, 0 に), not between
    two ASCII words (a command, a name, a number with its unit: pelta
    analyze, 3.579545 MHz, Ut Video), not between a number or an ASCII word
    and the Japanese word after it (120 フレーム, TFF オン), nor between a
    Japanese word and the number after it (左 320), nor beside × or ÷."""
    ka, kb = kind(a), kind(b)
    if kb == "hira" or b in NO_START or a in OPENING:
        return False
    if a in OPERATORS or b in OPERATORS:
        return False
    if ka == "ascii" and kb in ("ascii", "kanji", "kata"):
        return False
    if ka in ("kanji", "kata") and b.isdigit():
        return False
    return True


def tokens(text):
    """Splits prose into the pieces between which a line may break, and
    single spaces where it may break at a space. A marked code span or
    quoted string is one piece with what touches it; Japanese text breaks
    only at phrase boundaries (may_break), never inside a word, and spaces
    hold together what space_breaks says."""
    atoms = re.findall(f"{OPEN}[^{CLOSE}]*{CLOSE}| |.", text)
    out = []
    held = False  # the last piece ends in a space that does not break
    for i, atom in enumerate(atoms):
        if atom == " ":
            nxt = visible(atoms[i + 1])[:1] if i + 1 < len(atoms) else ""
            if not out or out[-1] == " " or held:
                continue  # a space at the start, or a second one
            if nxt and not space_breaks(visible(out[-1])[-1:], nxt):
                out[-1] += GLUE
                held = True
            else:
                out.append(" ")
            continue
        if out and out[-1] != " " and (held or not may_break(visible(out[-1])[-1:], visible(atom)[:1])):
            out[-1] += atom
        else:
            out.append(atom)
        held = False
    return out


def visible(piece):
    return piece.replace(OPEN, "").replace(CLOSE, "").replace(GLUE, " ")


def is_ascii(ch):
    return ch != "" and ("\x21" <= ch <= "\x7e" or ch == GLUE)


def wrap(text, first, rest):
    """Wraps prose to PROSE columns; `first` prefixes the first line, `rest`
    (spaces of the same width) the others."""
    lines, line, width = [], first, cols(first)
    for tok in tokens(text):
        if tok == " " and width == cols(rest) and line.strip() == "":
            continue  # no space at the start of a continued line
        w = cols(tok)
        fits = width + w <= PROSE
        # Closing punctuation at the end of a piece may hang past the margin.
        core = tok.rstrip("".join(NO_START - set("ー")))
        hangs = width + cols(core) <= PROSE and width + w <= WIDTH
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

    example = False  # the next code block is an output example
    while i < len(src):
        line = src[i]
        if re.match(r"\s*<!--", line):  # a comment, to its end
            example = bool(re.match(r"\s*<!--\s*example:", line))
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
            first = True
            while i < len(src) and (src[i].startswith("    ") or not src[i].strip()):
                # A program's output stays as it prints it, an item a line,
                # however wide: marked, so the width check passes it over.
                out.append((OUTPUT if example and not first and src[i].strip() else "") + src[i].rstrip())
                first = False
                i += 1
            example = False
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
    out = [line.replace(GLUE, " ").replace(OPEN, "").replace(CLOSE, "") for line in out]
    for n, line in enumerate(out, 1):
        if cols(line) > WIDTH and not line.startswith(OUTPUT):
            raise SystemExit(f"readme_txt.py: output line {n} is {cols(line)} columns wide "
                             f"(at most {WIDTH}): {line.strip()[:60]}")
    return [line.replace(OUTPUT, "") for line in out]


def main():
    if len(sys.argv) != 3:
        raise SystemExit("usage: readme_txt.py INPUT.md OUTPUT.txt")
    with open(sys.argv[1], encoding="utf-8") as f:
        lines = convert(f.read())
    with open(sys.argv[2], "w", encoding="utf-8-sig", newline="\r\n") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
