#!/usr/bin/python3
"""Long capture-like clips of several kinds, and how `pelta analyze`, `pelta
--auto` and `pelta --plan` fare on them.

Used by bench/long_captures.sh (which builds the corpus) and bench/segments.sh
(which scores the analysis on it); Debian's python3 with python3-numpy.

  long_corpus.py list [--quick] [--seed N] [--names]
        the clips, one JSON object a line (or their names): every stretch with
        its kind, settings and the pelta_make_clip options that make it
  long_corpus.py make --pelta BIN --make-clip BIN --pictures DIR [--seed N] NAME DIR
        make one clip: its stretches joined, kept compressed in DIR (NAME.mkv,
        NAME.mpg or NAME.mp4), and NAME.truth.json, checked on the clip itself
  long_corpus.py recheck --pelta BIN NAME DIR
        check the truth of a clip already made again (after a change of the
        filter or of the check)
  long_corpus.py stored DIR NAME      the compressed file of a clip
  long_corpus.py decode DIR NAME      the clip as Y4M on standard output
  long_corpus.py frame-size Y4M       the bytes of one frame, FRAME line included
  long_corpus.py table DIR            the clips of a corpus as a Markdown table
  long_corpus.py measure --input Y4M TRUTH.json < OUTPUT.y4m
        per true stretch, the frames of OUTPUT that differ from the input and
        the combing left in them (of pelta --auto's output, say)
  long_corpus.py judge --truth T --name NAME --work DIR
        gather one clip's runs (the analysis as a file, as a pipe, one frame
        shorter; --auto from a file and from a pipe) into one JSON line
  long_corpus.py score RESULTS.jsonl [--per-clip]
        the tables, from segments.sh's results

The list is fixed: drawn once from a seeded generator, so every run builds the
same clips; another seed (--seed N) draws other clips with the same hardships
in the same proportions. Each clip is 4 to 6 stretches of 60 to 400 frames of
one kind each (progressive, pulldown, interlaced, match, window, still,
black; now and then a title: a still picture, or a slow vertical-only roll of
credits), joined at any frame, with or without a scene cut at the join. Each
stretch is made by pelta_make_clip --part as frames of a longer clip shared
by the stretches of one scene group (a run of stretches joined without a cut),
so the same picture and pan carry on across a change of kind; the group's
frame numbers keep the joined clip's parity, so pelta's frame pairs (2k, 2k+1)
are the stretch's own. The clip's hardships (grain, an interlaced MPEG-2 or
H.264 round trip of the whole clip, 4:2:2, 1920x1080) are the same all along.
"""
import argparse
import hashlib
import json
import math
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time

DEFAULT_SEED = 38
KINDS = ["progressive", "pulldown", "interlaced", "match", "window", "still", "black"]
PELTA_KINDS = ("match", "window")
NEED_NOTHING = ("progressive", "pulldown", "interlaced", "still", "black")

# Pictures the pans run over (as bench/corpus.py's): photographs from
# python3-skimage's sample data, its textures (mirrored beyond their edges),
# ffmpeg's testsrc2 and mandelbrot renders; and a roll of credits, white text
# on a dark ground, rendered with ffmpeg's drawtext.
PHOTOS = ["astronaut", "coffee", "chelsea", "motorcycle_left", "rocket", "hubble_deep_field", "camera"]
TEXTURES = ["grass", "brick", "gravel"]
RENDERS = ["testsrc2", "mandelbrot"]
COLOUR = ["astronaut", "coffee", "chelsea", "motorcycle_left", "rocket", "hubble_deep_field", "testsrc2", "mandelbrot"]
PICTURES = PHOTOS + TEXTURES + RENDERS

# What a stretch is counted under in the score besides its kind: the clip's
# hardships and its own.
HARDSHIPS = [
    ("grain", "grain sigma 1 to 4 (per field, the whole clip)"),
    ("mpeg2", "interlaced MPEG-2 round trip of the whole clip"),
    ("h264", "interlaced H.264 round trip of the whole clip"),
    ("lossless", "no codec (stored as FFV1)"),
    ("422", "4:2:2"),
    ("1080", "1920x1080"),
    ("vertical", "motion only vertical"),
    ("slow", "pan of 1 pixel a frame or less"),
    ("cut", "a scene cut inside the stretch"),
    ("oddstart", "starts at an odd frame"),
    ("samescene-join", "starts at a change of kind without a scene cut"),
    ("cut-join", "starts at a change of kind with a scene cut"),
    ("title", "a title: a still picture or a roll of credits"),
    ("short", "90 frames or fewer"),
    ("narrow", "band 64 px or narrower"),
    ("smallshift", "shift 5/16 or less"),
    ("lateband", "band with a late field (one TFF restores it)"),
    ("pairband", "band of one picture per frame pair (both TFF restore it)"),
    ("samescene", "band shows the picture around it"),
    ("window-window", "a window next to a window with other settings"),
    ("faintband", "field matching alone leaves the band below 1"),
    ("late-bottom", "match/window: bottom field late"),
    ("late-top", "match/window: top field late"),
    ("late-alternate", "match/window: the late field alternates"),
    ("late-random", "match/window: the late field changes at random"),
]

FPS = 30000 / 1001


# ---- The list


def spread(rng, values, k):
    """k values cycling through `values`, shuffled: fixed proportions."""
    out = [values[i % len(values)] for i in range(k)]
    rng.shuffle(out)
    return out


class Deck:
    """An endless supply of values in fixed proportions: each round is the
    list shuffled."""

    def __init__(self, rng, values):
        self.rng, self.values, self.left = rng, list(values), []

    def draw(self):
        if not self.left:
            self.left = list(self.values)
            self.rng.shuffle(self.left)
        return self.left.pop()


# The tiers of the list: the quick subset first (720x480, 600 to 1200
# frames, every kind and every hardship but 1920x1080), then more 720x480
# clips up to 2400 frames (6 stretches of 400), then 1920x1080 (600 to 900).
TIERS = [
    {"tier": "quick", "size": "720x480", "stretches": [4, 5, 5, 5, 5, 6], "targets": [650, 780, 900, 1000, 1100, 1190],
     "codecs": [("none", 0), ("none", 0), ("mpeg2", 5), ("mpeg2", 8), ("h264", 24), ("h264", 22)],
     "chromas": ["420"] * 4 + ["422"] * 2, "grains": [0, 1, 1.5, 2, 3, 4],
     "kinds": {"window": 8, "match": 6, "progressive": 4, "interlaced": 3, "pulldown": 3, "still": 3, "black": 3},
     "credits": ["progressive"]},
    {"tier": "sd", "size": "720x480", "stretches": [4, 5, 5, 5, 6, 6, 6],
     "targets": [720, 1010, 1290, 1530, 1730, 1890, 2050],
     "codecs": [("none", 0)] * 3 + [("mpeg2", 4), ("mpeg2", 6), ("h264", 26), ("h264", 24)],
     "chromas": ["420"] * 5 + ["422"] * 2, "grains": [0, 0, 1, 2, 2.5, 3, 4],
     "kinds": {"window": 11, "match": 8, "progressive": 5, "interlaced": 4, "pulldown": 3, "still": 3, "black": 3},
     "credits": ["progressive", "interlaced"]},
    {"tier": "hd", "size": "1920x1080", "stretches": [4, 5, 5], "targets": [610, 760, 890],
     "codecs": [("none", 0), ("mpeg2", 20), ("h264", 24)],
     "chromas": ["420", "422", "420"], "grains": [1, 2, 0],
     "kinds": {"window": 4, "match": 3, "progressive": 2, "interlaced": 2, "pulldown": 1, "still": 1, "black": 1},
     "credits": []},
]

# A kind may not follow itself (it would be no change), except a window
# another window with other settings: a change of settings.
def may_follow(prev, kind):
    return prev is None or kind != prev or kind == "window"


def deal_kinds(rng, tier):
    """Each clip's sequence of kinds, dealt from the tier's pool so that every
    kind's count is fixed; no kind follows itself but window."""
    counts = tier["stretches"]
    for _ in range(1000):
        pool = [k for k, n in tier["kinds"].items() for _ in range(n)]
        assert len(pool) == sum(counts)
        rng.shuffle(pool)
        seqs, ok = [], True
        for n in counts:
            seq = []
            for _ in range(n):
                choices = [i for i, k in enumerate(pool) if may_follow(seq[-1] if seq else None, k)]
                # At most one window after a window in a clip: the rest of
                # the changes are changes of kind.
                if seq and seq[-1] == "window" and sum(a == b == "window" for a, b in zip(seq, seq[1:])) >= 1:
                    choices = [i for i in choices if pool[i] != "window"]
                if not choices:
                    ok = False
                    break
                seq.append(pool.pop(rng.choice(choices)))
            if not ok:
                break
            seqs.append(seq)
        if ok:
            return seqs
    raise RuntimeError("cannot deal the kinds of tier %s" % tier["tier"])


def stretch_lengths(rng, kinds, target):
    """Lengths of 60 to 400 frames (stills and blacks up to 200) summing to
    the target, or to what the caps leave room for: none pressed against its
    cap, and no join on a multiple of 10 frames, so that the joins fall on no
    grid."""
    caps = [200 if k in ("still", "black") else 400 for k in kinds]
    target = min(target, int(0.88 * sum(caps)))
    weights = [rng.uniform(0.25, 1.0) * (0.5 if k in ("still", "black") else 1) for k in kinds]
    total = sum(weights)
    lengths = [min(c - 5, max(60, int(round(w * target / total)))) for w, c in zip(weights, caps)]
    diff = target - sum(lengths)
    guard = 0
    while diff and guard < 100000:
        i = rng.randrange(len(lengths))
        step = 1 if diff > 0 else -1
        if 60 <= lengths[i] + step <= caps[i] - 5:
            lengths[i] += step
            diff -= step
        guard += 1
    # A join on a multiple of 10 moves by 1 to 4 frames (the stretch before it
    # longer or shorter, the one after it the other way).
    for i in range(1, len(lengths)):
        start = sum(lengths[:i])
        if start % 10:
            continue
        for d in rng.sample([1, -1, 2, -2, 3, -3, 4, -4], 8):
            if 60 <= lengths[i - 1] + d <= caps[i - 1] - 5 and 60 <= lengths[i] - d <= caps[i] - 5:
                lengths[i - 1] += d
                lengths[i] -= d
                break
    return lengths


def pan_of(rng, motion):
    """A group's pan (VX, VY pixels a frame) for its kind of motion."""
    if motion == "vertical":
        return 0.0, rng.choice([-1, 1]) * rng.uniform(0.8, 2.5)
    speed = {"slow": rng.uniform(0.7, 1.0), "normal": rng.uniform(1.5, 2.6), "fast": rng.uniform(2.8, 4.0)}[motion]
    angle = rng.uniform(0, 2 * math.pi)
    return speed * math.cos(angle), 0.5 * speed * math.sin(angle)


def clip_list(seed=DEFAULT_SEED, quick=False):
    """The corpus: per tier, each hardship in fixed proportions over its clips
    and stretches, the combinations drawn from the seed; then the clean set.
    --quick keeps the quick tier and the clean set."""
    rng = random.Random(seed)
    clips = []
    number = 0
    for tier in TIERS:
        n = len(tier["stretches"])
        codecs = spread(rng, tier["codecs"], n)
        chromas = spread(rng, tier["chromas"], n)
        grains = spread(rng, tier["grains"], n)
        kind_seqs = deal_kinds(rng, tier)
        rng.shuffle(kind_seqs)
        # The longer clips get the more stretches, so that no stretch is
        # pressed against the 400-frame cap.
        by_count = sorted(range(n), key=lambda i: (len(kind_seqs[i]), rng.random()))
        targets = [0] * n
        for i, t in zip(by_count, sorted(tier["targets"])):
            targets[i] = t
        fw = int(tier["size"].split("x")[0])
        # Per tier, in fixed proportions over its stretches and groups.
        joins = Deck(rng, ["cut", "same"])
        motions = Deck(rng, ["normal", "normal", "slow", "fast", "vertical"])
        softs = Deck(rng, ["0.6", "0.6", "0.8", "1.0", "0.6,1.2"])
        inner_cuts = Deck(rng, [1, 0, 0])
        widths = Deck(rng, [40, 48, 56, 64, 80, 96, 128, 160, 200, 256, 320, 400])
        shifts = Deck(rng, [3, 4, 5, 6, 8, 11, 13, 16, 20, 24, 26, 32, 40, 48, 64, 90])
        places = Deck(rng, ["left", "right", "middle", "middle", "middle"])
        band_motions = Deck(rng, ["pair", "late"])
        band_scenes = Deck(rng, ["other", "same"])
        tffs = Deck(rng, [0, 1])
        lates = Deck(rng, ["bottom", "top", "alternate", "random"])
        pictures = Deck(rng, PICTURES)
        colour = Deck(rng, COLOUR)
        titles_left = list(tier["credits"])  # credits rolls still to place, by kind
        still_title_left = 1                 # a still picture, once per tier
        for c in range(n):
            number += 1
            codec, param = codecs[c]
            chroma, grain, target = chromas[c], grains[c], targets[c]
            kinds = kind_seqs[c]
            lengths = stretch_lengths(rng, kinds, target)
            stretches = []
            start = 0
            for kind, length in zip(kinds, lengths):
                stretches.append({"kind": kind, "start": start, "frames": length})
                start += length
            total = start
            # Titles: a roll of credits in place of a progressive (or
            # interlaced) stretch, a still picture in place of a still one.
            for s in stretches:
                if s["kind"] in titles_left and s["kind"] in ("progressive", "interlaced"):
                    titles_left.remove(s["kind"])
                    s["title"] = "credits"
                elif s["kind"] == "still" and still_title_left:
                    still_title_left -= 1
                    s["title"] = "still-picture"
            # Groups: a join without a scene cut carries the picture on,
            # except into or out of a title.
            groups = []
            for i, s in enumerate(stretches):
                same = i > 0 and joins.draw() == "same" and not s.get("title") and \
                    not stretches[i - 1].get("title")
                if i:
                    s["join"] = "same" if same else "cut"
                if same:
                    groups[-1]["stretches"].append(i)
                else:
                    groups.append({"stretches": [i]})
            for g in groups:
                first = stretches[g["stretches"][0]]
                length = sum(stretches[j]["frames"] for j in g["stretches"])
                if first.get("title") == "credits":
                    motion, pan, picture = "credits", (0.0, rng.uniform(0.8, 2.0)), "credits"
                elif first.get("title") == "still-picture":
                    motion, pan, picture = "still", (0.0, 0.0), rng.choice(["credits"] + PHOTOS)
                else:
                    motion = motions.draw()
                    # True interlacing needs motion across to show: at a
                    # quarter pixel a field nothing tells it from progressive.
                    if motion in ("slow", "vertical") and \
                            any(stretches[j]["kind"] == "interlaced" for j in g["stretches"]):
                        motion = "normal"
                    pan = pan_of(rng, motion)
                    # The group's path stays within about 1300 pixels, so that
                    # the picture is not enlarged much beyond what bench/corpus.py's
                    # clips need.
                    speed = max(abs(pan[0]), 2 * abs(pan[1]))
                    if speed * length > 1300:
                        f = 1300 / (speed * length)
                        pan = (pan[0] * f, pan[1] * f)
                    picture = colour.draw() if chroma == "422" else pictures.draw()
                g.update(motion=motion, pan=pan, picture=picture,
                         soft=softs.draw() if motion not in ("credits", "still") else "0.6",
                         seed=rng.randrange(1, 1 << 30), zoom=0.0)
            for g in groups:
                g["start"] = stretches[g["stretches"][0]]["start"]
                g["frames"] = sum(stretches[j]["frames"] for j in g["stretches"])
                # The group's own frame numbers keep the clip's parity.
                g["pad"] = g["start"] % 2
                g["cuts"], g["still"], g["black"] = [], [], []
                if g["motion"] in ("normal", "fast") and rng.random() < 0.15:
                    g["zoom"] = 0.001
                for j in g["stretches"]:
                    s = stretches[j]
                    s["group"] = groups.index(g)
                    a = s["start"] - g["start"] + g["pad"]
                    b = a + s["frames"] - 1
                    if s["kind"] == "black":
                        g["black"].append([a, b])
                    elif s["kind"] == "still" and s.get("title") != "still-picture":
                        g["still"].append([a, b])
                    elif s["kind"] in ("progressive", "pulldown", "interlaced", "match", "window") and \
                            not s.get("title") and g["motion"] != "vertical" and s["frames"] >= 150 and \
                            inner_cuts.draw():
                        # A scene cut inside the stretch, 40 frames or more from its ends.
                        at = rng.randrange(a + 40, b - 40)
                        if s["kind"] == "interlaced" and rng.random() < 0.5:
                            at += 0.5
                        g["cuts"].append(at)
                        s["inner_cut"] = s["start"] + (at - a)
                if g["cuts"] and g["picture"] != "credits" and rng.random() < 0.5:
                    g["picture2"] = rng.choice([p for p in COLOUR if p != g["picture"]])
            # Each stretch's own settings.
            prev = None
            for s in stretches:
                k = s["kind"]
                g = groups[s["group"]]
                if k in ("match", "window"):
                    s["late"] = lates.draw()
                    if s["late"] == "alternate":
                        s["late_period"] = rng.randrange(20, 61)
                if k == "window":
                    while True:
                        width = widths.draw()
                        if fw > 720 and width > 64:
                            width = int(width * rng.uniform(1, fw / 720))
                        width = min(width, fw - 32)
                        place = places.draw()
                        left = {"left": 0, "right": fw - width, "middle": rng.randrange(16, fw - width - 16)}[place]
                        shift, tff = shifts.draw(), tffs.draw()
                        if prev is None or prev["kind"] != "window" or \
                                (abs(prev["left"] - left) > 24 or abs(prev["width"] - width) > 24 or
                                 abs(prev["shift"] - shift) > 4):
                            break
                    s.update(left=left, width=width, shift=shift, band_tff=tff, band_motion=band_motions.draw(),
                             band_scene=band_scenes.draw())
                    if s["band_scene"] == "other":
                        if g["motion"] == "vertical":
                            s["band_pan"] = (0.0, rng.choice([-1, 1]) * rng.uniform(0.8, 2.5))
                        else:
                            bs, ba = rng.uniform(0.5, 3), rng.uniform(0, 2 * math.pi)
                            s["band_pan"] = (bs * math.cos(ba), 0.5 * bs * math.sin(ba))
                prev = s
            codec_param = param
            if codec == "mpeg2" and chroma == "422":
                codec_param = min(round(param * 1.5, 1), 30)
            name = "%02d-%s-%s-%s-g%g-%dx-%df" % (
                number, {"720x480": "sd", "1920x1080": "hd"}[tier["size"]],
                {"none": "ffv1", "mpeg2": "mpeg2-%gM" % codec_param, "h264": "h264-crf%d" % param}[codec],
                chroma, grain, len(stretches), total)
            clips.append({"name": name, "tier": tier["tier"], "size": tier["size"], "chroma": chroma,
                          "grain": grain, "codec": codec, "param": codec_param, "frames": total,
                          "stretches": stretches, "groups": groups})
    for c in clips:
        finish_clip(c)
    clips += clean_list(rng)
    if quick:
        clips = [c for c in clips if c["tier"] in ("quick", "clean")]
    return clips


def finish_clip(c):
    """Every stretch's pelta_make_clip options, its truth settings and its
    tags; the clip's tags."""
    c["tags"] = [t for t, on in (("grain", c["grain"] >= 1), ("mpeg2", c["codec"] == "mpeg2"),
                                 ("h264", c["codec"] == "h264"), ("lossless", c["codec"] == "none"),
                                 ("422", c["chroma"] == "422"), ("1080", c["size"] == "1920x1080")) if on]
    stretches, groups = c["stretches"], c["groups"]
    for i, s in enumerate(stretches):
        g = groups[s["group"]]
        k = s["kind"]
        make_kind = {"still": "progressive", "black": "progressive"}.get(k, k)
        a = s["start"] - g["start"] + g["pad"]
        args = ["--kind", make_kind, "--size", c["size"], "--frames", str(g["pad"] + g["frames"]),
                "--part", "%d,%d" % (a, s["frames"]), "--seed", str(g["seed"]),
                "--pan", "%.4f,%.4f" % tuple(g["pan"]), "--soft", g["soft"],
                "--chroma", {"420": "420i", "422": "422"}[c["chroma"]],
                "--fit", "mirror" if g["picture"] in TEXTURES else "scale"]
        if c["grain"]:
            args += ["--grain", "%g" % c["grain"]]
        if g["zoom"]:
            args += ["--zoom", "%g" % g["zoom"]]
        if g["cuts"]:
            args += ["--cut", ",".join("%g" % x for x in g["cuts"])]
        for r in g["still"]:
            args += ["--still", "%d,%d" % tuple(r)]
        if s.get("title") == "still-picture":
            args += ["--still", "0,%d" % (g["pad"] + g["frames"] - 1)]
        for r in g["black"]:
            args += ["--black", "%d,%d" % tuple(r)]
        if k in ("match", "window"):
            args += ["--late", s["late"]]
            if "late_period" in s:
                args += ["--late-period", str(s["late_period"])]
        if k == "window":
            args += ["--band", "%d,%d" % (s["left"], s["width"]), "--shift", str(s["shift"]),
                     "--tff", str(s["band_tff"]), "--band-motion", s["band_motion"], "--band-scene", s["band_scene"]]
            if "band_pan" in s:
                args += ["--band-pan", "%.4f,%.4f" % tuple(s["band_pan"])]
        s["pictures"] = [g["picture"]] + ([g["picture2"]] if g.get("picture2") else [])
        s["make_clip"] = args
        # The truth: a late band needs its TFF; field matching and a pair
        # band hold both (the check may find that one restores clearly more).
        s["tff"] = s["band_tff"] if k == "window" and s["band_motion"] == "late" else None
        if k != "window":
            s["left"] = s["width"] = s["shift"] = 0
        tags = []
        if g["motion"] == "vertical" or g["motion"] == "credits":
            tags.append("vertical")
        if g["motion"] != "still" and k != "black" and max(abs(g["pan"][0]), abs(g["pan"][1])) <= 1:
            tags.append("slow")
        if "inner_cut" in s:
            tags.append("cut")
        if s["start"] % 2:
            tags.append("oddstart")
        if s.get("join") == "same":
            tags.append("samescene-join")
        elif s.get("join") == "cut":
            tags.append("cut-join")
        if s.get("title"):
            tags.append("title")
        if s["frames"] <= 90:
            tags.append("short")
        if k in ("match", "window"):
            tags.append("late-" + s["late"])
        if k == "window":
            if s["width"] <= 64:
                tags.append("narrow")
            if s["shift"] <= 5:
                tags.append("smallshift")
            tags.append("lateband" if s["band_motion"] == "late" else "pairband")
            if s["band_scene"] == "same":
                tags.append("samescene")
            if (i and stretches[i - 1]["kind"] == "window") or \
                    (i + 1 < len(stretches) and stretches[i + 1]["kind"] == "window"):
                tags.append("window-window")
        s["tags"] = tags
    c["changes"] = [s["start"] for p, s in zip(stretches, stretches[1:]) if is_change(p, s)]


def clean_list(rng):
    """The clean progressive set: ffmpeg's testsrc2 (5 s, 720x480), a pan over
    a photograph without and with grain, and progressive MPEG-2 and H.264
    round trips of each. One progressive stretch each."""
    clips = []
    pan = (2.2, 0.6)
    sources = [("testsrc2", None, 0), ("pan", "coffee", 0), ("pan-grain", "astronaut", 2)]
    for i, (what, picture, grain) in enumerate(sources):
        for codec, param in (("none", 0), ("mpeg2", 6), ("h264", 24)):
            name = "c%d-%s-%s" % (len(clips) + 1, what, {"none": "ffv1", "mpeg2": "mpeg2p-6M", "h264": "h264p-crf24"}[codec])
            stretch = {"kind": "progressive", "start": 0, "frames": 150, "tff": None, "left": 0, "width": 0,
                       "shift": 0, "tags": [], "group": 0}
            if picture:
                stretch["make_clip"] = ["--kind", "progressive", "--size", "720x480", "--frames", "150",
                                        "--seed", str(11 + i), "--pan", "%g,%g" % pan, "--soft", "0.6",
                                        "--chroma", "420"] + (["--grain", "%g" % grain] if grain else [])
                stretch["pictures"] = [picture]
            clips.append({"name": name, "tier": "clean", "size": "720x480", "chroma": "420", "grain": grain,
                          "codec": codec, "param": param, "frames": 150, "stretches": [stretch],
                          "groups": [], "source": what, "tags": ["clean-set"], "changes": [],
                          "progressive_codec": True})
    return clips


def same_settings(a, b, tolerant=False):
    """Whether two stretches (or a stretch and a segment) are of one kind
    with the same settings. Tolerant (judging the analysis against the
    truth, b the truth): window edges within 8 px, shift within 2; TFF only
    where b has one."""
    if a["kind"] != b["kind"]:
        return False
    if a["kind"] == "window":
        if tolerant:
            if abs(a["left"] - b["left"]) > 8 or abs(a["left"] + a["width"] - b["left"] - b["width"]) > 8 or \
                    abs(a["shift"] - b["shift"]) > 2:
                return False
        elif (a["left"], a["width"], a["shift"]) != (b["left"], b["width"], b["shift"]):
            return False
    if a["kind"] in PELTA_KINDS and b.get("tff") is not None and a.get("tff") is not None and a["tff"] != b["tff"]:
        return False
    if tolerant and a["kind"] in PELTA_KINDS and b.get("tff") is not None and a.get("tff") is None:
        return False
    return True


def is_change(a, b):
    """A join is a change of kind or of settings."""
    return not same_settings(a, b)


def cmd_list(a):
    for c in clip_list(a.seed, a.quick):
        if a.names:
            print(c["name"])
        else:
            print(json.dumps(c, sort_keys=True))


def find_clip(name, seed):
    for c in clip_list(seed):
        if c["name"] == name:
            return c
    sys.exit("long_corpus.py: no clip %s in the list of seed %d" % (name, seed))


# ---- Files, Y4M and the combing measure


def ff(*args):
    return ["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y"] + list(args)


def stored_name(c):
    return c["name"] + {"none": ".mkv", "mpeg2": ".mpg", "h264": ".mp4"}[c["codec"]]


def decode_cmd(path):
    """ffmpeg decoding a stored clip to Y4M on standard output, every frame
    as it is (no conversion of the chroma, no frames dropped or repeated)."""
    return ff("-i", path, "-fps_mode", "passthrough", "-f", "yuv4mpegpipe", "-")


class Y4M:
    """A Y4M stream read frame by frame (8-bit, any chroma)."""

    def __init__(self, f):
        self.f = f
        self.header = f.readline()
        if not self.header.startswith(b"YUV4MPEG2 "):
            raise ValueError("not a Y4M stream")
        tags = {t[:1].decode(): t[1:].decode() for t in self.header.split()[1:]}
        self.w, self.h = int(tags["W"]), int(tags["H"])
        self.chroma = tags.get("C", "420jpeg")
        base = "mono" if self.chroma.startswith("mono") else self.chroma[:3]
        if re.search(r"p\d+$", self.chroma) or (base == "mono" and self.chroma != "mono"):
            raise ValueError("only 8-bit Y4M is read here, not C%s" % self.chroma)
        cw, ch = {"444": (self.w, self.h), "422": ((self.w + 1) // 2, self.h),
                  "420": ((self.w + 1) // 2, (self.h + 1) // 2), "mono": (0, 0)}[base]
        self.size = self.w * self.h + 2 * cw * ch

    def frames(self):
        while True:
            line = self.f.readline()
            if not line:
                return
            if not line.startswith(b"FRAME"):
                raise ValueError("a Y4M frame does not start with FRAME")
            data = self.f.read(self.size)
            if len(data) < self.size:
                return
            yield data


def payload_md5(f):
    """The MD5 of a Y4M stream's frames (every byte after the header line):
    the same for the same pictures, whatever the header's extra tags."""
    f.readline()
    h = hashlib.md5()
    while True:
        b = f.read(1 << 22)
        if not b:
            return h.hexdigest()
        h.update(b)


def frame_columns(data, w, h):
    """Per column of one frame's luma: the comb energy across the fields
    (second differences of rows y-1, y, y+1) and the same within one field
    (y-2, y, y+2), summed down the column (bench/corpus.py's measure)."""
    import numpy as np
    y = np.frombuffer(data, dtype=np.uint8, count=w * h).reshape(h, w).astype(np.float32)
    c = y[1:-3] - 2 * y[2:-2] + y[3:-1]
    d = y[0:-4] - 2 * y[2:-2] + y[4:]
    return (c * c).sum(axis=0, dtype=np.float64), (d * d).sum(axis=0, dtype=np.float64)


def region_combing(C, D, f0, f1, left, right, only=None):
    """The combing of frames f0..f1-1: per frame the ratio of the two
    energies in columns [left, right) (the band) and in the rest; their
    median over the frames ("band", "rest"; one frame whose band shows
    almost no detail within its fields can raise the mean tenfold), their
    mean (bench/corpus.py's figure), and how many frames measure 1 or more
    (visibly combed) in either. `only`: the frames of f0..f1-1 to count
    (booleans), all without it."""
    import numpy as np
    if only is not None:
        keep = np.flatnonzero(np.asarray(only, dtype=bool)) + f0
        C, D, f0, f1 = C[keep], D[keep], 0, len(keep)
    if f1 <= f0:
        return {"band": None, "rest": None, "band_mean": None, "rest_mean": None, "visible_frames": 0, "frames": 0}
    ct, dt = C[f0:f1].sum(axis=1), D[f0:f1].sum(axis=1)
    if right > left:
        cb, db = C[f0:f1, left:right].sum(axis=1), D[f0:f1, left:right].sum(axis=1)
    else:
        cb = db = np.zeros(f1 - f0)
    cr, dr = ct - cb, dt - db
    rb = np.where(db > 0, cb / np.maximum(db, 1e-12), 0.0)
    rr = np.where(dr > 0, cr / np.maximum(dr, 1e-12), 0.0)
    visible = (rr >= 1) | ((rb >= 1) & (right > left))
    band = right > left
    return {"band": round(float(np.median(rb)), 3) if band else None, "rest": round(float(np.median(rr)), 3),
            "band_mean": round(float(rb.mean()), 3) if band else None, "rest_mean": round(float(rr.mean()), 3),
            "visible_frames": int(visible.sum()), "frames": f1 - f0}


def ranges_of(frames):
    """[[a, b], ...] runs of consecutive frame numbers."""
    out = []
    for f in frames:
        if out and f == out[-1][1] + 1:
            out[-1][1] = f
        else:
            out.append([f, f])
    return out


def measure_stream(out_stream, input_path, wanted=None, inputs=None):
    """Reads a Y4M output stream and the input file in step: per frame,
    whether its bytes differ from the input's, and its column energies
    (only where wanted(frame number, changed) says so; zeros elsewhere).
    Returns (C, D, changed, frames read, header). With a list `inputs`, the
    input frames' energies where the output's differ go there as (frame
    number, c, d)."""
    import numpy as np
    rows_c, rows_d, changed = [], [], []
    zeros = None
    out = Y4M(out_stream)
    with open(input_path, "rb") as fi:
        inp = Y4M(fi)
        if (out.w, out.h, out.size) != (inp.w, inp.h, inp.size):
            raise ValueError("the output's frames are not the input's size")
        src = inp.frames()
        for data in out.frames():
            ref = next(src, None)
            changed.append(ref is None or ref != data)
            if inputs is not None and changed[-1] and ref is not None:
                inputs.append((len(changed) - 1,) + frame_columns(ref, out.w, out.h))
            if wanted is None or wanted(len(changed) - 1, changed[-1]):
                c, d = frame_columns(data, out.w, out.h)
            else:
                if zeros is None:
                    zeros = np.zeros(out.w)
                c = d = zeros
            rows_c.append(c)
            rows_d.append(d)
    w = out.w
    C = np.array(rows_c) if rows_c else np.zeros((0, w))
    D = np.array(rows_d) if rows_d else np.zeros((0, w))
    return C, D, changed, len(changed), out.header.decode(errors="replace").strip()


def file_columns(path):
    import numpy as np
    rows_c, rows_d = [], []
    with open(path, "rb") as f:
        y = Y4M(f)
        for data in y.frames():
            c, d = frame_columns(data, y.w, y.h)
            rows_c.append(c)
            rows_d.append(d)
    return np.array(rows_c), np.array(rows_d)


def y4m_frame_count(path):
    with open(path, "rb") as f:
        y = Y4M(f)
        header = len(y.header)
    size = os.path.getsize(path) - header
    return size // (y.size + 6), y.size + 6


def stretch_region(s):
    return (s["left"], s["left"] + s["width"]) if s["kind"] == "window" else (0, 0)


# ---- The truth checked on the clip


def same_moment(a, b):
    """Two fields show one moment: the same scene group and source time
    (a black field has none, and matches only black)."""
    (ga, ta), (gb, tb) = a, b
    if ta is None or tb is None:
        return ta is None and tb is None
    return ga == gb and abs(ta - tb) < 1e-6


def mismatched_frames(truth, log, tff, stretch):
    """From the filter's own log (frame, match: the weave it chose), the
    frames of a stretch whose output puts fields of two moments together:
    outside the window the chosen weave of frames m-1 and m (rows of parity
    (tff ^ m) & 1 from m-1), inside it the weave of the frame pair (2k, 2k+1)
    (a pair half in another stretch never shows one moment)."""
    times, band = truth["field_times"], truth["band_field_times"]
    group, owner = truth["frame_group"], truth["frame_stretch"]
    n = len(times)
    f0, f1 = stretch["start"], stretch["start"] + stretch["frames"]
    out = []
    for f, m in log:
        if not f0 <= f < f1 or m is None:
            continue
        p = (tff ^ m) & 1
        bad = m < 1 or m >= n or not same_moment((group[m - 1], times[m - 1][p]), (group[m], times[m][1 - p]))
        if stretch["kind"] == "window":
            k0, k1 = 2 * (f // 2), min(2 * (f // 2) + 1, n - 1)
            even, odd = (k0, k1) if tff else (k1, k0)
            be, bo = band[even], band[odd]
            bad = bad or be is None or bo is None or \
                not same_moment((owner[even], be[0]), (owner[odd], bo[1]))
        if bad:
            out.append(f)
    return out


def plan_of(truth, tff_of):
    """A plan (the JSON pelta --plan reads) of the truth's stretches, the
    stretches of pelta's kinds with the TFF tff_of(stretch), low-pass off."""
    segs = []
    for s in truth["stretches"]:
        segs.append({"start": s["start"], "frames": s["frames"], "kind": s["kind"],
                     "tff": tff_of(s) if s["kind"] in PELTA_KINDS else 1,
                     "left": s["left"], "width": s["width"], "shift": s["shift"], "lpf": 0})
    return {"frame_width": truth["frame_width"], "frame_height": truth["frame_height"], "segments": segs}


def read_log(path):
    rows = []
    with open(path) as f:
        next(f)
        for line in f:
            r = line.rstrip("\n").split(",")
            if len(r) >= 2 and r[0]:
                rows.append((int(r[0]), int(r[1]) if r[1] else None))
    return rows


def plan_done(status, clip, check):
    """A --plan run of the truth's settings: status 3 (a segment came out
    more combed than it went in) still writes every frame, and is a doubt
    about the truth rather than a failure; any other non-zero is one."""
    if status == 3:
        msg = "pelta --plan: a segment came out more combed than it went in"
        if msg not in check["doubts"]:
            check["doubts"].append(msg)
    elif status != 0:
        raise RuntimeError("pelta --plan failed on %s (status %d)" % (clip, status))


def check_truth(truth, clip, pelta):
    """Measures the truth on the clip (a Y4M file): the combing of the input
    per stretch; pelta --plan with the true settings and --lpf 0, under both
    TFF settings, and from its log the frames of each stretch of pelta's kinds whose weave puts
    fields of two moments together; that the other stretches pass through
    byte for byte. Where the truth leaves the TFF open and one setting
    clearly restores more (the other leaves a tenth of the frames or more
    mismatched, three times as many), that one becomes the truth."""
    n_frames, _ = y4m_frame_count(clip)
    check = {"frames_decoded": n_frames, "doubts": []}
    if n_frames != truth["frames"]:
        check["doubts"].append("the clip holds %d frames, the truth %d" % (n_frames, truth["frames"]))
    C, D = file_columns(clip)
    runs = {}
    in_pelta = [False] * truth["frames"]
    for s in truth["stretches"]:
        if s["kind"] in PELTA_KINDS:
            in_pelta[s["start"]:s["start"] + s["frames"]] = [True] * s["frames"]
    wanted = lambda f, changed: f < len(in_pelta) and in_pelta[f]
    with tempfile.TemporaryDirectory() as tmp:
        # (Without a stretch of pelta's kinds there is nothing to filter.)
        for t in ((0, 1) if any(in_pelta) else ()):
            plan = os.path.join(tmp, "plan.json")
            log = os.path.join(tmp, "log.csv")
            with open(plan, "w") as f:
                json.dump(plan_of(truth, lambda s, t=t: t), f)
            p = subprocess.Popen([pelta, "--quiet", "--lpf", "0", "--plan", plan, "--log", log, clip, "-"],
                                 stdout=subprocess.PIPE)
            OC, OD, changed, got, _ = measure_stream(p.stdout, clip, wanted)
            p.stdout.close()
            plan_done(p.wait(), clip, check)
            runs[t] = (OC, OD, changed, read_log(log))
        # Field matching alone in the window stretches (--width 0, their
        # own TFF or 1): where it leaves the band barely combed, the band
        # hardly shows.
        in_window = [False] * truth["frames"]
        for s in truth["stretches"]:
            if s["kind"] == "window":
                in_window[s["start"]:s["start"] + s["frames"]] = [True] * s["frames"]
        alone = None
        if any(in_window):
            plan = os.path.join(tmp, "alone.json")
            with open(plan, "w") as f:
                pl = plan_of(truth, lambda s: 1 if s["tff"] is None else s["tff"])
                for g in pl["segments"]:
                    if g["kind"] == "window":
                        g.update(kind="match", left=0, width=0, shift=0)
                json.dump(pl, f)
            p = subprocess.Popen([pelta, "--quiet", "--lpf", "0", "--plan", plan, clip, "-"], stdout=subprocess.PIPE)
            alone = measure_stream(p.stdout, clip, lambda f, changed: f < len(in_window) and in_window[f])
            p.stdout.close()
            plan_done(p.wait(), clip, check)
    per = []
    for s in truth["stretches"]:
        f0, f1 = s["start"], s["start"] + s["frames"]
        left, right = stretch_region(s)
        sc = {"input": region_combing(C, D, f0, f1, left, right)}
        doubts = []
        if s["kind"] in PELTA_KINDS:
            bad = {}
            for t, (OC, OD, changed, log) in runs.items():
                bad[t] = mismatched_frames(truth, log, t, s)
                sc["tff%d" % t] = dict(region_combing(OC, OD, f0, f1, left, right), mismatched_frames=len(bad[t]),
                                       first_mismatched=bad[t][:8])
            b0, b1 = len(bad[0]), len(bad[1])
            if s.get("tff_scope") == "measured":
                s["tff"], s["tff_scope"] = None, None
            worse, better = max(b0, b1), min(b0, b1)
            if s["tff"] is None and worse >= max(3, s["frames"] / 10) and better * 3 <= worse:
                s["tff"] = 0 if b0 < b1 else 1
                s["tff_scope"] = "measured"
            if s["tff"] is not None and s.get("tff_scope") == "all" and len(bad[s["tff"]]) >= len(bad[1 - s["tff"]]):
                doubts.append("TFF %d does not restore more frames than %d" % (s["tff"], 1 - s["tff"]))
            t = s["tff"] if s["tff"] is not None else (0 if b0 <= b1 else 1)
            sc["true_tff"] = t
            if s["kind"] == "window" and alone is not None:
                sc["matching_alone"] = region_combing(alone[0], alone[1], f0, f1, left, right)
                faint = sc["matching_alone"]["band"] < 1
                if faint and "faintband" not in s["tags"]:
                    s["tags"].append("faintband")
                elif not faint and "faintband" in s["tags"]:
                    s["tags"].remove("faintband")
            sc["true"] = sc["tff%d" % t]
            if len(bad[t]) > s["frames"] // 10:
                doubts.append("the true settings leave %d of %d frames mismatched" % (len(bad[t]), s["frames"]))
        else:
            for t, (OC, OD, changed, log) in runs.items():
                moved = sum(changed[f0:f1])
                if moved:
                    doubts.append("the true plan (tff %d) changed %d frames that it passes through" % (t, moved))
            sc["true"] = sc["input"]
        sc["doubts"] = doubts
        check["doubts"] += ["stretch %d..%d (%s): %s" % (s["start"], s["start"] + s["frames"] - 1, s["kind"], d)
                            for d in doubts]
        per.append(sc)
    check["stretches"] = per
    return check


# ---- Making a clip


def stretch_truth(c, i, part):
    """The joined clip's field times of stretch i from its part's truth: the
    group's times shifted to the clip's frame numbers."""
    s = c["stretches"][i]
    if part is None:  # a clip not made by pelta_make_clip (testsrc2): one moment a frame
        return [[float(s["start"] + k)] * 2 for k in range(s["frames"])], None
    g = c["groups"][s["group"]] if c["groups"] else {"start": 0, "pad": 0}
    offset = g["start"] - g["pad"]
    shift = lambda x: None if x is None else x + offset
    times = [[shift(t) for t in ft] for ft in part["field_times"]]
    band = [[shift(t) for t in ft] for ft in part["band_field_times"]] if part.get("band_field_times") else None
    if len(times) != s["frames"]:
        raise RuntimeError("stretch %d: pelta_make_clip gave %d frames' times for %d" % (i, len(times), s["frames"]))
    return times, band


def assemble_truth(c, parts, seed):
    """The truth of a clip: its stretches with their settings, the joins,
    the per-frame field times, the recipe."""
    fw, fh = map(int, c["size"].split("x"))
    stretches, field_times, band_times, frame_group, frame_stretch = [], [], [], [], []
    for i, s in enumerate(c["stretches"]):
        times, band = stretch_truth(c, i, parts[i])
        field_times += times
        band_times += band if band is not None and s["kind"] == "window" else [None] * s["frames"]
        frame_group += [s["group"]] * s["frames"]
        frame_stretch += [i] * s["frames"]
        st = {k: s[k] for k in ("start", "frames", "kind", "tff", "left", "width", "shift", "tags")}
        st["tff_scope"] = "all" if s["tff"] is not None else None
        for k in ("title", "join", "late", "late_period", "band_motion", "band_scene", "band_tff", "band_pan",
                  "inner_cut", "group", "pictures"):
            if k in s:
                st[k] = s[k]
        st["make_clip"] = "pelta_make_clip " + " ".join(s.get("make_clip", [])) + \
            "".join(" --picture%s %s.ppm" % ("2" if j else "", p) for j, p in enumerate(s.get("pictures", [])))
        stretches.append(st)
    joins = []
    for p, s in zip(c["stretches"], c["stretches"][1:]):
        joins.append({"frame": s["start"], "cut": s.get("join") != "same", "change": is_change(p, s),
                      "from": p["kind"], "to": s["kind"]})
    return {"name": c["name"], "seed": seed, "tier": c["tier"], "size": c["size"], "frame_width": fw,
            "frame_height": fh, "chroma": c["chroma"], "grain": c["grain"], "codec": c["codec"],
            "codec_param": c["param"], "stored": stored_name(c), "frames": c["frames"], "tags": c["tags"],
            "stretches": stretches, "joins": joins, "changes": c["changes"],
            "inner_cuts": [s["inner_cut"] for s in c["stretches"] if "inner_cut" in s],
            "groups": [{k: g[k] for k in ("start", "frames", "pad", "motion", "pan", "picture", "soft", "seed",
                                          "zoom", "cuts", "still", "black") if k in g} for g in c["groups"]],
            "field_times": field_times, "band_field_times": band_times, "frame_group": frame_group,
            "frame_stretch": frame_stretch, "recipe_md5": recipe_md5(c)}


def recipe_md5(c):
    """The fingerprint of a clip's entry in the list: a clip made from
    another entry is made again."""
    return hashlib.md5(json.dumps(c, sort_keys=True).encode()).hexdigest()


def encode_args(c):
    """ffmpeg's options for the clip's stored file, from a Y4M input."""
    pix = "yuv422p" if c["chroma"] == "422" else "yuv420p"
    interlaced = not c.get("progressive_codec")
    if c["codec"] == "none":
        return ["-c:v", "ffv1", "-level", "3", "-g", "1", "-slices", "4", "-slicecrc", "1"]
    if c["codec"] == "mpeg2":
        r = c["param"]
        maxrate = min(2 * r, 9.8) if r <= 10 else 1.5 * r
        args = ["-c:v", "mpeg2video", "-pix_fmt", pix, "-b:v", "%gM" % r, "-maxrate", "%gM" % maxrate,
                "-bufsize", "1835k" if r <= 10 else "9781k", "-g", "15", "-bf", "2"]
        return args + (["-flags", "+ildct+ilme", "-top", "1"] if interlaced else [])
    args = ["-c:v", "libx264", "-pix_fmt", pix, "-preset", "fast", "-crf", str(c["param"])]
    return args + (["-flags", "+ildct+ilme", "-x264-params", "interlaced=1:tff=1"] if interlaced else [])


def run(cmd, **kw):
    r = subprocess.run(cmd, **kw)
    if r.returncode != 0:
        raise RuntimeError("failed (status %d): %s" % (r.returncode, " ".join(cmd)))
    return r


def cmd_make(a):
    c = find_clip(a.name, a.seed)
    d = os.path.abspath(a.dir)
    truth_path = os.path.join(d, c["name"] + ".truth.json")
    stored = os.path.join(d, stored_name(c))
    if not a.force and os.path.exists(truth_path) and os.path.exists(stored):
        try:
            with open(truth_path) as f:
                old = json.load(f)
            if old.get("recipe_md5") == recipe_md5(c) and "check" in old:
                print("%-44s kept" % c["name"])
                return
        except ValueError:
            pass
    t0 = time.time()
    work = os.path.join(d, ".work-" + c["name"])
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    joined = os.path.join(work, "joined.y4m")
    parts = []
    recipe = []
    if c.get("source") == "testsrc2":
        cmd = ff("-f", "lavfi", "-i", "testsrc2=s=720x480:r=30000/1001:d=%g" % (c["frames"] / FPS),
                 "-frames:v", str(c["frames"]), "-pix_fmt", "yuv420p", "-f", "yuv4mpegpipe", joined)
        run(cmd)
        recipe.append(" ".join(cmd[6:-1]) + " joined.y4m")
        parts.append(None)
    else:
        with open(joined, "wb") as out:
            for i, s in enumerate(c["stretches"]):
                tj = os.path.join(work, "s%d.json" % i)
                cmd = [a.make_clip] + s["make_clip"]
                for j, p in enumerate(s["pictures"]):
                    cmd += ["--picture" + ("2" if j else ""), os.path.join(a.pictures, p + ".ppm")]
                p = subprocess.Popen(cmd + ["--truth", tj], stdout=subprocess.PIPE)
                header = p.stdout.readline()
                if i == 0:
                    out.write(header)
                shutil.copyfileobj(p.stdout, out, 1 << 22)
                p.stdout.close()
                if p.wait() != 0:
                    raise RuntimeError("pelta_make_clip failed (status %d) on stretch %d of %s" %
                                       (p.returncode, i, c["name"]))
                with open(tj) as f:
                    parts.append(json.load(f))
        recipe.append("{ " + "; ".join("pelta_make_clip ... (stretch %d)%s" % (i, "" if i == 0 else " | tail -n +2")
                                       for i in range(len(c["stretches"]))) + "; } > joined.y4m")
    truth = assemble_truth(c, parts, a.seed)
    steps = {"make": round(time.time() - t0, 1)}
    t1 = time.time()
    enc = encode_args(c)
    tmp_stored = stored + ".part" + os.path.splitext(stored)[1]
    run(ff("-f", "yuv4mpegpipe", "-i", joined) + enc + [tmp_stored])
    recipe.append("ffmpeg -i joined.y4m " + " ".join(enc) + " " + stored_name(c))
    recipe.append(" ".join(decode_cmd(stored_name(c))[6:]) + "   (decoding)")
    if c["codec"] == "none":
        # Lossless: decoding must give back the very frames encoded.
        with open(joined, "rb") as f:
            want = payload_md5(f)
        p = subprocess.Popen(decode_cmd(tmp_stored), stdout=subprocess.PIPE)
        got = payload_md5(p.stdout)
        p.wait()
        if got != want:
            raise RuntimeError("%s: the FFV1 file does not decode to the frames encoded" % c["name"])
        truth["lossless"] = {"frames_md5": want, "decoded_md5": got}
        checked = joined
    else:
        os.remove(joined)
        checked = os.path.join(work, "decoded.y4m")
        with open(checked, "wb") as f:
            run(decode_cmd(tmp_stored), stdout=f)
    steps["encode"] = round(time.time() - t1, 1)
    t1 = time.time()
    truth["recipe"] = recipe
    truth["check"] = check_truth(truth, checked, a.pelta)
    steps["check"] = round(time.time() - t1, 1)
    truth["seconds_to_make"] = round(time.time() - t0, 1)
    truth["seconds_by_step"] = steps
    os.replace(tmp_stored, stored)
    with open(truth_path + ".new", "w") as f:
        json.dump(truth, f)
    os.replace(truth_path + ".new", truth_path)
    shutil.rmtree(work, ignore_errors=True)
    print(check_line(truth))


def check_line(truth):
    ch = truth["check"]
    bits = []
    for s, sc in zip(truth["stretches"], ch["stretches"]):
        b = "%s%s" % (s["kind"][:3], "" if s["tff"] is None else s["tff"])
        if s["kind"] in PELTA_KINDS:
            b += "(%s->%s mism %d%s)" % (fmt_comb(sc["input"]), fmt_comb(sc["true"]),
                                         sc["tff%d" % sc["true_tff"]]["mismatched_frames"],
                                         ", matching alone %s" % fmt_comb(sc["matching_alone"])
                                         if "matching_alone" in sc else "")
        bits.append(b)
    steps = truth.get("seconds_by_step", {})
    line = "%-44s %5d frames %6.1f s (%s)  %s" % (truth["name"], truth["frames"], truth.get("seconds_to_make", 0),
                                                 " ".join("%s %g" % kv for kv in steps.items()), " ".join(bits))
    if ch["doubts"]:
        line += "  DOUBT: " + "; ".join(ch["doubts"])
    return line


def fmt_comb(c):
    if c is None or c.get("rest") is None:
        return "-"
    return ("%.2f/%.2f" % (c["band"], c["rest"])) if c.get("band") is not None else "%.2f" % c["rest"]


def cmd_recheck(a):
    d = os.path.abspath(a.dir)
    truth_path = os.path.join(d, a.name + ".truth.json")
    with open(truth_path) as f:
        truth = json.load(f)
    with tempfile.TemporaryDirectory(dir=d, prefix=".recheck-") as tmp:
        clip = os.path.join(tmp, "clip.y4m")
        with open(clip, "wb") as f:
            run(decode_cmd(os.path.join(d, truth["stored"])), stdout=f)
        truth["check"] = check_truth(truth, clip, a.pelta)
    with open(truth_path + ".new", "w") as f:
        json.dump(truth, f)
    os.replace(truth_path + ".new", truth_path)
    print(check_line(truth))


def cmd_stored(a):
    with open(os.path.join(a.dir, a.name + ".truth.json")) as f:
        print(os.path.join(os.path.abspath(a.dir), json.load(f)["stored"]))


def cmd_decode(a):
    with open(os.path.join(a.dir, a.name + ".truth.json")) as f:
        stored = os.path.join(a.dir, json.load(f)["stored"])
    sys.stdout.flush()
    os.execvp("ffmpeg", decode_cmd(stored))


def cmd_table(a):
    """The clips of a corpus directory as a Markdown table: frames,
    stretches (kind and length; / a join with a scene cut, + one without),
    the clip's hardships and its check."""
    names = open(os.path.join(a.dir, "clips.txt")).read().split()
    print("| clip | frames | stretches (`/` a cut at the join, `+` the picture carries on) | hardships of the clip | of its stretches | check |")
    print("|---|---|---|---|---|---|")
    short = {"progressive": "prog", "pulldown": "pull", "interlaced": "int", "match": "match", "window": "window",
             "still": "still", "black": "black"}
    for name in names:
        p = os.path.join(a.dir, name + ".truth.json")
        if not os.path.exists(p):
            continue
        with open(p) as f:
            t = json.load(f)
        parts = []
        tags = set()
        for s in t["stretches"]:
            d = short[s["kind"]]
            if s["kind"] == "window":
                d += " %d@%d s%d" % (s["width"], s["left"], s["shift"])
            if s.get("title"):
                d += " (%s)" % s["title"]
            d += " %d" % s["frames"]
            if s.get("join"):
                d = ("+ " if s["join"] == "same" else "/ ") + d
            parts.append(d)
            tags |= set(s["tags"]) - {"late-bottom", "late-top", "late-alternate", "late-random", "pairband",
                                      "cut-join", "samescene-join"}
        codec = {"none": "FFV1", "mpeg2": "MPEG-2 %gM" % t["codec_param"],
                 "h264": "H.264 CRF %s" % t["codec_param"]}[t["codec"]]
        if t.get("tier") == "clean":
            codec = {"none": "FFV1", "mpeg2": "MPEG-2 6M progressive", "h264": "H.264 CRF 24 progressive"}[t["codec"]]
        hard = [t["size"], t["chroma"].replace("420", "4:2:0").replace("422", "4:2:2"), codec]
        if t["grain"]:
            hard.append("grain %g" % t["grain"])
        ch = t.get("check", {})
        mism = [sc["tff%d" % sc["true_tff"]]["mismatched_frames"] for s, sc in zip(t["stretches"], ch.get("stretches", []))
                if s["kind"] in PELTA_KINDS]
        check = ("mismatched %s" % ",".join(map(str, mism)) if mism else "-") + \
            ("; %d doubts" % len(ch["doubts"]) if ch.get("doubts") else "")
        print("| %s | %d | %s | %s | %s | %s |" % (name, t["frames"], " ".join(parts), ", ".join(hard),
                                                  ", ".join(sorted(tags)) or "-", check))


def cmd_frame_size(a):
    print(y4m_frame_count(a.y4m)[1])



# ---- Measuring an output against the truth


def cmd_measure(a):
    """Per true stretch of the truth: how many frames of the output on
    standard input differ from the input's; the combing left in a stretch of
    pelta's kinds, and in the frames changed of the others (before and
    after)."""
    import numpy as np
    with open(a.truth) as f:
        truth = json.load(f)
    result = {"frames_out": 0, "stretches": []}
    in_pelta = [False] * truth["frames"]
    for s in truth["stretches"]:
        if s["kind"] in PELTA_KINDS:
            in_pelta[s["start"]:s["start"] + s["frames"]] = [True] * s["frames"]
    # The combing of frames that need nothing matters only where they changed.
    wanted = lambda f, changed: changed or (f < len(in_pelta) and in_pelta[f])
    inputs = []
    try:
        C, D, changed, n, header = measure_stream(sys.stdin.buffer, a.input, wanted, inputs)
    except (ValueError, StopIteration) as e:
        result["error"] = "no output to measure (%s)" % e
        print(json.dumps(result))
        return
    result["frames_out"] = n
    result["header"] = header
    for s in truth["stretches"]:
        f0, f1 = s["start"], min(s["start"] + s["frames"], n)
        left, right = stretch_region(s)
        moved = [f0 + k for k, c in enumerate(changed[f0:f1]) if c]
        r = {"changed": len(moved), "changed_ranges": ranges_of(moved)[:20],
             "comb": region_combing(C, D, f0, f1, left, right) if s["kind"] in PELTA_KINDS else None}
        if moved and s["kind"] not in PELTA_KINDS:
            # The frames it changed, before and after.
            only = [c for c in changed[f0:f1]]
            IC, ID = np.zeros_like(C), np.zeros_like(D)
            for f, c, d in inputs:
                IC[f], ID[f] = c, d
            r["changed_before"] = region_combing(IC, ID, f0, f1, left, right, only)
            r["changed_after"] = region_combing(C, D, f0, f1, left, right, only)
        result["stretches"].append(r)
    print(json.dumps(result))


# ---- Judging the analysis


MODES = ["file", "pipe", "short"]
AUTO_MODES = ["auto-file", "auto-pipe"]
BUCKETS = [(0, 0, "0"), (1, 1, "1"), (2, 2, "2"), (3, 3, "3"), (4, 5, "4-5"), (6, 10, "6-10"), (11, 30, "11-30"),
           (31, 10 ** 9, ">30")]


def read_text(path, limit=4000):
    try:
        with open(path, errors="replace") as f:
            return f.read(limit)
    except OSError:
        return None


def read_meta(path):
    """The runner's note of a run: its exit status and seconds."""
    t = read_text(path)
    if not t:
        return None, None
    bits = t.split()
    return int(bits[0]), float(bits[1]) if len(bits) > 1 else None


def cmd_judge(a):
    with open(a.truth) as f:
        truth = json.load(f)
    check = truth.get("check", {})
    stretches = []
    for s, sc in zip(truth["stretches"], check.get("stretches", [{}] * len(truth["stretches"]))):
        st = {k: s[k] for k in ("start", "frames", "kind", "tff", "left", "width", "shift", "tags") if k in s}
        st["before"] = sc.get("input")
        st["true"] = sc.get("true")
        st["doubts"] = sc.get("doubts", [])
        stretches.append(st)
    line = {"name": truth["name"], "seed": truth.get("seed"), "tier": truth.get("tier"), "frames": truth["frames"],
            "size": truth["size"], "tags": truth.get("tags", []), "stretches": stretches,
            "changes": truth.get("changes", []), "inner_cuts": truth.get("inner_cuts", []), "runs": {}}
    base = os.path.join(a.work, a.name)
    for mode in MODES:
        status, seconds = read_meta("%s.%s.meta" % (base, mode))
        if status is None:
            continue
        run = {"status": status, "seconds": seconds}
        try:
            with open("%s.%s.json" % (base, mode)) as f:
                got = json.load(f)
            run["segments"] = [{k: g.get(k) for k in ("start", "frames", "kind", "tff", "left", "width", "shift",
                                                       "lpf", "confidence")} for g in got.get("segments", [])]
            for k in ("kind", "confidence", "warnings", "frames", "span"):
                run[k] = got.get(k)
        except (OSError, ValueError) as e:
            run["error"] = "no analysis (%s): %s" % (e, (read_text("%s.%s.err" % (base, mode), 300) or "").strip())
        line["runs"][mode] = run
    for mode in AUTO_MODES:
        status, seconds = read_meta("%s.%s.meta" % (base, mode))
        if status is None:
            continue
        run = {"status": status, "seconds": seconds, "stderr": read_text("%s.%s.err" % (base, mode)) or ""}
        try:
            with open("%s.%s.measure.json" % (base, mode)) as f:
                run["measure"] = json.load(f)
        except (OSError, ValueError) as e:
            run["measure"] = {"error": "no measure (%s)" % e, "stretches": [], "frames_out": 0}
        line["runs"][mode] = run
    print(json.dumps(line))


def clip_truth(line, frames=None):
    """The clip's stretches and changes, cut to its first `frames` frames."""
    n = line["frames"] if frames is None else frames
    out = []
    for s in line["stretches"]:
        if s["start"] >= n:
            break
        t = dict(s)
        t["frames"] = min(s["frames"], n - s["start"])
        out.append(t)
    return out, [c for c in line["changes"] if c < n], n


def nearest(x, points):
    return min((abs(x - p) for p in points), default=None)


def why_not(seg, s):
    """What of a segment's kind and settings disagrees with a true stretch."""
    if seg["kind"] != s["kind"]:
        return ["kind %s" % seg["kind"]]
    why = []
    if s["kind"] == "window":
        if abs(seg["left"] - s["left"]) > 8:
            why.append("left %d" % seg["left"])
        if abs(seg["left"] + seg["width"] - s["left"] - s["width"]) > 8:
            why.append("right %d" % (seg["left"] + seg["width"]))
        if abs(seg["shift"] - s["shift"]) > 2:
            why.append("shift %d" % seg["shift"])
    if s["kind"] in PELTA_KINDS and s.get("tff") is not None and seg.get("tff") != s["tff"]:
        why.append("tff %s" % seg.get("tff"))
    return why


def overlap(a0, a1, b0, b1):
    return max(0, min(a1, b1) - max(a0, b0))


def judge_stretches(line, segs, frames=None):
    """Per true stretch of 60 frames or more: right when the segment covering
    most of it has its kind and settings and its ends that are changes of
    kind or settings are found within 2 frames."""
    stretches, changes, n = clip_truth(line, frames)
    bounds = [g["start"] for g in segs if g["start"] > 0]
    out = []
    for s in stretches:
        if s["frames"] < 60:
            continue
        s0, s1 = s["start"], s["start"] + s["frames"]
        best = max(segs, key=lambda g: overlap(s0, s1, g["start"], g["start"] + g["frames"]), default=None)
        why = []
        if best is None or overlap(s0, s1, best["start"], best["start"] + best["frames"]) == 0:
            why.append("no segment")
        else:
            why += why_not(best, s)
        for end, label in ((s0, "start"), (s1, "end")):
            if end in changes:
                d = nearest(end, bounds)
                if d is None or d > 2:
                    why.append("%s %s off" % (label, "none" if d is None else d))
        out.append({"stretch": s, "right": not why, "why": why,
                    "got": None if best is None else describe_seg(best)})
    return out


def judge_changes(line, segs, frames=None):
    """Every change of kind or settings: how far the nearest reported
    boundary is (None: no boundary at all)."""
    stretches, changes, n = clip_truth(line, frames)
    bounds = [g["start"] for g in segs if g["start"] > 0]
    kinds = {s["start"]: (p["kind"], s["kind"]) for p, s in zip(stretches, stretches[1:])}
    return [{"frame": c, "distance": nearest(c, bounds), "kinds": kinds.get(c)} for c in changes]


def judge_segments(line, segs, frames=None):
    """Each reported segment right or wrong: wrong when its kind or settings
    disagree with the truth over most of its frames, or an end lies more
    than 2 frames off a true change."""
    stretches, changes, n = clip_truth(line, frames)
    out = []
    for g in segs:
        g0, g1 = g["start"], min(g["start"] + g["frames"], n)
        agree = sum(overlap(g0, g1, s["start"], s["start"] + s["frames"]) for s in stretches
                    if not why_not(g, s))
        why = []
        if 2 * agree <= g1 - g0:
            why.append("disagrees over %d of %d frames" % (g1 - g0 - agree, g1 - g0))
        for end in (g0, g1):
            if 0 < end < n:
                d = nearest(end, changes)
                if d is None or d > 2:
                    why.append("end %d is %s from a change" % (end, "far" if d is None else "%d frames" % d))
        out.append({"segment": describe_seg(g), "confidence": g.get("confidence"), "right": not why, "why": why})
    return out


def describe_seg(g):
    s = "%d..%d %s" % (g["start"], g["start"] + g["frames"] - 1, g["kind"])
    if g["kind"] == "window":
        s += " %d..%d s%d" % (g["left"], g["left"] + g["width"] - 1, g["shift"])
    if g["kind"] in PELTA_KINDS:
        s += " tff%s" % g.get("tff")
    return s


def describe_stretch(s):
    d = "%d..%d %s" % (s["start"], s["start"] + s["frames"] - 1, s["kind"])
    if s["kind"] == "window":
        d += " %d..%d s%d" % (s["left"], s["left"] + s["width"] - 1, s["shift"])
    if s["kind"] in PELTA_KINDS:
        d += " tff%s" % ("-" if s.get("tff") is None else s["tff"])
    return d


def labels(segs, n):
    """Each frame's kind and settings (settings only where pelta filters)."""
    out = [None] * n
    for g in segs:
        lab = (g["kind"],) + ((g.get("tff"), g.get("left"), g.get("width"), g.get("shift"))
                              if g["kind"] in PELTA_KINDS else ())
        for f in range(max(0, g["start"]), min(n, g["start"] + g["frames"])):
            out[f] = lab
    return out


def agreement(a, b, n):
    """Whether two analyses of the same frames (0..n-1) give the same
    segments: as many, each of the same kind and settings, its start within
    2 frames of the other's. And the share of frames labelled alike."""
    def cut(segs):
        out = []
        for g in segs:
            if g["start"] >= n:
                break
            h = dict(g)
            h["frames"] = min(g["frames"], n - g["start"])
            out.append(h)
        return out
    a, b = cut(a), cut(b)
    why = []
    if len(a) != len(b):
        why.append("%d segments against %d" % (len(a), len(b)))
    else:
        for x, y in zip(a, b):
            if labels([x], x["start"] + x["frames"])[x["start"]] != labels([y], y["start"] + y["frames"])[y["start"]]:
                why.append("%s against %s" % (describe_seg(x), describe_seg(y)))
            elif abs(x["start"] - y["start"]) > 2:
                why.append("starts %d against %d" % (x["start"], y["start"]))
    la, lb = labels(a, n), labels(b, n)
    same = sum(1 for x, y in zip(la, lb) if x == y)
    return {"same": not why, "why": why[:4], "frames_alike": same, "frames": n}


def harm(line, run):
    """--auto's output per true stretch: frames that need nothing must come
    out as they went in; a stretch of pelta's kinds must not come out more
    combed than it went in: its median combing in the band or the rest up by
    more than 5% (at least 0.05), or more frames visibly combed (by more than
    2 and 5% of its frames)."""
    m = run.get("measure", {})
    out = []
    for s, ms in zip(line["stretches"], m.get("stretches", [])):
        r = {"stretch": describe_stretch(s), "kind": s["kind"], "changed": ms["changed"],
             "changed_ranges": ms.get("changed_ranges", []), "after": ms["comb"], "before": s.get("before"),
             "true": s.get("true"), "worse": False, "tags": s.get("tags", []), "frames": s["frames"]}
        if "changed_after" in ms:  # a stretch that needs nothing: the frames changed
            r["before"], r["after"], r["true"] = ms["changed_before"], ms["changed_after"], ms["changed_before"]
        if s["kind"] in PELTA_KINDS and s.get("before"):
            b, a = s["before"], ms["comb"]
            for k in ("band", "rest"):
                if b.get(k) is not None and a.get(k) is not None and a[k] > b[k] + max(0.05, 0.05 * b[k]):
                    r["worse"] = True
            if a["visible_frames"] > b["visible_frames"] + max(2, 0.05 * a["frames"]):
                r["worse"] = True
        elif ms["changed"]:
            r["worse"] = True
        out.append(r)
    return out


def describe_harm(h):
    if h["kind"] in PELTA_KINDS:
        return "%-34s changed %d, combing %s -> %s (true settings %s)" % (
            h["stretch"], h["changed"], fmt_comb(h["before"]), fmt_comb(h["after"]), fmt_comb(h["true"]))
    return "%-34s changed %d frames (%s), their combing %s -> %s" % (
        h["stretch"], h["changed"], ", ".join("%d..%d" % tuple(r) for r in h["changed_ranges"][:4]) +
        (", ..." if len(h["changed_ranges"]) > 4 else ""), fmt_comb(h["before"]), fmt_comb(h["after"]))


# ---- The tables


def share(k, n):
    return "%d of %d (%.0f%%)" % (k, n, 100.0 * k / n) if n else "-"


def cmd_score(a):
    lines = []
    for path in a.results:
        lines += [json.loads(l) for l in open(path) if l.strip()]
    lines.sort(key=lambda l: l["name"])
    long_clips = [l for l in lines if l.get("tier") != "clean"]
    clean = [l for l in lines if l.get("tier") == "clean"]
    frames_of = lambda l, mode: l["frames"] - 1 if mode == "short" else l["frames"]

    # Per clip.
    if a.per_clip:
        for l in long_clips:
            print("%s (%d frames, %s)" % (l["name"], l["frames"], ", ".join(l["tags"]) or "-"))
            for mode in MODES:
                r = l["runs"].get(mode)
                if not r:
                    continue
                if "segments" not in r:
                    print("  %-6s %s" % (mode, r.get("error", "status %s" % r.get("status"))))
                    continue
                js = judge_stretches(l, r["segments"], frames_of(l, mode))
                print("  %-6s %s right, %.1f s: %s" % (mode, share(sum(j["right"] for j in js), len(js)),
                                                      r["seconds"] or 0,
                                                      "  ".join("%s %.2f" % (describe_seg(g), g["confidence"] or 0)
                                                                for g in r["segments"])))
                if mode != "short":
                    for j in js:
                        if not j["right"]:
                            print("         WRONG %-34s got %-34s (%s)" % (describe_stretch(j["stretch"]), j["got"],
                                                                         ", ".join(j["why"])))
            for mode in AUTO_MODES:
                r = l["runs"].get(mode)
                if not r:
                    continue
                hs = harm(l, r)
                worse = [h for h in hs if h["worse"]]
                print("  %-9s status %s, %d frames out, %.1f s, %d stretches made worse%s" % (
                    mode, r["status"], r["measure"].get("frames_out", 0), r["seconds"] or 0, len(worse),
                    "".join("\n         WORSE " + describe_harm(h) for h in worse)))
                err = [x for x in r.get("stderr", "").splitlines() if x.strip()]
                for x in err[:12]:
                    print("         | " + x[:160])
                if len(err) > 12:
                    print("         | ... (%d lines more)" % (len(err) - 12))
            print()

    # Stretches right, by kind and by hardship.
    by = {}
    for mode in ("file", "pipe"):
        for l in long_clips:
            r = l["runs"].get(mode)
            if not r:
                continue
            js = judge_stretches(l, r.get("segments", []), frames_of(l, mode))
            for j in js:
                s = j["stretch"]
                for key in ["all", "kind:" + s["kind"]] + ["tag:" + t for t in s.get("tags", []) + l["tags"]]:
                    k, n = by.get((mode, key), (0, 0))
                    by[(mode, key)] = (k + j["right"], n + 1)

    def row(label, key, note=""):
        cells = []
        for mode in ("file", "pipe"):
            k, n = by.get((mode, key), (0, 0))
            cells.append(share(k, n) if n else "-")
        if any(c != "-" for c in cells):
            print("%-16s %-18s %-18s %s" % (label, cells[0], cells[1], note))

    print("Stretches of 60 frames or more right (kind, settings, and their changes found within 2 frames)")
    print("%-16s %-18s %-18s" % ("", "file", "pipe"))
    row("all", "all")
    print()
    for k in KINDS:
        row(k, "kind:" + k)
    print()
    for t, note in HARDSHIPS:
        row(t, "tag:" + t, note)
    print()

    # Boundaries.
    print("Changes of kind or settings: distance to the nearest reported boundary, in frames")
    hist = {}
    for mode in ("file", "pipe"):
        for l in long_clips:
            r = l["runs"].get(mode)
            if not r:
                continue
            for c in judge_changes(l, r.get("segments", []), frames_of(l, mode)):
                d = c["distance"]
                pk = c["kinds"] is not None and any(k in PELTA_KINDS for k in c["kinds"])
                for key in ("all",) + (("pelta",) if pk else ()):
                    hist.setdefault((mode, key), []).append(d)
    print("%-22s %s  within 2    within 3" % ("", " ".join("%6s" % b[2] for b in BUCKETS) + "   none"))
    for mode in ("file", "pipe"):
        for key, label in (("all", "all changes"), ("pelta", "into or out of match/window")):
            ds = hist.get((mode, key), [])
            if not ds:
                continue
            counts = [sum(1 for d in ds if d is not None and lo <= d <= hi) for lo, hi, _ in BUCKETS]
            none = sum(1 for d in ds if d is None)
            w2 = sum(1 for d in ds if d is not None and d <= 2)
            w3 = sum(1 for d in ds if d is not None and d <= 3)
            print("%-22s %s %6d  %-11s %s" % ("%s, %s" % (mode, label), " ".join("%6d" % c for c in counts), none,
                                             share(w2, len(ds)), share(w3, len(ds))))
    print()

    # Confidence.
    print("Confidence per reported segment (wrong: kind or settings off over most of it, or an end more than 2 frames off a change)")
    for mode in ("file", "pipe"):
        segs = []
        for l in long_clips:
            r = l["runs"].get(mode)
            if r and "segments" in r:
                segs += judge_segments(l, r["segments"], frames_of(l, mode))
        wrong = [s for s in segs if not s["right"]]
        right = [s for s in segs if s["right"]]
        print("%-5s %d segments: wrong ones below 0.5: %s; right ones at 0.5 or above: %s" % (
            mode, len(segs), share(sum(1 for s in wrong if (s["confidence"] or 0) < 0.5), len(wrong)),
            share(sum(1 for s in right if (s["confidence"] or 0) >= 0.5), len(right))))
    print()

    # Agreement.
    print("Agreement (the same segments within 2 frames, the same kinds and settings)")
    for label, x, y, cut in (("file vs pipe", "file", "pipe", 0), ("file vs one frame shorter", "file", "short", 1)):
        same, alike, total, n, notes = 0, 0, 0, 0, []
        for l in long_clips:
            rx, ry = l["runs"].get(x), l["runs"].get(y)
            if not rx or not ry or "segments" not in rx or "segments" not in ry:
                continue
            ag = agreement(rx["segments"], ry["segments"], l["frames"] - cut)
            n += 1
            same += ag["same"]
            alike += ag["frames_alike"]
            total += ag["frames"]
            if not ag["same"]:
                notes.append("%s: %s" % (l["name"], "; ".join(ag["why"])))
        print("%-26s clips alike %s; frames alike %s" % (label, share(same, n), share(alike, total)))
        if a.per_clip:
            for t in notes:
                print("    " + t)
    print()

    # --auto.
    print("--auto: per true stretch, against its input (stretches that need nothing must come out unchanged;")
    print("match/window ones must not come out more combed)")
    for mode in AUTO_MODES:
        hs, statuses, incomplete = [], {}, []
        for l in long_clips:
            r = l["runs"].get(mode)
            if not r:
                continue
            statuses[r["status"]] = statuses.get(r["status"], 0) + 1
            if r["measure"].get("frames_out", 0) != l["frames"]:
                incomplete.append("%s (%d of %d frames)" % (l["name"], r["measure"].get("frames_out", 0), l["frames"]))
            hs += [dict(h, clip=l["name"]) for h in harm(l, r)]
        if not statuses:
            continue
        nn = [h for h in hs if h["kind"] in NEED_NOTHING]
        pk = [h for h in hs if h["kind"] in PELTA_KINDS]
        print("%s: exit status %s; %d of %d clips written incomplete" % (
            mode, ", ".join("%s x%d" % kv for kv in sorted(statuses.items())), len(incomplete),
            len([l for l in long_clips if mode in l["runs"]])))
        print("  stretches that need nothing, frames changed: %d of %d stretches, %d of %d frames" % (
            sum(1 for h in nn if h["changed"]), len(nn), sum(h["changed"] for h in nn),
            sum(h["frames"] for h in nn)))
        print("  match/window stretches made more combed: %s" % share(sum(h["worse"] for h in pk), len(pk)))
        left = [h for h in pk if h["true"] and h["after"]["visible_frames"] > h["true"]["visible_frames"] +
                max(2, 0.1 * h["after"]["frames"])]
        print("  match/window stretches left visibly combed (10%% of frames or more beyond the true settings): %s" %
              share(len(left), len(pk)))
        if a.per_clip:
            for h in hs:
                if h["worse"]:
                    print("    WORSE %s %s" % (h["clip"], describe_harm(h)))
    print()

    # The clean set.
    if clean:
        print("Clean progressive set: segments of pelta's kinds (false alarms), and --auto")
        for l in clean:
            cells = []
            for mode in ("file", "pipe"):
                r = l["runs"].get(mode)
                if not r or "segments" not in r:
                    cells.append("%s: -" % mode)
                    continue
                bad = [g for g in r["segments"] if g["kind"] in PELTA_KINDS]
                cells.append("%s: %s" % (mode, "FALSE ALARM " + "; ".join("%s %.2f" % (describe_seg(g), g["confidence"] or 0)
                                                                          for g in bad) if bad else
                                         "no (%s)" % ", ".join(sorted({g["kind"] for g in r["segments"]}))))
            r = l["runs"].get("auto-file")
            if r:
                ch = sum(s["changed"] for s in r["measure"].get("stretches", []))
                cells.append("--auto: status %s, %d frames changed" % (r["status"], ch))
            print("  %-28s %s" % (l["name"], "; ".join(cells)))
        fa = {m: sum(1 for l in clean if any(g["kind"] in PELTA_KINDS for g in l["runs"].get(m, {}).get("segments", [])))
              for m in ("file", "pipe")}
        print("  false alarms: file %d of %d clips, pipe %d of %d" % (fa["file"], len(clean), fa["pipe"], len(clean)))
        print()

    # Times.
    print("Times (seconds): %-8s %s" % ("frames", " ".join("%9s" % m for m in MODES + AUTO_MODES)))
    tot = {m: 0.0 for m in MODES + AUTO_MODES}
    for l in lines:
        cells = []
        for m in MODES + AUTO_MODES:
            r = l["runs"].get(m)
            sec = r.get("seconds") if r else None
            cells.append("%9s" % ("-" if sec is None else "%.1f" % sec))
            tot[m] += sec or 0
        print("  %-30s %6d %s" % (l["name"][:30], l["frames"], " ".join(cells)))
    print("  %-30s %6d %s" % ("all", sum(l["frames"] for l in lines), " ".join("%9.1f" % tot[m] for m in MODES + AUTO_MODES)))


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = p.add_subparsers(dest="cmd", required=True)
    s = sub.add_parser("list")
    s.add_argument("--quick", action="store_true")
    s.add_argument("--seed", type=int, default=DEFAULT_SEED)
    s.add_argument("--names", action="store_true")
    s.set_defaults(func=cmd_list)
    s = sub.add_parser("make")
    s.add_argument("--pelta", required=True)
    s.add_argument("--make-clip", required=True)
    s.add_argument("--pictures", required=True)
    s.add_argument("--seed", type=int, default=DEFAULT_SEED)
    s.add_argument("--force", action="store_true", help="make it again even if it is there and checked")
    s.add_argument("name")
    s.add_argument("dir")
    s.set_defaults(func=cmd_make)
    s = sub.add_parser("recheck")
    s.add_argument("--pelta", required=True)
    s.add_argument("name")
    s.add_argument("dir")
    s.set_defaults(func=cmd_recheck)
    s = sub.add_parser("stored")
    s.add_argument("dir")
    s.add_argument("name")
    s.set_defaults(func=cmd_stored)
    s = sub.add_parser("decode")
    s.add_argument("dir")
    s.add_argument("name")
    s.set_defaults(func=cmd_decode)
    s = sub.add_parser("measure")
    s.add_argument("--input", required=True)
    s.add_argument("truth")
    s.set_defaults(func=cmd_measure)
    s = sub.add_parser("judge")
    s.add_argument("--truth", required=True)
    s.add_argument("--name", required=True)
    s.add_argument("--work", required=True)
    s.set_defaults(func=cmd_judge)
    s = sub.add_parser("score")
    s.add_argument("results", nargs="+")
    s.add_argument("--per-clip", action="store_true")
    s.set_defaults(func=cmd_score)
    s = sub.add_parser("table")
    s.add_argument("dir")
    s.set_defaults(func=cmd_table)
    s = sub.add_parser("frame-size")
    s.add_argument("y4m")
    s.set_defaults(func=cmd_frame_size)
    a = p.parse_args()
    a.func(a)


if __name__ == "__main__":
    main()
