#!/usr/bin/env python3
"""The station's dashboard in headless Chromium against `fennix station --http`
and virtual devices: a tile per socket, a moving progress, a failed tile in red
with its cause, the IMEI search, the reconnection after a station restart,
device texts shown as text, and the access token.

  dashboard_test.py FENNIX MSM_SIM SAMPLE_IMAGES WORK
Exit 77 when chromium is missing."""

import json
import os
import signal
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from dashboard import CHROMIUM, Bench, Browser, wait_for  # noqa: E402

GOOD_IMEI = "356938035643809"
BAD_IMEI = "356938035643817"
HOSTILE_VERSION = "<script>"  # the version reply holds eight characters
HOSTILE_TAIL = "<script>alert(1)</script>"


def tile_js(socket, what):
    """`what` of the socket's tile `t` in the page, or null while there is none."""
    return "(() => { const t = [...document.querySelectorAll('.tile')].find(e => e.dataset.socket === %s); " \
           "return t ? %s : null; })()" % (json.dumps(socket), what)


# The tile's own colour, not only its state's name: a red border.
REDDISH = ("(m => m && +m[1] > 150 && +m[2] < 110 && +m[3] < 110)"
           "(getComputedStyle(t).borderLeftColor.match(/rgba?\\((\\d+), (\\d+), (\\d+)/))")
PERCENT = "Number(t.querySelector('.bar').dataset.percent)"


def main():
    fennix, msm_sim, sample_images, work = sys.argv[1:5]
    if not os.access(CHROMIUM, os.X_OK):
        print("chromium is missing (./run deps installs it)")
        return 77
    os.environ["FENNIX_TIME_SCALE"] = "0.2"
    bench = Bench(fennix, msm_sim, sample_images, work)
    browser = None
    try:
        # socket1 flashes slowly and its device's texts carry markup; socket2's
        # device refuses its AMSS image. Neither device leaves by itself.
        bench.row(["socket1"], "--knob", "id.imei=" + GOOD_IMEI, "--knob", "dl.write-delay-ms=4",
                  "--version-dir", HOSTILE_VERSION, "--build-tail", HOSTILE_TAIL)
        bench.row(["socket2"], "--knob", "id.imei=" + BAD_IMEI, "--knob", "dl.refuse-open=5")
        bench.start_station()
        names = [s["socket"] for s in json.loads(bench.get("/api/sockets")[1])]
        assert len(names) == 2, names
        good = next(n for n in names if n.endswith("socket1"))
        bad = next(n for n in names if n.endswith("socket2"))

        browser = Browser()
        browser.navigate(bench.url("/"))
        browser.evaluate("window.__scripts = document.scripts.length; window.__marker = 1")
        for name in names:
            wait_for("the tile of " + name, lambda: browser.evaluate(tile_js(name, "true")), timeout=10)

        # The running device's progress moves.
        first = wait_for("socket1's progress", lambda: browser.evaluate(
            tile_js(good, "t.dataset.state === 'running' && %s" % PERCENT)), timeout=20)
        wait_for("socket1's progress to move past %s%%" % first, lambda: (browser.evaluate(
            tile_js(good, PERCENT)) or 0) > first, timeout=20)

        # The failed device's tile turns red and shows its cause.
        wait_for("a red failed tile with its cause", lambda: browser.evaluate(tile_js(
            bad, "t.dataset.state === 'failed' && %s && t.querySelector('.cause').textContent" % REDDISH)),
            timeout=30)
        assert "refused" in browser.evaluate(tile_js(bad, "t.querySelector('.cause').textContent"))
        assert not browser.evaluate(tile_js(good, REDDISH)), "a sound tile is red"

        # A device's texts show as text: no script element, no dialog.
        wait_for("the version text on socket1's tile", lambda: browser.evaluate(tile_js(
            good, "t.querySelector('.version').textContent === %s && t.querySelector('.build').textContent"
            ".endsWith(%s)" % (json.dumps(HOSTILE_VERSION), json.dumps(HOSTILE_TAIL)))), timeout=10)
        assert browser.evaluate("document.scripts.length === window.__scripts"), "a device text made a script"
        assert not browser.dialogs(), "a device text opened a dialog"

        # The search finds every run of one IMEI, typed and entered.
        browser.evaluate("document.getElementById('search').focus()")
        browser.call("Input.insertText", text=BAD_IMEI)
        for kind in ("keyDown", "keyUp"):
            browser.call("Input.dispatchKeyEvent", type=kind, key="Enter", code="Enter", windowsVirtualKeyCode=13,
                         text="\r" if kind == "keyDown" else "")
        found = wait_for("the runs of " + BAD_IMEI, lambda: browser.evaluate(
            "[...document.querySelectorAll('#search-results tr')].map(r => r.textContent)"), timeout=10)
        assert all(BAD_IMEI in row for row in found), found

        # A station restart: the same page sees the stream go and come back, and the new station's run.
        wait_for("socket1's run to end", lambda: browser.evaluate(tile_js(good, "t.dataset.state === 'passed'")),
                 timeout=40)
        bench.stop_station(signal.SIGKILL)
        wait_for("the page to see the station gone",
                 lambda: browser.evaluate("document.getElementById('connection').dataset.connected === 'false'"))
        bench.start_station()
        wait_for("socket1 running again on the same page", lambda: browser.evaluate(
            tile_js(good, "t.dataset.state === 'running' && window.__marker === 1")), timeout=30)

        # With a token: refused without it; /?token= sets an HttpOnly cookie and the page works.
        bench.stop_station(signal.SIGKILL)
        bench.start_station("--http-token", "s3cret")
        for path in ("/", "/api/sockets", "/events"):
            status = bench.get(path)[0]
            assert status == 401, "%s without the token: %s" % (path, status)
        assert bench.get("/api/sockets", {"Authorization": "Bearer wrong"})[0] == 401
        assert bench.get("/api/sockets", {"Authorization": "Bearer s3cret"})[0] == 200
        browser.navigate(bench.url("/?token=s3cret"))
        assert "token=" not in browser.evaluate("location.href"), "the token stays in the address"
        assert "s3cret" not in browser.evaluate("document.cookie"), "the token's cookie is readable by scripts"
        wait_for("the tiles behind the token", lambda: all(
            browser.evaluate(tile_js(n, "t.dataset.state !== undefined")) for n in names), timeout=10)
        print("dashboard: all checks passed")
        return 0
    finally:
        if browser:
            browser.close()
        bench.close()


if __name__ == "__main__":
    sys.exit(main())
