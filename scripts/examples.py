#!/usr/bin/env python3
"""Checks, or rewrites, every example of program output in the documentation.

    scripts/examples.py --check  [--pelta BIN] [--make-clip BIN] [--jobs N] [--keep] [FILE.md ...]
    scripts/examples.py --update [same options]
    scripts/examples.py --list

An example is an HTML comment line naming a clip and a command, followed at
once by an indented (4 spaces) code block whose first line is "$ " and the
command, and whose other lines are what the command prints:

    <!-- example: mixed | pelta analyze capture.y4m -->
        $ pelta analyze capture.y4m
        verdict:    window: ...

The clip (the part before " | ") is one of the table CLIPS below (--list
prints it), made once in a directory of its own under the names the commands
use. Each command runs with bash in a fresh directory that holds the clip's
files, with `pelta` and `pelta_make_clip` on PATH meaning the binaries given
(by default those of build/). Only standard output is compared, unless the
command itself sends standard error there (`2>&1`); the exit status is not
compared. Lines compare exactly, trailing spaces stripped; an empty output
line is written as an indented empty line (4 spaces), since an empty line
ends the block.

--check runs every example and exits 1 naming the file, the line and a diff
wherever the output differs, a clip is unknown or a block is malformed (also
a block that starts with "$ " but has no comment). --update writes the real
output into the blocks instead. Files: README.md, README.ja.md and docs/*.md
unless named. Exit status 77 when ffmpeg is missing (ctest counts it as
skipped).

Debian's python3 only; the clips need ffmpeg, scripts/make_sample.sh and
pelta_make_clip.
"""
import argparse
import concurrent.futures
import difflib
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# The still picture the generated clips pan across: ffmpeg's mandelbrot,
# softened and given grain as a camera would (as tests/cli/test_analyze.cpp
# makes it).
PICTURES = {
    "mandelbrot.ppm": "ffmpeg -nostdin -loglevel error -y -f lavfi "
                      "-i 'mandelbrot=s=1024x768:end_pts=1:start_scale=0.5:end_scale=0.5:maxiter=200' "
                      "-frames:v 1 -vf gblur=sigma=0.6,noise=alls=6:allf=t -pix_fmt rgb24 mandelbrot.ppm",
}

# What every generated capture-like clip shares: 720x480 4:2:2, a pan of 2
# pixels a frame across and half a pixel down, grain of sigma 1.
_COMMON = "--picture \"$PICTURES/mandelbrot.ppm\" --size 720x480 --chroma 422 --pan 2,0.5 --grain 1"

# name: (files it makes, clips it is made from, what it is, bash script run in
# its directory). The scripts see $REPO, $PICTURES (the pictures above) and
# $CLIPS (the other clips' directories, by name), and pelta and
# pelta_make_clip on PATH. sample<N> (below) is a family of its own.
CLIPS = {
    "capture": (
        ["capture.y4m", "capture.avi"], [],
        "300 frames of 720x480 4:2:2, fields out of step (the late field alternating every 30 frames) and a "
        "band in columns 200..439 displaced by 12/16 of a field line; capture.avi the same losslessly (Ut Video)",
        "pelta_make_clip --kind window " + _COMMON + " --frames 300 --band 200,240 --shift 12 --tff 1 "
        "--late alternate --seed 3 > capture.y4m\n"
        "ffmpeg -nostdin -loglevel error -y -i capture.y4m -c:v utvideo capture.avi",
    ),
    "mixed": (
        ["capture.y4m"], ["capture"],
        "480 frames of 720x480 4:2:2 as capture.y4m: 30 black, 60 progressive, the 300 of 'capture', 90 of "
        "true interlacing",
        "pelta_make_clip --kind progressive " + _COMMON + " --frames 90 --black 0,29 --seed 1 > a.y4m\n"
        "pelta_make_clip --kind interlaced " + _COMMON + " --frames 90 --seed 4 > c.y4m\n"
        "{ cat a.y4m; tail -n +2 \"$CLIPS/capture/capture.y4m\"; tail -n +2 c.y4m; } > capture.y4m\n"
        "rm a.y4m c.y4m",
    ),
    "slow": (
        ["slow.y4m"], [],
        "150 frames of 720x480 4:2:2, fields out of step, panning 0.3 pixels a frame under grain of sigma 3",
        "pelta_make_clip --kind match --picture \"$PICTURES/mandelbrot.ppm\" --size 720x480 --chroma 422 "
        "--pan 0.3,0 --grain 3 --frames 150 --late alternate --seed 7 > slow.y4m",
    ),
    "film": (
        ["film.y4m"], [],
        "300 frames of 720x480 4:2:0: ffmpeg's testsrc2 at 23.976 pictures a second, 3:2 pulldown",
        "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=s=720x480:r=24000/1001 "
        "-vf telecine=first_field=t:pattern=23,format=yuv420p -frames:v 300 -f yuv4mpegpipe film.y4m",
    ),
}

SAMPLE = re.compile(r"sample([1-9][0-9]?)$")


def clip_recipe(name):
    """(files, needs, about, script) of a clip, or None when unknown."""
    if name in CLIPS:
        return CLIPS[name]
    m = SAMPLE.match(name)
    if m:
        secs = m.group(1)
        return (["sample.y4m"], [], f"the demo's sample clip of {secs} s as sample.y4m",
                f"\"$REPO/scripts/make_sample.sh\" sample.y4m {secs}")
    return None


COMMENT = re.compile(r"^<!-- example: (\S+) \| (.*) -->\s*$")


class Example:
    def __init__(self, path, line, clip, command, start, end, shown):
        self.path, self.line, self.clip, self.command = path, line, clip, command
        self.start, self.end = start, end  # the block's lines [start, end) (0-based)
        self.shown = shown  # the block's lines without the indent


def parse(path, problems):
    """The examples of one Markdown file; malformed ones go to `problems`."""
    lines = open(path, encoding="utf-8").read().split("\n")
    out, claimed = [], set()
    for i, line in enumerate(lines):
        m = COMMENT.match(line)
        if not m:
            continue
        clip, command = m.group(1), m.group(2).strip()
        start = i + 1
        end = start
        while end < len(lines) and lines[end].startswith("    "):
            end += 1
        shown = [l[4:] for l in lines[start:end]]
        if not shown or shown[0] != "$ " + command:
            problems.append(f"{path}:{i + 1}: the example's block must begin with the line '    $ {command}'")
        if clip_recipe(clip) is None:
            problems.append(f"{path}:{i + 1}: unknown clip '{clip}' (scripts/examples.py --list)")
        claimed.update(range(start, end))
        out.append(Example(path, i + 1, clip, command, start, end, shown))
    # A block showing a command's output without saying how to make it.
    for i, line in enumerate(lines):
        if (line.startswith("    $ ") and i not in claimed and (i == 0 or not lines[i - 1].startswith("    "))):
            problems.append(f"{path}:{i + 1}: a block that shows a command's output needs an example comment "
                            "above it (<!-- example: CLIP | COMMAND -->)")
    return out


def run(script, cwd, env, what):
    r = subprocess.run(["bash", "-c", "set -euo pipefail\n" + script], cwd=cwd, env=env,
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=600)
    if r.returncode != 0:
        raise RuntimeError(f"{what} failed (status {r.returncode}):\n{r.stderr.decode('utf-8', 'replace')}")


def make_clips(names, work, env, jobs):
    """Makes the clips named (and those they need), each in work/clips/NAME,
    the independent ones side by side."""
    pictures = os.path.join(work, "pictures")
    os.makedirs(pictures, exist_ok=True)
    for name, script in PICTURES.items():
        run(script, pictures, env, "making " + name)
    wanted, order = set(), []

    def add(name):
        if name in wanted:
            return
        for need in clip_recipe(name)[1]:
            add(need)
        wanted.add(name)
        order.append(name)

    for n in sorted(names):
        add(n)
    done = set()
    with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
        pending = {}
        while len(done) < len(order):
            for name in order:
                if name in done or name in pending or not all(n in done for n in clip_recipe(name)[1]):
                    continue
                d = os.path.join(work, "clips", name)
                os.makedirs(d, exist_ok=True)
                pending[name] = pool.submit(run, clip_recipe(name)[3], d, env, "making clip " + name)
            finished, _ = concurrent.futures.wait(pending.values(), return_when=concurrent.futures.FIRST_COMPLETED)
            for name, fut in list(pending.items()):
                if fut in finished:
                    fut.result()
                    done.add(name)
                    del pending[name]


def run_example(ex, work, env, index):
    """The example's output lines (standard output, trailing spaces and
    trailing empty lines stripped) and standard error."""
    d = os.path.join(work, "runs", str(index))
    os.makedirs(d)
    for f in clip_recipe(ex.clip)[0]:
        src = os.path.join(work, "clips", ex.clip, f)
        try:
            os.link(src, os.path.join(d, f))
        except OSError:
            shutil.copy(src, os.path.join(d, f))
    r = subprocess.run(["bash", "-c", ex.command], cwd=d, env=env, stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE, timeout=600)
    shutil.rmtree(d, ignore_errors=True)
    out = [l.rstrip() for l in r.stdout.decode("utf-8", "replace").split("\n")]
    while out and out[-1] == "":
        out.pop()
    return out, r.stderr.decode("utf-8", "replace")


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    mode = ap.add_mutually_exclusive_group(required=True)
    mode.add_argument("--check", action="store_true", help="compare every example with the real output")
    mode.add_argument("--update", action="store_true", help="write the real output into the examples")
    mode.add_argument("--list", action="store_true", help="print the clip table")
    ap.add_argument("--pelta", default=os.environ.get("PELTA", os.path.join(REPO, "build/cli/pelta")))
    ap.add_argument("--make-clip", default=os.path.join(REPO, "build/tests/cli/pelta_make_clip"))
    ap.add_argument("--jobs", type=int, default=2, help="clips made and examples run at once (default 2)")
    ap.add_argument("--keep", action="store_true", help="keep the scratch directory (its name is printed)")
    ap.add_argument("files", nargs="*", help="Markdown files (default README.md, README.ja.md, docs/*.md)")
    args = ap.parse_args()

    if args.list:
        for name, (files, needs, about, _) in CLIPS.items():
            print(f"{name:10} {', '.join(files)}: {about}")
        print(f"{'sample<N>':10} sample.y4m: scripts/make_sample.sh sample.y4m N (N seconds, 1 to 99)")
        return 0
    if shutil.which("ffmpeg") is None:
        print("examples.py: ffmpeg is not installed (scripts/deps.sh test installs it)", file=sys.stderr)
        return 77
    for tool in (args.pelta, args.make_clip):
        if not os.access(tool, os.X_OK):
            print(f"examples.py: {tool} is not built (cmake --build build --target pelta pelta_make_clip)",
                  file=sys.stderr)
            return 1

    files = args.files or ([os.path.join(REPO, "README.md"), os.path.join(REPO, "README.ja.md")] +
                           sorted(glob.glob(os.path.join(REPO, "docs", "*.md"))))
    problems, examples = [], []
    for f in files:
        if os.path.exists(f):
            examples += parse(f, problems)
    if problems:
        print("\n".join(problems), file=sys.stderr)
        return 1

    work = tempfile.mkdtemp(prefix="pelta-examples-")
    try:
        bin_dir = os.path.join(work, "bin")
        os.makedirs(bin_dir)
        os.symlink(os.path.abspath(args.pelta), os.path.join(bin_dir, "pelta"))
        os.symlink(os.path.abspath(args.make_clip), os.path.join(bin_dir, "pelta_make_clip"))
        tmp = os.path.join(work, "tmp")
        os.makedirs(tmp)
        env = dict(os.environ, PATH=bin_dir + os.pathsep + os.environ.get("PATH", "/usr/bin:/bin"), REPO=REPO,
                   PICTURES=os.path.join(work, "pictures"), CLIPS=os.path.join(work, "clips"), TMPDIR=tmp,
                   LC_ALL="C.UTF-8")
        make_clips({e.clip for e in examples}, work, env, max(1, args.jobs))

        # Each distinct (clip, command) runs once.
        runs = {}
        with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, args.jobs)) as pool:
            for i, e in enumerate(examples):
                key = (e.clip, e.command)
                if key not in runs:
                    runs[key] = pool.submit(run_example, e, work, env, i)
            results = {k: f.result() for k, f in runs.items()}

        failed = 0
        edits = {}
        for e in examples:
            out, err = results[(e.clip, e.command)]
            want = ["$ " + e.command] + out
            have = [l.rstrip() for l in e.shown]
            if have == want:
                continue
            if args.update:
                edits.setdefault(e.path, []).append((e.start, e.end, ["    " + l for l in want]))
                continue
            failed += 1
            rel = os.path.relpath(e.path, REPO)
            rel = e.path if rel.startswith("..") else rel
            print(f"{rel}:{e.line}: the output of '{e.command}' on clip '{e.clip}' differs from the example:")
            for d in difflib.unified_diff(have, want, "the example", "the real output", lineterm="", n=1):
                print("    " + d)
            if err.strip():
                print("  its standard error:\n" + "".join("    " + l + "\n" for l in err.rstrip().split("\n")))
        for path, changes in edits.items():
            lines = open(path, encoding="utf-8").read().split("\n")
            for start, end, new in sorted(changes, reverse=True):
                lines[start:end] = new
            with open(path, "w", encoding="utf-8") as f:
                f.write("\n".join(lines))
            print(f"updated {len(changes)} example(s) in {path}")
        if args.check:
            print(f"{len(examples)} examples ({len(runs)} commands): {failed} differ")
        return 1 if failed else 0
    finally:
        if args.keep:
            print("scratch directory kept:", work, file=sys.stderr)
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
