#!/usr/bin/python3
"""Capture-like clips for `pelta analyze`: the list, the truth checks, the score.

Used by bench/captures.sh (which builds the corpus) and bench/analyze.sh
(which scores the analysis on it); Debian's python3 with python3-numpy.

  corpus.py list [--quick]            the clips, one line each:
                                      NAME|KIND|PICTURE|PICTURE2|GENERATOR ARGS|CODEC:PARAM:CHROMA|TAGS
  corpus.py check --pelta BIN CLIP.y4m TRUTH.json [--codec TEXT] [--tags T,..]
                                      measure the truth on the clip itself and
                                      write the finished truth back
  corpus.py score RESULTS.jsonl       the accuracy tables from analyze.sh's results
  corpus.py judge TRUTH.json ANALYSIS.json   one clip's verdict line, as JSON

The clip list is fixed: drawn once from a seeded generator, so every run
builds the same clips. --quick takes a subset of about 16 that still holds
every kind and every hardship.
"""
import argparse
import json
import math
import os
import random
import re
import subprocess
import sys
import tempfile

KINDS = ["progressive", "pulldown", "interlaced", "match", "window"]

# Pictures the pans run over: photographs from python3-skimage's sample data
# (colour and grey; the textures mirrored beyond their edges at full detail,
# the rest enlarged where the pan needs more picture) and two ffmpeg renders.
PHOTOS = ["astronaut", "coffee", "chelsea", "motorcycle_left", "rocket", "hubble_deep_field", "camera"]
TEXTURES = ["grass", "brick", "gravel"]
RENDERS = ["testsrc2", "mandelbrot"]
COLOUR = ["astronaut", "coffee", "chelsea", "motorcycle_left", "rocket", "hubble_deep_field", "testsrc2", "mandelbrot"]

# The hardships a clip is counted under in the score (besides its kind).
HARDSHIPS = [
    ("clean", "no grain, no codec, no cut (control)"),
    ("grain", "grain sigma 1 and more"),
    ("soft", "softer than the base 0.6, or vertically only"),
    ("mpeg2", "interlaced MPEG-2 round trip"),
    ("h264", "interlaced H.264 round trip"),
    ("cut", "scene cuts"),
    ("narrow", "band <= 64 px"),
    ("smallshift", "shift <= 5/16"),
    ("slow", "pan <= 1 px a frame"),
    ("1080", "1920x1080"),
    ("422", "4:2:2"),
    ("trap", "4:2:2 converted with -pix_fmt yuv420p"),
    ("lateband", "band with a late field (TFF decides)"),
    ("samescene", "band shows the picture around it"),
    ("stillblack", "a still or black stretch"),
    ("faintband", "field matching alone leaves the band below 1"),
]


def clip_list(quick=False, seed=29):
    """The corpus: per kind, hardship values in fixed proportions, each
    attribute shuffled on its own, so the combinations vary but the counts do not.
    Another seed draws other combinations of the same counts: clips the
    analysis was never tuned on."""
    rng = random.Random(seed)
    counts = {"window": 32, "match": 16, "interlaced": 8, "pulldown": 8, "progressive": 8}
    clips = []
    for kind in KINDS:
        n = counts[kind]

        def spread(values, k=n):  # k values cycling through `values`, shuffled
            out = [values[i % len(values)] for i in range(k)]
            rng.shuffle(out)
            return out

        # The first clip of each kind is a clean control.
        codecs = spread([("none", 0)] * 3 + [("mpeg2", 3), ("mpeg2", 4), ("mpeg2", 6), ("mpeg2", 8)] +
                        [("h264", 20), ("h264", 24), ("h264", 28)], n - 1)
        sizes = spread(["720x480"] * 5 + ["1920x1080", "480x360", "1280x720"] + ["720x480"] * 2 + ["1920x1080"], n - 1)
        chromas = spread(["420"] * 6 + ["422", "422", "trap"], n - 1) if n > 8 else spread(["420"] * 4 + ["422", "trap"], n - 1)
        grains = spread([0, 0.5, 1, 1.5, 2, 2.5, 3, 3], n - 1)
        softs = spread(["0.6", "0.6", "1.0", "1.6", "0.6,1.4", "0.8"], n - 1)
        cuts = spread([0, 0, 0, 1, 1, 2], n - 1)
        speeds = spread([0.5, 1, 1, 1.5, 2, 3, 4], n - 1)
        lates = spread(["bottom", "top", "alternate", "random"], n - 1)
        extras = spread(["", "", "", "", "", "", "", "", "still", "black"], n - 1)
        pictures = spread(PHOTOS + TEXTURES + RENDERS, n - 1)
        # The band: narrow ones and small shifts well represented.
        widths = spread([40, 48, 56, 64, 80, 96, 128, 160, 200, 256, 320, 400], n - 1)
        shifts = spread([3, 4, 5, 6, 8, 11, 13, 16, 20, 24, 26, 32, 40, 48, 64, 90], n - 1)
        places = spread(["left", "right", "middle", "middle", "middle"], n - 1)
        motions = spread(["pair", "late"], n - 1)
        scenes = spread(["other", "same"], n - 1)
        tffs = spread([0, 1], n - 1)
        for i in range(n):
            j = i - 1
            clean = i == 0
            size = "720x480" if clean else sizes[j]
            fw, fh = map(int, size.split("x"))
            frames = {"720x480": 120, "480x360": 150, "1280x720": 90, "1920x1080": 90}[size]
            codec, param = ("none", 0) if clean else codecs[j]
            chroma = "420" if clean else chromas[j]
            grain = 0 if clean else grains[j]
            soft = "0.6" if clean else softs[j]
            ncut = 0 if clean else cuts[j]
            # Clean controls move briskly. An interlaced clip's fields are half
            # a frame apart, so its pans go twice as fast to comb as much as
            # the others' (as the fixed drift's do): at 0.25 px a field no
            # setting or tool could be told from another.
            speed = 4 if clean else speeds[j] * (2 if kind == "interlaced" else 1)
            picture = ["testsrc2", "astronaut", "mandelbrot", "coffee", "motorcycle_left"][KINDS.index(kind)] if clean \
                else pictures[j]
            if chroma in ("422", "trap") and picture not in COLOUR:
                picture = rng.choice(COLOUR)  # chroma matters only in colour
            extra = "" if clean or ncut else extras[j]
            angle = rng.uniform(0, 2 * math.pi)
            if clean:
                angle = 0.35  # mostly across: vertical motion of whole rows per field hardly combs
            vx, vy = speed * math.cos(angle), 0.5 * speed * math.sin(angle)
            seed = rng.randrange(1, 1 << 30)
            args = ["--kind", kind, "--size", size, "--frames", str(frames), "--seed", str(seed),
                    "--pan", "%.3f,%.3f" % (vx, vy), "--soft", soft]
            if grain:
                args += ["--grain", str(grain)]
            args += ["--chroma", {"420": "420i", "422": "422", "trap": "422"}[chroma]]
            tags = []
            picture2 = ""
            if ncut:
                at = sorted(rng.sample(range(15, frames - 15), ncut))
                at = [a + (0.5 if kind == "interlaced" and rng.random() < 0.5 else 0) for a in at]
                args += ["--cut", ",".join("%g" % a for a in at)]
                if rng.random() < 0.5:
                    picture2 = rng.choice([p for p in COLOUR if p != picture])
                tags.append("cut")
            if rng.random() < 0.15:
                args += ["--zoom", "0.002"]
            if extra == "still":
                a = rng.randrange(30, frames - 30)
                args += ["--still", "%d,%d" % (a, a + 9)]
                tags.append("stillblack")
            elif extra == "black":
                a = rng.randrange(30, frames - 30)
                args += ["--black", "%d,%d" % (a, a + 7)]
                tags.append("stillblack")
            name = ["%s" % kind]
            if kind in ("match", "window"):
                late = "bottom" if clean else lates[j]
                args += ["--late", late]
            if kind == "window":
                width = 160 if clean else widths[j]
                if fw > 720 and width > 64:
                    width = int(width * rng.uniform(1, fw / 720))
                width = min(width, fw - 32)
                place = "middle" if clean else places[j]
                left = {"left": 0, "right": fw - width, "middle": rng.randrange(16, fw - width - 16)}[place]
                shift = 24 if clean else shifts[j]
                tff = 1 if clean else tffs[j]
                motion = "late" if clean else motions[j]
                scene = "other" if clean else scenes[j]
                bspeed = rng.uniform(0.5, 3)
                bangle = rng.uniform(0, 2 * math.pi)
                args += ["--band", "%d,%d" % (left, width), "--shift", str(shift), "--tff", str(tff),
                         "--band-motion", motion, "--band-scene", scene,
                         "--band-pan", "%.3f,%.3f" % (bspeed * math.cos(bangle), 0.5 * bspeed * math.sin(bangle))]
                name += ["b%d@%d" % (width, left), "s%d" % shift, "tff%d" % tff, motion]
                if scene == "same":
                    name.append("same")
                    tags.append("samescene")
                if motion == "late":
                    tags.append("lateband")
                if width <= 64:
                    tags.append("narrow")
                if shift <= 5:
                    tags.append("smallshift")
            elif kind == "match":
                name.append("late-" + args[args.index("--late") + 1])
            name.append(picture)
            if grain:
                name.append("g%g" % grain)
            if grain >= 1:
                tags.append("grain")
            if soft != "0.6":
                name.append("soft" + soft.replace(",", "v").replace("0.6v", "v"))
                tags.append("soft")
            if codec == "mpeg2":
                rate = param if size == "720x480" else {"480x360": param * 0.6, "1280x720": param * 2.4,
                                                          "1920x1080": 12 + param * 1.6}[size]
                if chroma in ("422", "trap"):
                    rate = min(rate * 1.5, 25)
                param = round(rate, 1)
                name.append("mpeg2-%gM" % param)
                tags.append("mpeg2")
            elif codec == "h264":
                name.append("h264-crf%d" % param)
                tags.append("h264")
            if ncut:
                name.append("cut%d" % ncut)
            if extra:
                name.append(extra)
            if speed <= 1:
                name.append("slow")
                tags.append("slow")
            if size != "720x480":
                name.append(size.split("x")[1] if size != "480x360" else "360")
            if size == "1920x1080":
                tags.append("1080")
            if chroma == "422":
                name.append("422")
                tags.append("422")
            if chroma == "trap":
                name.append("trap")
                tags.append("trap")
            if clean:
                name.append("clean")
                tags.append("clean")
            fit = "mirror" if picture in TEXTURES else "scale"
            args += ["--fit", fit]
            clips.append({"kind": kind, "name": "-".join(name), "picture": picture, "picture2": picture2,
                          "args": args, "codec": codec, "param": param, "chroma": chroma, "tags": tags})
    for i, c in enumerate(clips):
        c["name"] = "%02d-%s" % (i + 1, c["name"])
    if quick:
        clips = quick_subset(clips)
    return clips


def quick_subset(clips):
    """About 16 clips that still hold every kind and every hardship: window 6,
    match 4, the other kinds 2 each; greedily the clip that adds most of what
    is not yet covered (ties: the kind with most places left, then the clip
    with most hardships, but few at 1920x1080, then list order)."""
    quota = {"window": 6, "match": 4, "interlaced": 2, "pulldown": 2, "progressive": 2}
    want = {h for h, _ in HARDSHIPS}
    chosen = []
    while any(quota.values()):
        best = max((c for c in clips if c not in chosen and quota[c["kind"]] > 0),
                   key=lambda c: (len(set(c["tags"]) & want), quota[c["kind"]], len(c["tags"]) - 9 * ("clean" in c["tags"]) - 9 * ("1080" in c["tags"]),
                                  -clips.index(c)))
        chosen.append(best)
        quota[best["kind"]] -= 1
        want -= set(best["tags"])
    return sorted(chosen, key=lambda c: c["name"])


def cmd_list(a):
    for c in clip_list(a.quick, a.seed):
        print("|".join([c["name"], c["kind"], c["picture"], c["picture2"], " ".join(c["args"]),
                        "%s:%s:%s" % (c["codec"], c["param"], c["chroma"]), ",".join(c["tags"])]))


# ---- Y4M and the combing measure


def y4m_luma(path):
    """The luma planes of a Y4M file, frame by frame (as float arrays)."""
    import numpy as np
    with open(path, "rb") as f:
        header = f.readline().split()
        tags = {t[:1].decode(): t[1:].decode() for t in header[1:]}
        w, h = int(tags["W"]), int(tags["H"])
        c = tags.get("C", "420jpeg")
        deep = re.match(r"^(444|422|420|mono)p?(\d+)$", c)  # 444p10, mono16, ...
        depth = int(deep.group(2)) if deep else 8
        bps = 2 if depth > 8 else 1
        base = "mono" if c.startswith("mono") else c[:3]
        cw, ch = {"444": (w, h), "422": ((w + 1) // 2, h), "420": ((w + 1) // 2, (h + 1) // 2), "mono": (0, 0)}[base]
        size = (w * h + 2 * cw * ch) * bps
        while True:
            line = f.readline()
            if not line:
                return
            data = f.read(size)
            if len(data) < size:
                return
            y = np.frombuffer(data, dtype="<u2" if bps == 2 else np.uint8, count=w * h).reshape(h, w)
            yield y.astype(np.float32) / (1 << (depth - 8))


def comb_columns(y):
    """Per column: comb energy across the fields (rows y-1, y, y+1) and the
    same second difference within one field (y-2, y, y+2), as the analysis
    measures them."""
    c = y[1:-3] - 2 * y[2:-2] + y[3:-1]
    d = y[0:-4] - 2 * y[2:-2] + y[4:]
    return (c * c).sum(axis=0), (d * d).sum(axis=0)


def combing(path, left, right):
    """Mean over the frames of the combing ratio in columns [left, right) and
    in the rest, and how many frames measure 1 or more (visible) in either."""
    band, rest, visible, n = 0.0, 0.0, 0, 0
    for y in y4m_luma(path):
        c, d = comb_columns(y)
        inside = slice(left, right)
        cb, db = c[inside].sum(), d[inside].sum()
        cr, dr = c.sum() - cb, d.sum() - db
        rb = float(cb / db) if db > 0 else 0.0
        rr = float(cr / dr) if dr > 0 else 0.0
        band += rb
        rest += rr
        visible += int((rb >= 1 and right > left) or rr >= 1)
        n += 1
    return {"band": round(band / max(n, 1), 3) if right > left else None, "rest": round(rest / max(n, 1), 3),
            "visible_frames": visible}


# ---- The truth checked on the clip


def same_moment(a, b):
    if a is None or b is None:
        return a is None and b is None
    return abs(a - b) < 1e-6


def mismatched_frames(truth, log, tff):
    """From the filter's own log (the weave it chose for each frame), the
    frames whose output puts fields of two moments together: outside the
    window the chosen weave of frames m-1 and m (rows of parity (tff ^ m) & 1
    from m-1), inside it the pair's fixed weave."""
    times, band = truth["field_times"], truth.get("band_field_times")
    n = len(times)
    out = []
    for f, m in log:
        p = (tff ^ m) & 1
        bad = not same_moment(times[m - 1][p], times[m][1 - p])
        if band is not None and truth["width"] > 0:
            k0, k1 = 2 * (f // 2), min(2 * (f // 2) + 1, n - 1)
            even, odd = (k0, k1) if tff else (k1, k0)
            bad = bad or not same_moment(band[even][0], band[odd][1])
        if bad:
            out.append(f)
    return out


def run_pelta(pelta, clip, settings, out, log=None):
    cmd = [pelta, "--quiet", "--lpf", "0"] + settings + ([] if log is None else ["--log", log]) + [clip, out]
    subprocess.run(cmd, check=True)


def cmd_check(a):
    with open(a.truth) as f:
        truth = json.load(f)
    truth["name"] = os.path.basename(a.clip)[:-4]
    truth["tags"] = [t for t in a.tags.split(",") if t]
    truth["codec"] = a.codec or truth.get("codec", "none")
    truth["recipe"] = a.recipe or truth.get("recipe", "")
    if a.trap:
        truth["chroma_trap"] = True
    truth["corpus_line"] = a.line or truth.get("corpus_line", "")
    if truth.get("tff_scope") == "measured":  # checked before: decide again
        truth["tff"] = truth["tff_scope"] = None
    left, width = truth["left"], truth["width"]
    right = left + width
    check = {"input": combing(a.clip, left, right)}
    if truth["kind"] in ("match", "window"):
        with tempfile.TemporaryDirectory() as tmp:
            out, log = os.path.join(tmp, "out.y4m"), os.path.join(tmp, "log.csv")
            bad = {}
            for t in (0, 1):
                run_pelta(a.pelta, a.clip, ["--left", str(left), "--width", str(width), "--shift",
                                            str(truth["shift"]), "--tff", str(t)], out, log)
                with open(log) as f:
                    rows = [r.split(",") for r in f.read().split("\n")[1:] if r]
                weaves = [(int(r[0]), int(r[1])) for r in rows]
                bad[t] = mismatched_frames(truth, weaves, t)
                check["tff%d" % t] = dict(combing(out, left, right), mismatched_frames=len(bad[t]),
                                          first_mismatched=bad[t][:8])
            if width > 0:
                # Field matching alone, under the setting that leaves the band
                # least combed: where that is below 1, the band barely shows.
                alone = []
                for t in (0, 1):
                    run_pelta(a.pelta, a.clip, ["--width", "0", "--tff", str(t)], out)
                    alone.append(dict(combing(out, left, right), tff=t))
                check["matching_alone"] = min(alone, key=lambda c: c["band"])
                if check["matching_alone"]["band"] < 1 and "faintband" not in truth["tags"]:
                    truth["tags"].append("faintband")
        n = truth["frames"]
        b0, b1 = len(bad[0]), len(bad[1])
        # The generator's TFF where it defines one; elsewhere a setting is the
        # truth only when the filter clearly restores more under it: the other
        # leaves a tenth of the frames or more mismatched, three times as many.
        # (Both restore these clips in principle; the filter's choices under
        # grain and compression make the few differences there are.)
        worse, better = max(b0, b1), min(b0, b1)
        if truth["tff"] is None and worse >= max(3, n / 10) and better * 3 <= worse:
            truth["tff"] = 0 if b0 < b1 else 1
            truth["tff_scope"] = "measured"
        doubts = []
        if truth["tff"] is not None and len(bad[truth["tff"]]) >= len(bad[1 - truth["tff"]]):
            doubts.append("TFF %d does not restore more frames than %d" % (truth["tff"], 1 - truth["tff"]))
        t = truth["tff"] if truth["tff"] is not None else (0 if b0 <= b1 else 1)
        if len(bad[t]) > n // 10:
            doubts.append("the true settings leave %d of %d frames mismatched" % (len(bad[t]), n))
        check["doubts"] = doubts
    truth["check"] = check
    with open(a.truth + ".new", "w") as f:
        json.dump(truth, f, indent=1)
        f.write("\n")
    os.replace(a.truth + ".new", a.truth)
    c = check
    line = "%-70s input %s" % (truth["name"], fmt_comb(c["input"]))
    if "tff0" in c:
        line += " | tff0 %s mism %d | tff1 %s mism %d" % (fmt_comb(c["tff0"]), c["tff0"]["mismatched_frames"],
                                                          fmt_comb(c["tff1"]), c["tff1"]["mismatched_frames"])
    if "matching_alone" in c:
        line += " | matching alone %s" % fmt_comb(c["matching_alone"])
    line += " -> tff %s" % truth["tff"]
    if c.get("doubts"):
        line += "  DOUBT: " + "; ".join(c["doubts"])
    print(line)


def fmt_comb(c):
    return ("%.2f/%.2f" % (c["band"], c["rest"])) if c.get("band") is not None else "%.2f" % c["rest"]


# ---- Judging and scoring the analysis


def judge(truth, got):
    """Whether the analysis is right on a clip: the kind; for a window both
    edges within 8 px and the shift within 2; the TFF where the truth has one
    (match and window)."""
    kind = got.get("kind")
    why = []
    if kind != truth["kind"]:
        why.append("kind")
    elif kind == "window":
        l, w = got.get("left", -999), got.get("width", -999)
        if abs(l - truth["left"]) > 8:
            why.append("left")
        if abs(l + w - truth["left"] - truth["width"]) > 8:
            why.append("right")
        if abs(got.get("shift", -999) - truth["shift"]) > 2:
            why.append("shift")
    if kind == truth["kind"] and kind in ("match", "window") and truth.get("tff") is not None \
            and got.get("tff") != truth["tff"]:
        why.append("tff")
    return why


def describe_truth(t):
    s = t["kind"]
    if t["kind"] == "window":
        s += " %d..%d s%d" % (t["left"], t["left"] + t["width"] - 1, t["shift"])
    if t["kind"] in ("match", "window"):
        s += " tff%s" % ("-" if t.get("tff") is None else t["tff"])
    return s


def describe_got(g):
    if "kind" not in g:
        return "error: " + g.get("error", "?")
    s = g["kind"]
    if g["kind"] == "window":
        s += " %d..%d s%d" % (g["left"], g["left"] + g["width"] - 1, g["shift"])
    if g["kind"] in ("match", "window"):
        s += " tff%d" % g.get("tff", -1)
    return s


def cmd_judge(a):
    with open(a.truth) as f:
        truth = json.load(f)
    try:
        with open(a.analysis) as f:
            got = json.load(f)
    except (OSError, ValueError) as e:
        got = {"error": "no analysis (%s)" % e}
    if a.error:
        got = {"error": a.error}
    why = judge(truth, got) if "kind" in got else ["error"]
    conf = got.get("confidence")
    print(json.dumps({"name": truth["name"], "kind": truth["kind"], "tags": truth.get("tags", []),
                      "truth": describe_truth(truth), "got": describe_got(got), "right": not why, "why": why,
                      "confidence": conf, "chroma_trap": truth.get("chroma_trap", False),
                      "warnings": got.get("warnings", []), "seconds": a.seconds}))


def cmd_score(a):
    rows = [json.loads(l) for l in open(a.results) if l.strip()]
    rows.sort(key=lambda r: r["name"])
    for r in rows:
        conf = "-" if r["confidence"] is None else "%.2f" % r["confidence"]
        print("%-78s %-26s %-26s %-5s %s%s" % (r["name"], r["truth"], r["got"], "right" if r["right"] else "WRONG",
                                               conf, "" if r["right"] else "  (" + ",".join(r["why"]) + ")"))

    def line(label, sel, note=""):
        n = len(sel)
        if not n:
            return
        right = sum(r["right"] for r in sel)
        sure_wrong = sum(1 for r in sel if not r["right"] and (r["confidence"] or 0) >= 0.5)
        only_tff = sum(1 for r in sel if r["why"] == ["tff"])
        print("%-12s %5d %4d  %4.0f%%  %14d  %12d  %s" % (label, right, n, 100.0 * right / n, sure_wrong, only_tff, note))

    head = "%-12s %5s %4s  %5s  %14s  %12s" % ("", "right", "of", "", "sure & wrong", "wrong by tff")
    print()
    print(head)
    line("all", rows)
    print()
    for k in KINDS:
        line(k, [r for r in rows if r["kind"] == k])
    print()
    for h, note in HARDSHIPS:
        line(h, [r for r in rows if h in r["tags"]], note)
    sure_wrong = [r for r in rows if not r["right"] and (r["confidence"] or 0) >= 0.5]
    traps = [r for r in rows if r["chroma_trap"]]
    print()
    print("confidently wrong (wrong, confidence >= 0.5): %d of %d clips" % (len(sure_wrong), len(rows)))
    if traps:
        print("chroma-trap clips given confidence < 0.5 (they should warn): %d of %d" %
              (sum(1 for r in traps if (r["confidence"] if r["confidence"] is not None else 1) < 0.5), len(traps)))
    secs = [r["seconds"] for r in rows if r.get("seconds") is not None]
    if secs:
        print("analysis time: %.1f s for %d clips" % (sum(secs), len(secs)))


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = p.add_subparsers(dest="cmd", required=True)
    s = sub.add_parser("list")
    s.add_argument("--quick", action="store_true")
    s.add_argument("--seed", type=int, default=29)
    s.set_defaults(func=cmd_list)
    s = sub.add_parser("check")
    s.add_argument("--pelta", required=True)
    s.add_argument("--codec", default="")
    s.add_argument("--recipe", default="")
    s.add_argument("--tags", default="")
    s.add_argument("--trap", action="store_true")
    s.add_argument("--line", default="", help="the clip's line of the list, kept in the truth")
    s.add_argument("clip")
    s.add_argument("truth")
    s.set_defaults(func=cmd_check)
    s = sub.add_parser("judge")
    s.add_argument("truth")
    s.add_argument("analysis")
    s.add_argument("--seconds", type=float)
    s.add_argument("--error", default="")
    s.set_defaults(func=cmd_judge)
    s = sub.add_parser("score")
    s.add_argument("results")
    s.set_defaults(func=cmd_score)
    a = p.parse_args()
    a.func(a)


if __name__ == "__main__":
    main()
