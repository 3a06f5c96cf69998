#!/usr/bin/python3
"""The pages of `pelta analyze --report` in a real browser.

Makes two clips, the sample (one segment with a window) and one of three
kinds (a progressive stretch, fields out of step, true interlacing), analyses each with
--json and --report, opens each page in headless Chromium through Selenium
and checks that every picture decodes, the console shows no error, the page
fetched nothing, the settings, warnings and segments it shows are those of
the JSON, every figure and the evidence are the JSON's, both charts have
numbers on their x axis (columns, and the clip's frames), the frames that
stay combed are listed by segment and marked on the chart as the JSON has
them, the window is shaded only where there is one, and the editor's
Japanese labels have a font that draws them. A screenshot of each page is
left in SHOTS_DIR when given, to look at.

usage: check_report.py PELTA SOURCE_DIR MAKE_CLIP [SHOTS_DIR]
"""
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.common.by import By


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_for_port(port, proc, name):
    for _ in range(300):
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.2):
                return
        except OSError:
            if proc.poll() is not None:
                break
            time.sleep(0.1)
    proc.kill()
    raise RuntimeError(f"{name} did not start")


def start_driver(log):
    """chromedriver on a free port of 127.0.0.1, answering."""
    port = free_port()
    proc = subprocess.Popen(["/usr/bin/chromedriver", f"--port={port}"], stdout=log, stderr=log)
    wait_for_port(port, proc, "chromedriver")
    return proc, f"http://127.0.0.1:{port}"


def make_clips(source, make_clip, work):
    """The sample, and a progressive stretch, fields out of step, and true
    interlacing (which passes through combed)."""
    clips = {}
    sample = os.path.join(work, "sample.y4m")
    subprocess.run([os.path.join(source, "scripts", "make_sample.sh"), sample, "2"], check=True)
    clips["sample"] = sample
    picture = os.path.join(work, "picture.ppm")
    subprocess.run(["ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                    "mandelbrot=s=700x500:end_pts=1:start_scale=0.5:end_scale=0.5", "-frames:v", "1",
                    "-pix_fmt", "rgb24", picture], check=True)
    parts = []
    for kind, extra in (("progressive", []), ("match", ["--late", "alternate"]), ("interlaced", [])):
        part = os.path.join(work, kind + ".y4m")
        with open(part, "wb") as out:
            subprocess.run([make_clip, "--kind", kind, "--picture", picture, "--size", "320x240",
                            "--frames", "60"] + extra, check=True, stdout=out)
        parts.append(part)
    mixed = os.path.join(work, "mixed.y4m")
    with open(mixed, "wb") as out:
        for i, part in enumerate(parts):
            data = open(part, "rb").read()
            out.write(data if i == 0 else data[data.index(b"\n") + 1:])
    clips["mixed"] = mixed
    return clips


def check_page(driver, page, expected, shot):
    failures = []
    driver.get("file://" + page)
    # The page is large (two pictures inline): wait until it has all
    # loaded, as a busy machine may hand it over before.
    for _ in range(600):
        if driver.execute_script("return document.readyState") == "complete":
            break
        time.sleep(0.1)
    images = driver.find_elements(By.TAG_NAME, "img")
    if len(images) < 2:
        failures.append(f"expected the before and after pictures, found {len(images)} images")
    for img in images:
        ok = driver.execute_script("return arguments[0].complete && arguments[0].naturalWidth > 0", img)
        if not ok:
            failures.append(f"image {img.get_attribute('id')} did not decode")
        width = driver.execute_script("return arguments[0].naturalWidth", img)
        if width != expected["frame_width"]:
            failures.append(f"image {img.get_attribute('id')} is {width} wide, not {expected['frame_width']}")
    errors = [e for e in driver.get_log("browser") if e.get("level") == "SEVERE"]
    failures += [f"console: {e.get('message')}" for e in errors]
    fetched = driver.execute_script(
        "return performance.getEntriesByType('resource').map(e => e.name).filter(n => !n.startsWith('data:'))")
    failures += [f"the page fetched {name}" for name in fetched]
    for key in ("kind", "tff", "left", "width", "shift", "lpf", "command"):
        shown = driver.find_element(By.ID, key).text.strip()
        if shown != str(expected[key]):
            failures.append(f"the page shows {key} {shown!r}, the JSON {expected[key]!r}")
    shown = [w.text.strip() for w in driver.find_elements(By.CSS_SELECTOR, ".warning")]
    want = ["Warning: " + w for w in expected["warnings"]]
    if shown != want:
        failures.append(f"the page's warnings {shown!r}, the JSON's {want!r}")
    kinds = [r.get_attribute("data-kind") for r in driver.find_elements(By.CSS_SELECTOR, "#timeline rect.segment")]
    if kinds != [g["kind"] for g in expected["segments"]]:
        failures.append(f"the timeline shows {kinds!r}, the JSON's segments {expected['segments']!r}")
    # Every figure the page shows is the JSON's, printed as the text prints
    # it, and the evidence is the JSON's word for word.
    figures = expected["figures"]
    def printed(v):
        return "cannot tell" if v is None else f"{v:.2f}"
    cells = driver.find_elements(By.CSS_SELECTOR, "td.figure")
    if not cells:
        failures.append("the page shows no figures")
    for cell in cells:
        key = cell.get_attribute("data-figure")
        if key not in figures:
            failures.append(f"the page's figure {key} is not in the JSON's {sorted(figures)}")
        elif cell.text.strip() != printed(figures[key]):
            failures.append(f"the page's figure {key} reads {cell.text.strip()!r}, the JSON's {figures[key]!r}")
    evidence = driver.find_element(By.ID, "evidence").text.strip()
    if evidence != expected["evidence"]:
        failures.append(f"the page's evidence {evidence!r} is not the JSON's {expected['evidence']!r}")
    # Both charts carry numbers on their x axis: columns within the frame,
    # frames within the range looked at.
    last = expected["start"] + expected["span"] - 1
    for chart, lo, hi in (("columns-chart", 0, expected["frame_width"]), ("frames-chart", expected["start"], last)):
        ticks = [int(t.get_attribute("data-value"))
                 for t in driver.find_elements(By.CSS_SELECTOR, f"#{chart} text.tick")]
        shown = [t.text for t in driver.find_elements(By.CSS_SELECTOR, f"#{chart} text.tick")]
        if len(ticks) < 3 or any(not lo <= t <= hi for t in ticks) or shown != [str(t) for t in ticks]:
            failures.append(f"{chart}: ticks {shown!r} (values {ticks!r}) for {lo}..{hi}")
    # The frames that stay combed: listed by segment as the JSON has them,
    # and one circle on the per-frame chart for each.
    items = driver.find_elements(By.CSS_SELECTOR, "#combed li")
    if len(items) != len(expected["segments"]):
        failures.append(f"{len(items)} segments in the list of combed frames, {len(expected['segments'])} in the JSON")
    marked = 0
    for item, g in zip(items, expected["segments"]):
        want = ", ".join(f"{a}..{b}" if b > a else f"{a}" for a, b in g["combed"]) or "none"
        listed = item.find_elements(By.CSS_SELECTOR, ".frames")
        got = listed[0].text if listed else "none"
        if got != want:
            failures.append(f"combed frames of segment {g['start']}: the page lists {got!r}, the JSON {want!r}")
        marked += sum(b - a + 1 for a, b in g["combed"])
    circles = len(driver.find_elements(By.CSS_SELECTOR, "#frames-chart circle.combed"))
    if circles != marked:
        failures.append(f"{circles} frames marked combed on the chart, {marked} in the JSON")
    shaded = len(driver.find_elements(By.CSS_SELECTOR, "rect.band"))
    if (shaded > 0) != (expected["width"] > 0):
        failures.append(f"{shaded} shaded window ranges with a window {expected['width']} wide")
    # The editor's labels: a font with the glyphs must draw them, wider than
    # the box a missing glyph leaves.
    drawn = driver.execute_script(
        "const e = document.querySelector('.ja'); const c = document.createElement('canvas').getContext('2d');"
        "c.font = getComputedStyle(e).fontSize + ' ' + getComputedStyle(e).fontFamily;"
        "return [document.fonts.check(c.font, e.textContent), getComputedStyle(e).fontFamily];")
    if not drawn[0]:
        failures.append(f"no font draws the Japanese labels ({drawn[1]})")
    if shot:
        driver.set_window_size(1000, 3000)
        driver.save_screenshot(shot)
    return failures, len(images)


def main():
    pelta, source, make_clip = sys.argv[1], sys.argv[2], sys.argv[3]
    shots = sys.argv[4] if len(sys.argv) > 4 else ""
    work = tempfile.mkdtemp(prefix="pelta-report.")
    try:
        pages = {}
        for name, clip in make_clips(source, make_clip, work).items():
            page = os.path.join(work, name + ".html")
            run = subprocess.run([pelta, "analyze", "--json", "--report", page, clip],
                                 check=True, capture_output=True, text=True)
            pages[name] = (page, json.loads(run.stdout))
        if len(pages["mixed"][1]["segments"]) < 2:
            print("check_report: the mixed clip gave one segment:", pages["mixed"][1]["segments"], file=sys.stderr)
            return 1

        # Chromium is started here and Selenium attaches to it on 127.0.0.1:
        # chromedriver would reach a browser it starts itself through
        # "localhost", which a minimal system may not resolve.
        log = open(os.path.join(work, "browser.log"), "wb")
        browser_port = free_port()
        browser = subprocess.Popen(
            ["/usr/bin/chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--disable-dev-shm-usage", "--remote-debugging-address=127.0.0.1",
             f"--remote-debugging-port={browser_port}", "--user-data-dir=" + os.path.join(work, "profile"),
             "about:blank"], stdout=log, stderr=log)
        wait_for_port(browser_port, browser, "chromium")
        service, url = start_driver(log)
        options = webdriver.ChromeOptions()
        options.add_experimental_option("debuggerAddress", f"127.0.0.1:{browser_port}")
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        driver = webdriver.Remote(command_executor=url, options=options)
        failures = []
        try:
            for name, (page, expected) in pages.items():
                shot = os.path.join(shots, name + ".png") if shots else ""
                found, images = check_page(driver, page, expected, shot)
                failures += [f"{name}: {f}" for f in found]
                if not found:
                    combed = sum(b - a + 1 for g in expected["segments"] for a, b in g["combed"])
                    print(f"check_report: {name}: {expected['kind']} page, {images} pictures decoded, "
                          f"{len(expected['segments'])} segments, settings and figures as the JSON, "
                          f"{combed} frames listed and marked combed")
        finally:
            driver.quit()
            for proc in (service, browser):
                proc.terminate()
                proc.wait()
            log.close()
        for f in failures:
            print("check_report:", f, file=sys.stderr)
        return 1 if failures else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
