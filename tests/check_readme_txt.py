#!/usr/bin/env python3
"""Checks the package's text file of the Japanese guide against its source:
    check_readme_txt.py GUIDE.md GUIDE.txt
- it is UTF-8 with a byte-order mark, every line ends in CRLF (no bare CR
  or LF), and no line is wider than 80 columns, characters of East Asian
  width (wide, full-width, ambiguous) counting two, but for the lines of a
  program's output in an example, which stand whole, as it prints them;
- no Markdown is left: no link syntax, code marks, emphasis, heading marks,
  table rows or HTML comments (the output examples' markers);
- nothing is lost: every line of code and of an output example appears as
  a line, and the text of every heading, paragraph, list item and table cell
  appears, spaces and line breaks aside, in the same order as in the source
  (a table's column labels aside, which a table too wide for the page
  repeats in each row);
- no line of prose ends inside a word, so that Notepad's search finds every
  word: not inside a katakana or kanji word (フィ|ルタ), not between a word
  and its okurigana or particle, not after hiragana that does not end a
  phrase (組み|合わせ), not inside ASCII words that belong together (pelta
  analyze, 3.579545 MHz), not between a number and its counter
  (120 フレーム) or a label and its number (左 320), and no line begins
  with closing punctuation or a small kana or ends with an opening bracket;
- nothing a reader must match or type is split across lines: every inline
  code span (an option, a command, a file name), every quoted string
  (「...」, 『...』, "..."), every run where ASCII touches a Japanese
  letter (閾Y, 縞/512) and every formula with × or ÷ (画素数 × 縞 ÷ 512)
  that fits on a line stands whole on one line, as often as the guide has it.
Prints each failure and exits 1 if there is any.

    check_readme_txt.py --self-test
runs scripts/readme_txt.py over a table of paragraphs that put each kind of
unbreakable piece (a code span, a quoted string, a katakana or kanji word, a
verb with its okurigana, a command, a number with its unit, a label with its
number) across the margin at every column, and checks the result as above;
and checks that a text with such a piece split is caught."""
import os
import re
import sys
import unicodedata

PROSE = 78  # readme_txt.py wraps prose here


def width(line):
    return sum(2 if unicodedata.east_asian_width(c) in "WFA" else 1
               for c in line if not unicodedata.combining(c))


def plain(text):
    """The words a reader sees, without spaces: links by their text, and an
    address after it in brackets."""
    text = re.sub(r"\[([^\]]*)\]\(([^)]*)\)", lambda m: m.group(1) + (
        f"（{m.group(2)}）" if re.match(r"[a-z]+://", m.group(2)) and m.group(2) != m.group(1) else ""), text)
    text = text.replace("`", "").replace("**", "")
    return re.sub(r"\s+", "", text)


def blocks(md):
    """The guide's blocks in order: ('code', line) for each line of code,
    ('output', line) for each line of a program's output in an example (the
    text folds them), ('text', markdown) for each heading, paragraph, list
    item and table cell, ('labels', markdown) for each table's column labels."""
    out, para = [], []

    def flush():
        if para:
            out.append(("text", " ".join(para)))
            para.clear()

    fenced = in_table = in_comment = False
    example = 0  # lines into an output example: 1 is its command
    for line in md.split("\n"):
        if in_comment or re.match(r"\s*<!--", line):
            flush()
            if not in_comment:
                example = 1 if re.match(r"\s*<!--\s*example:", line) else 0
            in_comment = "-->" not in line
            continue
        if example and line.startswith("    "):
            out.append(("output" if example > 1 else "code", line.rstrip()))
            example += 1
            continue
        example = 0
        in_table = in_table and line.startswith("|")
        if line.startswith("```"):
            flush()
            fenced = not fenced
            continue
        if fenced or line.startswith("    ") and not para:
            out.append(("code", line.rstrip()))
            continue
        if not line.strip():
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
            for cell in line.strip().strip("|").split("|"):
                if not re.fullmatch(r"\s*:?-+:?\s*", cell):
                    out.append(("labels" if header else "text", cell))
        else:
            para.append(line)
    flush()
    return out


def pieces(md):
    """What must survive, in order: ('code', line) for each line of code and
    of a program's output, ('text', words) for the rest."""
    out = []
    for kind, what in blocks(md):
        if kind in ("code", "output"):
            out.append(("code", what))
        elif kind == "text" and plain(what):
            out.append(("text", plain(what)))
    return out


# Where a line of Japanese prose may end and the next begin. a is the last
# character of a line, b the first of the next (spaces and indents aside).
HIRA = r"[\u3041-\u309f]"
WORD = r"[\u30a1-\u30fa\u30fc\u4e00-\u9fff\u3005]"  # katakana (and ー) or kanji
NOT_AT_START = set("、。，．・：；？！）」』】〕〉》ー…ぁぃぅぇぉっゃゅょゎァィゥェォッャュョヮヵヶ々")
NOT_AT_END = set("（「『【〔〈《")
# The hiragana that end a phrase: a line may end after them (素材の|種類),
# not after the others, which run on inside a word (組み|合わせ, 入れ|替え).
PHRASE_END = set("のをにはがでともへやかてばらどつくたるうすず")


def bad_break(a, b):
    """Why a line must not end with a and the next begin with b, or None."""
    if b in NOT_AT_START:
        return "a line begins with closing punctuation or a small kana"
    if a in NOT_AT_END:
        return "a line ends with an opening bracket"
    word_a, word_b = re.fullmatch(WORD, a), re.fullmatch(WORD, b)
    if word_a and word_b:
        return "a katakana or kanji word is broken"
    if re.fullmatch(HIRA, b) and a not in "、。，．：；？！":
        return "a particle or okurigana is parted from its word"
    if re.fullmatch(HIRA, a) and word_b and a not in PHRASE_END:
        return "a line ends inside a word, not at a phrase's end"
    ascii_a, ascii_b = re.fullmatch(r"[\x21-\x7e]", a), re.fullmatch(r"[\x21-\x7e]", b)
    if ascii_a and ascii_b:
        return "a command, a name or a number with its unit is broken"
    if ascii_a and word_b:
        return "a number or name is parted from the word after it"
    if word_a and b.isdigit():
        return "a label is parted from its number"
    return None


def broken_words(md, lines):
    """Every line break inside a block of prose that falls inside a word, a
    command or a number with its unit, as (line number, why, the two
    lines' meeting)."""
    flat, starts = [], {}
    for n, line in enumerate(lines, 1):
        part = re.sub(r"\s+", "", line)
        if part:
            starts[sum(map(len, flat))] = n
            flat.append(part)
    flat = "".join(flat)
    found, at = [], 0
    for kind, what in pieces(md):
        if kind != "text":
            continue
        f = flat.find(what, at)
        if f < 0:
            continue  # reported as lost elsewhere
        at = f + len(what)
        for p in range(f + 1, at):
            if p in starts:
                why = bad_break(flat[p - 1], flat[p])
                if why:
                    found.append((starts[p], why, flat[max(f, p - 8):p] + "|" + flat[p:p + 8]))
    return found


LETTER = r"[\u3041-\u309f\u30a1-\u30fa\u4e00-\u9fff]"


def units(text):
    """The pieces of a block of prose that must stay on one line, as the text
    file shows them: code spans, quoted strings, and ASCII runs with the
    Japanese letters they touch."""
    found = re.findall(r"`([^`]+)`", text)
    text = re.sub(r"`[^`]*`", "\x00", text)
    text = re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", text).replace("**", "")
    found += re.findall(r"「[^「」\x00]*」|『[^『』\x00]*』|\"[^\"\x00]+\"", text)
    found += [m for m in re.findall(f"{LETTER}?[\\x21-\\x7e]+{LETTER}?", text)
              if re.search(LETTER, m)]
    found += re.findall(r"\w(?: [×÷] \w+)+", text)
    return [u.strip() for u in found if u.strip() and width(u.strip()) <= PROSE - 4]


def check(md, raw):
    """Every failure of the text file `raw` (bytes) made from the guide `md`."""
    errors = []
    if not raw.startswith(b"\xef\xbb\xbf"):
        errors.append("no UTF-8 byte-order mark")
    try:
        text = raw.decode("utf-8-sig")
    except UnicodeDecodeError as e:
        return [f"not UTF-8: {e}"]
    if not text.endswith("\r\n"):
        errors.append("the last line has no CRLF")
    if re.search(r"\r(?!\n)|(?<!\r)\n", text):
        errors.append("a line ends without CRLF")
    lines = text.split("\r\n")[:-1]
    output = {what for kind, what in blocks(md) if kind == "output"}
    for n, line in enumerate(lines, 1):
        if width(line) > 80 and line not in output:
            errors.append(f"line {n} is {width(line)} columns wide: {line[:40]}")
        if re.search(r"\]\(|`|\*\*|<!--", line) or re.match(r"#|\|.*\|\s*$", line):
            errors.append(f"line {n} holds Markdown: {line[:40]}")

    for n, why, where in broken_words(md, lines):
        errors.append(f"line {n}: {why}: {where}")

    code = set(lines)
    flat = re.sub(r"\s+", "", text)
    at = 0
    for kind, what in pieces(md):
        if kind == "code":
            if what not in code:
                errors.append(f"code line lost: {what.strip()[:60]}")
            continue
        found = flat.find(what, at)
        if found < 0:
            errors.append(f"text lost or out of order: {what[:40]}")
        else:
            at = found + len(what)

    # Each unbreakable piece, as often as the guide has it (in prose or in
    # code), must stand whole in the lines of the text.
    wanted = {}
    prose = [what for kind, what in blocks(md) if kind in ("text", "labels")]
    for block in prose:
        for u in units(block):
            wanted[u] = wanted.get(u, 0) + 1
    for u, n in wanted.items():
        n += sum(what.count(u) for kind, what in blocks(md) if kind == "code")
        have = sum(line.count(u) for line in lines)
        if have < n:
            errors.append(f"split across lines ({have} of {n} whole): {u}")
    return errors


# Paragraphs that hold one unbreakable piece; {pad} moves it along the line.
# Each row: what the piece is, the Markdown, the piece as the text shows it.
SELF_TEST = [
    ("options in a code span", "{pad}`pelta --left 320 --width 320 --shift 0 --tff 1` を写します。",
     "pelta --left 320 --width 320 --shift 0 --tff 1"),
    ("a command in a code span", "{pad}`cmd /c \"ffmpeg ... | pelta ...\"` で渡します。",
     "cmd /c \"ffmpeg ... | pelta ...\""),
    ("a file name with a space", "{pad}`\"録画 1.avi\"` のように囲みます。", "\"録画 1.avi\""),
    ("the information text, quoted", "一覧に{pad}「pelta ver1.2.0 - field matching for interlaced video」があります。",
     "「pelta ver1.2.0 - field matching for interlaced video」"),
    ("a menu path, quoted", "{pad}「その他」→「プラグインフィルタの情報」を開きます。", "「プラグインフィルタの情報」"),
    ("an English quote", "{pad}\"use instead: a deinterlacer\" と出ます。", "\"use instead: a deinterlacer\""),
    ("a label touching ASCII", "割合（{pad}縞/512）で決めます。", "縞/512"),
    ("labels touching ASCII", "{pad}閾Y・閾C を上げます。", "閾Y"),
    ("a code span in a list item", "- {pad}`--lpf 0`（LPF オフ）にします。", "--lpf 0"),
    ("a code span in a heading", "### {pad}`pelta analyze --start 900 capture.y4m`",
     "pelta analyze --start 900 capture.y4m"),
    ("a formula", "割合は{pad}画素数 × 縞 ÷ 512 で決めます。", "数 × 縞 ÷ 512"),
    ("a quote in a numbered step", "3. {pad}「ファイル」→「AVI出力」で書き出します。", "「AVI出力」"),
    ("a katakana word", "{pad}フィールドマッチングのフィルタです。", "フィールドマッチング"),
    ("a katakana word in a list item", "- {pad}コマンドプロンプトを開きます。", "コマンドプロンプト"),
    ("a kanji word", "{pad}処理範囲外の画素を数えます。", "処理範囲外"),
    ("a verb with its okurigana", "{pad}組み合わせ直します。", "組み合わせ直します"),
    ("a number with its unit", "周波数は{pad}3.579545 MHz です。", "3.579545 MHz"),
    ("a number with its counter", "{pad}120 フレームすべてを戻しました。", "120 フレーム"),
    ("a command in prose", "{pad}pelta analyze で調べます。", "pelta analyze"),
    ("a label and its number", "{pad}左 320、幅 320 にします。", "左 320"),
    ("a setting and its value", "{pad}TFF オンにします。", "TFF オン"),
    ("a name and its particle", "{pad}pelta は映像だけを扱います。", "pelta は"),
]


def self_test():
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts"))
    import readme_txt
    failures = 0
    for name, template, piece in SELF_TEST:
        # The piece starts at every column from 0 to 79 (one case a piece
        # reported), after words that may break after each の.
        for pad in ("アの" * (n // 4) + " " * (n % 4) for n in range(80)):
            md = template.replace("{pad}", pad) + "\n"
            lines = readme_txt.convert(md)
            errors = check(md, ("\ufeff" + "\r\n".join(lines) + "\r\n").encode("utf-8"))
            if not any(piece in line for line in lines):
                errors.append(f"'{piece}' is not whole on a line")
            if errors:
                failures += 1
                print(f"check_readme_txt: self-test '{name}' after {width(pad)} columns: "
                      + "; ".join(errors) + "\n  " + "\n  ".join(lines))
                break
        # The check must catch the piece split in two.
        md = template.replace("{pad}", "") + "\n"
        lines = readme_txt.convert(md)
        text = "\r\n".join(lines).replace(piece, piece[:len(piece) // 2] + "\r\n" + piece[len(piece) // 2:])
        if not any("split across lines" in e or "broken" in e or "parted" in e
                   for e in check(md, ("\ufeff" + text + "\r\n").encode("utf-8"))):
            failures += 1
            print(f"check_readme_txt: self-test '{name}': a split '{piece}' is not caught")
    print(f"check_readme_txt: self-test: {len(SELF_TEST)} pieces, {failures} failing")
    return 1 if failures else 0


def main():
    if sys.argv[1:] == ["--self-test"]:
        sys.exit(self_test())
    if len(sys.argv) != 3:
        sys.exit("usage: check_readme_txt.py GUIDE.md GUIDE.txt | --self-test")
    md_path, txt_path = sys.argv[1], sys.argv[2]
    errors = check(open(md_path, encoding="utf-8").read(), open(txt_path, "rb").read())
    for e in errors:
        print(f"check_readme_txt: {txt_path}: {e}")
    sys.exit(1 if errors else 0)


if __name__ == "__main__":
    main()
