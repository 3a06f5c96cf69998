#!/usr/bin/python3
"""The page of `pelta analyze --report` in a real browser.

Makes the sample clip, analyses it with --json and --report, opens the page
in headless Chromium through Selenium and checks that every picture decodes,
the console shows no error, the page fetched nothing, and the settings it
shows are those of the JSON.

usage: check_report.py PELTA SOURCE_DIR
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


def main():
    pelta, source = sys.argv[1], sys.argv[2]
    work = tempfile.mkdtemp(prefix="pelta-report.")
    try:
        clip = os.path.join(work, "sample.y4m")
        page = os.path.join(work, "report.html")
        subprocess.run([os.path.join(source, "scripts", "make_sample.sh"), clip, "2"], check=True)
        run = subprocess.run([pelta, "analyze", "--json", "--report", page, clip],
                             check=True, capture_output=True, text=True)
        expected = json.loads(run.stdout)

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
                ok = driver.execute_script(
                    "return arguments[0].complete && arguments[0].naturalWidth > 0", img)
                if not ok:
                    failures.append(f"image {img.get_attribute('id')} did not decode")
                width = driver.execute_script("return arguments[0].naturalWidth", img)
                if width != expected["frame_width"]:
                    failures.append(f"image {img.get_attribute('id')} is {width} wide, "
                                    f"not {expected['frame_width']}")
            errors = [e for e in driver.get_log("browser") if e.get("level") == "SEVERE"]
            failures += [f"console: {e.get('message')}" for e in errors]
            fetched = driver.execute_script(
                "return performance.getEntriesByType('resource').map(e => e.name)"
                ".filter(n => !n.startsWith('data:'))")
            failures += [f"the page fetched {name}" for name in fetched]
            for key in ("kind", "tff", "left", "width", "shift", "command"):
                shown = driver.find_element(By.ID, key).text.strip()
                if shown != str(expected[key]):
                    failures.append(f"the page shows {key} {shown!r}, the JSON {expected[key]!r}")
        finally:
            driver.quit()
            for proc in (service, browser):
                proc.terminate()
                proc.wait()
            log.close()
        for f in failures:
            print("check_report:", f, file=sys.stderr)
        if failures:
            return 1
        print(f"check_report: {expected['kind']} page, {len(images)} pictures decoded, settings as the JSON")
        return 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
