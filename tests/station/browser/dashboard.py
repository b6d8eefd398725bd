"""Headless Chromium over its DevTools protocol, and a bench of virtual devices
served by `fennix station --http`: the pieces the dashboard's browser test,
its screenshot and its load run share. Standard library only."""

import base64
import hashlib
import json
import os
import shutil
import signal
import socket
import struct
import subprocess
import tempfile
import time
import urllib.error
import urllib.request

CHROMIUM = os.environ.get("FENNIX_CHROMIUM", "/usr/bin/chromium")


def wait_for(what, probe, timeout=30.0, step=0.1):
    """The first true value of probe(), or an AssertionError naming what did not come."""
    end = time.monotonic() + timeout
    while True:
        value = probe()
        if value:
            return value
        if time.monotonic() > end:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(step)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class WebSocket:
    """A client side of RFC 6455 text messages, enough for the DevTools protocol."""

    def __init__(self, url, timeout=30.0):
        assert url.startswith("ws://"), url
        hostport, _, path = url[5:].partition("/")
        host, _, port = hostport.partition(":")
        self.sock = socket.create_connection((host, int(port or 80)), timeout=timeout)
        key = base64.b64encode(os.urandom(16)).decode()
        self.sock.sendall(("GET /%s HTTP/1.1\r\nHost: %s\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                           "Sec-WebSocket-Key: %s\r\nSec-WebSocket-Version: 13\r\n\r\n" % (path, hostport, key)).encode())
        head = b""
        while b"\r\n\r\n" not in head:
            chunk = self.sock.recv(4096)
            if not chunk:
                raise ConnectionError("the DevTools endpoint closed during the handshake")
            head += chunk
        head, _, self.buffer = head.partition(b"\r\n\r\n")
        accept = base64.b64encode(hashlib.sha1((key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11").encode()).digest())
        if b" 101 " not in head.split(b"\r\n")[0] or accept not in head:
            raise ConnectionError("not a WebSocket answer: " + head.decode(errors="replace"))

    def send(self, text):
        data = text.encode()
        mask = os.urandom(4)
        n = len(data)
        if n < 126:
            header = struct.pack("!BB", 0x81, 0x80 | n)
        elif n < 65536:
            header = struct.pack("!BBH", 0x81, 0x80 | 126, n)
        else:
            header = struct.pack("!BBQ", 0x81, 0x80 | 127, n)
        self.sock.sendall(header + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(data)))

    def _read(self, n):
        while len(self.buffer) < n:
            chunk = self.sock.recv(max(65536, n - len(self.buffer)))
            if not chunk:
                raise ConnectionError("the DevTools endpoint closed")
            self.buffer += chunk
        data, self.buffer = self.buffer[:n], self.buffer[n:]
        return data

    def receive(self):
        message = b""
        while True:
            first, second = self._read(2)
            n = second & 0x7F
            if n == 126:
                n = struct.unpack("!H", self._read(2))[0]
            elif n == 127:
                n = struct.unpack("!Q", self._read(8))[0]
            mask = self._read(4) if second & 0x80 else None
            payload = self._read(n)
            if mask:
                payload = bytes(b ^ mask[i % 4] for i, b in enumerate(payload))
            opcode = first & 0x0F
            if opcode == 0x8:
                raise ConnectionError("the DevTools endpoint closed the WebSocket")
            if opcode == 0x9:  # a ping wants its pong
                self.sock.sendall(struct.pack("!BB", 0x8A, 0x80 | len(payload)) + b"\0\0\0\0" + payload)
                continue
            if opcode in (0x0, 0x1, 0x2):
                message += payload
                if first & 0x80:
                    return message.decode()

    def close(self):
        self.sock.close()


class Browser:
    """Headless Chromium with one page, driven over the DevTools protocol."""

    def __init__(self, size=(1400, 900)):
        self.profile = tempfile.mkdtemp(prefix="fennix-chromium-")
        args = [CHROMIUM, "--headless=new", "--remote-debugging-port=0", "--user-data-dir=" + self.profile,
                "--no-first-run", "--no-default-browser-check", "--disable-gpu", "--disable-extensions",
                "--window-size=%d,%d" % size, "about:blank"]
        if os.geteuid() == 0:
            args.insert(1, "--no-sandbox")
        self.process = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        active = os.path.join(self.profile, "DevToolsActivePort")
        port = wait_for("chromium's DevTools port", lambda: os.path.exists(active) and
                        open(active).read().split("\n")[0].strip(), timeout=30)
        pages = wait_for("chromium's page", lambda: [t for t in self._targets(port) if t.get("type") == "page"])
        self.ws = WebSocket(pages[0]["webSocketDebuggerUrl"])
        self.next_id = 0
        self.events = []
        self.call("Page.enable")
        self.call("Runtime.enable")

    @staticmethod
    def _targets(port):
        try:
            with urllib.request.urlopen("http://127.0.0.1:%s/json/list" % port, timeout=5) as answer:
                return json.load(answer)
        except (OSError, ValueError):
            return []

    def call(self, method, **params):
        self.next_id += 1
        self.ws.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            message = json.loads(self.ws.receive())
            if message.get("id") == self.next_id:
                if "error" in message:
                    raise RuntimeError("%s: %s" % (method, message["error"]))
                return message.get("result", {})
            if "method" in message:
                self.events.append(message)
                if message["method"] == "Page.javascriptDialogOpening":
                    self.ws.send(json.dumps({"id": 0, "method": "Page.handleJavaScriptDialog",
                                             "params": {"accept": True}}))

    def evaluate(self, expression):
        """The value of a JavaScript expression in the page (a promise is awaited)."""
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True, awaitPromise=True)
        if "exceptionDetails" in result:
            raise RuntimeError("page script failed: %s" % result["exceptionDetails"])
        return result["result"].get("value")

    def navigate(self, url):
        self.call("Page.navigate", url=url)
        wait_for("the page to load", lambda: self.evaluate("document.readyState") == "complete")

    def screenshot(self, path):
        data = self.call("Page.captureScreenshot", format="png", captureBeyondViewport=True)["data"]
        with open(path, "wb") as f:
            f.write(base64.b64decode(data))

    def dialogs(self):
        return [e for e in self.events if e["method"] == "Page.javascriptDialogOpening"]

    def close(self):
        try:
            self.ws.close()
        finally:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
            shutil.rmtree(self.profile, ignore_errors=True)


class Bench:
    """A work folder with a sample image set, rows of virtual devices (msm-sim
    processes) and `fennix station --http` serving their sockets."""

    def __init__(self, fennix, msm_sim, sample_images, work, amss_kb=256):
        self.fennix, self.msm_sim = fennix, msm_sim
        self.work = work
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(os.path.join(work, "sockets"))
        self.images = os.path.join(work, "images")
        subprocess.run([sample_images, self.images, "--amss-kb", str(amss_kb)], check=True)
        self.db = os.path.join(work, "runs.db")
        self.sockets = []
        self.children = []
        self.station = None
        self.port = free_port()

    def row(self, names, *options):
        """Sockets `names` (one msm-sim), each a row of devices given by msm-sim's options."""
        args = [self.msm_sim, "--no-stdin", "--dir", os.path.join(self.work, "sockets"), "-n", str(len(names))]
        for name in names:
            args += ["--name", name]
        child = subprocess.Popen(args + list(options), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.children.append(child)
        for _ in names:
            self.sockets.append(child.stdout.readline().strip())
        return child

    def start_station(self, *extra, name="bench-1"):
        out = open(os.path.join(self.work, "station-%d.jsonl" % len(self.children)), "w")
        args = [self.fennix, "station", "--json", "--db", self.db, "--name", name, "--recipe", "flash",
                "--images", self.images, "--model", "6280", "--skip-check",
                "--http", "127.0.0.1:%d" % self.port] + list(extra)
        for path in self.sockets:
            args += ["--socket", path]
        self.station = subprocess.Popen(args, stdout=out, stderr=subprocess.STDOUT)
        self.station_log = out.name
        wait_for("the station's HTTP server", self._listening, timeout=20)
        return self.station

    def _listening(self):
        if self.station.poll() is not None:
            raise AssertionError("the station ended (%s): %s" % (self.station.returncode, open(self.station_log).read()))
        try:
            socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
            return True
        except OSError:
            return False

    def url(self, path="/"):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def get(self, path, headers=None):
        """(status, body) of a GET on the station."""
        request = urllib.request.Request(self.url(path), headers=headers or {})
        try:
            with urllib.request.urlopen(request, timeout=10) as answer:
                return answer.status, answer.read().decode()
        except urllib.error.HTTPError as e:
            return e.code, e.read().decode(errors="replace")

    def stop_station(self, sig=signal.SIGTERM):
        if self.station and self.station.poll() is None:
            self.station.send_signal(sig)
            try:
                self.station.wait(30)
            except subprocess.TimeoutExpired:
                self.station.kill()
                self.station.wait()

    def close(self):
        self.stop_station(signal.SIGKILL)
        for child in self.children:
            child.terminate()
            try:
                child.wait(10)
            except subprocess.TimeoutExpired:
                child.kill()
                child.wait()
