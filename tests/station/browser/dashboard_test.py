#!/usr/bin/env python3
"""The station's dashboard in headless Chromium against `fennix station --http`
and virtual devices: a tile per socket, a moving progress, a failed tile in red
with its cause, the IMEI search, the reconnection after a station restart,
device texts shown as text, and the access token.

  dashboard_test.py FENNIX MSM_SIM SAMPLE_IMAGES WORK
Exit 77 when chromium is missing."""

import json
import os
import re
import signal
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from dashboard import CHROMIUM, Bench, Browser, wait_for  # noqa: E402

GOOD_IMEI = "356938035643809"
BAD_IMEI = "356938035643817"
HOSTILE_VERSION = "<script>"  # the version reply holds eight characters
HOSTILE_TAIL = "<script>alert(1)</script>"

# Finds a socket's tile by what it shows: the smallest element around the
# socket's name that also shows a state word and no other socket's name.
PAGE_HELPERS = r"""
window.__fx = {
  states: ['waiting', 'running', 'passed', 'failed', 'interrupted'],
  tile(name, others) {
    const base = name.split('/').pop();
    const leaves = [...document.querySelectorAll('body *')].filter(e => {
      const t = e.textContent.trim();
      return t === name || t === base || t.endsWith('/' + base);
    });
    for (const leaf of leaves) {
      for (let e = leaf; e && e !== document.body; e = e.parentElement) {
        const t = e.textContent;
        if (others.some(o => new RegExp('\\b' + o + '\\b').test(t))) break;
        if (this.states.some(s => t.toLowerCase().includes(s))) return e;
      }
    }
    return null;
  },
  percent(e) {
    const bar = e.querySelector('progress, [role=progressbar]');
    if (bar) return Number(bar.value ?? bar.getAttribute('aria-valuenow'));
    const m = e.textContent.match(/(\d+(?:\.\d+)?)\s*%/);
    return m ? Number(m[1]) : null;
  },
  reddish(e) {
    for (const x of [e, ...e.querySelectorAll('*')]) {
      if (/fail/i.test(x.className && x.className.baseVal !== undefined ? x.className.baseVal : x.className))
        return true;
      const s = getComputedStyle(x);
      for (const c of [s.backgroundColor, s.borderLeftColor, s.borderTopColor, s.color]) {
        const m = c.match(/rgba?\((\d+), (\d+), (\d+)/);
        if (m && +m[1] > 150 && +m[2] < 110 && +m[3] < 110) return true;
      }
    }
    return false;
  },
};
"""


def tile_js(name, names, what):
    others = [n.split("/")[-1] for n in names if n != name]
    return "(() => { const t = window.__fx.tile(%s, %s); return t ? %s : null; })()" % (
        json.dumps(name), json.dumps(others), what)


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
        browser.evaluate(PAGE_HELPERS + "window.__scripts = document.scripts.length; window.__marker = 1")
        for name in names:
            wait_for("the tile of " + name, lambda: browser.evaluate(tile_js(name, names, "true")), timeout=10)

        # The running device's progress moves.
        first = wait_for("socket1's progress", lambda: browser.evaluate(
            tile_js(good, names, "/running/i.test(t.textContent) && window.__fx.percent(t)")), timeout=20)
        wait_for("socket1's progress to move past %s%%" % first, lambda: (browser.evaluate(
            tile_js(good, names, "window.__fx.percent(t)")) or 0) > first, timeout=20)

        # The failed device's tile turns red and shows its cause.
        wait_for("socket2's failure", lambda: bench.get("/api/sockets")[1].count('"failed"'), timeout=30)
        cause = next(s for s in json.loads(bench.get("/api/sockets")[1]) if s["socket"] == bad)["last"]["cause"]
        assert cause, "the failed run has no cause"
        wait_for("a red tile with the cause " + cause, lambda: browser.evaluate(tile_js(
            bad, names, "window.__fx.reddish(t) && t.textContent.includes(%s)" % json.dumps(cause))), timeout=10)
        assert not browser.evaluate(tile_js(good, names, "window.__fx.reddish(t)")), "a sound tile is red"

        # A device's texts show as text: no script element, no dialog.
        wait_for("the version text on socket1's tile", lambda: browser.evaluate(
            tile_js(good, names, "t.textContent.includes(%s)" % json.dumps(HOSTILE_VERSION))), timeout=10)
        assert browser.evaluate("document.scripts.length === window.__scripts"), "a device text made a script"
        assert not browser.dialogs(), "a device text opened a dialog"

        # The search finds every run of one IMEI.
        browser.call("Runtime.evaluate", expression="document.querySelector('input[type=search], input').focus()")
        browser.call("Input.insertText", text=BAD_IMEI)
        for kind in ("keyDown", "keyUp"):
            browser.call("Input.dispatchKeyEvent", type=kind, key="Enter", code="Enter", windowsVirtualKeyCode=13)
        wait_for("the page to ask for the runs of " + BAD_IMEI, lambda: browser.evaluate(
            "performance.getEntriesByType('resource').some(r => /api\\/runs\\?.*imei=%s/.test(r.name))" % BAD_IMEI),
            timeout=10)
        wait_for("a listed run of " + BAD_IMEI, lambda: browser.evaluate(
            "[...document.querySelectorAll('tr, li')].some(r => r.textContent.includes(%s) && "
            "!r.textContent.includes(%s))" % (json.dumps(BAD_IMEI), json.dumps(GOOD_IMEI))), timeout=10)

        # A station restart: the same page shows the new station's runs.
        wait_for("socket1's run to end", lambda: browser.evaluate(
            tile_js(good, names, "/passed/i.test(t.textContent)")), timeout=40)
        bench.stop_station(signal.SIGKILL)
        time.sleep(1)
        bench.start_station()
        wait_for("socket1 running again on the same page", lambda: browser.evaluate(
            tile_js(good, names, "/running/i.test(t.textContent) && window.__marker === 1")), timeout=30)

        # With a token: refused without it; /?token= sets an HttpOnly cookie and the page works.
        bench.stop_station(signal.SIGKILL)
        bench.start_station("--http-token", "s3cret")
        for path in ("/", "/api/sockets", "/events"):
            status = bench.get(path)[0]
            assert status == 401, "%s without the token: %s" % (path, status)
        assert bench.get("/api/sockets", {"Authorization": "Bearer wrong"})[0] == 401
        assert bench.get("/api/sockets", {"Authorization": "Bearer s3cret"})[0] == 200
        browser.navigate(bench.url("/?token=s3cret"))
        browser.evaluate(PAGE_HELPERS)
        assert not re.search(r"token=", browser.evaluate("location.href")), "the token stays in the address"
        assert "s3cret" not in browser.evaluate("document.cookie"), "the token's cookie is readable by scripts"
        wait_for("the tiles behind the token", lambda: all(
            browser.evaluate(tile_js(n, names, "true")) for n in names), timeout=10)
        print("dashboard: all checks passed")
        return 0
    finally:
        if browser:
            browser.close()
        bench.close()


if __name__ == "__main__":
    sys.exit(main())
