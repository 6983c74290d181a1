"""The installer's window served as a web page, seen and used in a real browser.

Usage: browser_test.py SERVE_SCRIPT PROGRAM VEXOR_HOST_TOOL FORM_GEOMETRY

Starts the window through SERVE_SCRIPT (the way tools/run.sh serves it on a
machine without a display) on a fresh simulated host, opens the printed
address in headless Chromium driven over WebDriver, and checks that the page
shows the installer's window: a screenshot whose window area is drawn, not
blank and not an error page. Then clicks "Установить" where the form's layout
puts it and reads the result from the host: the installed marker is set.
With VEXOR_BROWSER_SHOT=FILE, the window after the install is saved there.
"""
import base64
import json
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
import urllib.request
import zlib


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def own_address():
    """This machine's address on its network (no packet is sent), or None."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        try:
            s.connect(("10.255.255.255", 1))
            address = s.getsockname()[0]
        except OSError:
            return None
    return None if address.startswith("127.") else address


def pixels(png):
    """RGB rows of an 8-bit RGB or RGBA PNG, as lists of (r, g, b)."""
    if png[:8] != b"\x89PNG\r\n\x1a\n":
        fail("the screenshot is not a PNG")
    pos, data, width = 8, b"", 0
    while pos < len(png):
        length, kind = struct.unpack(">I4s", png[pos:pos + 8])
        chunk = png[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", chunk[:10])
            if depth != 8 or colour not in (2, 6):
                fail("unexpected PNG format %d/%d" % (depth, colour))
            size = 3 if colour == 2 else 4
        elif kind == b"IDAT":
            data += chunk
        pos += 12 + length
    raw = zlib.decompress(data)
    stride = width * size
    rows, previous = [], bytearray(stride)
    for y in range(height):
        line = raw[y * (stride + 1):(y + 1) * (stride + 1)]
        kind, row = line[0], bytearray(line[1:])
        for i in range(stride):
            a = row[i - size] if i >= size else 0
            b = previous[i]
            c = previous[i - size] if i >= size else 0
            if kind == 1:
                row[i] = (row[i] + a) & 0xFF
            elif kind == 2:
                row[i] = (row[i] + b) & 0xFF
            elif kind == 3:
                row[i] = (row[i] + (a + b) // 2) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                row[i] = (row[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 0xFF
        rows.append([tuple(row[x * size:x * size + 3]) for x in range(width)])
        previous = row
    return rows


def write_png(path, rows):
    """Writes RGB rows as an 8-bit PNG."""
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    raw = b"".join(b"\0" + bytes(v for p in row for v in p) for row in rows)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" +
                chunk(b"IHDR", struct.pack(">IIBBBBB", len(rows[0]), len(rows), 8, 2, 0, 0, 0)) +
                chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


class Browser:
    def __init__(self, work):
        self.port = free_port()
        self.driver = subprocess.Popen(
            ["chromedriver", "--port=%d" % self.port],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.base = "http://127.0.0.1:%d" % self.port
        for _ in range(100):
            try:
                self.call("GET", "/status")
                break
            except OSError:
                time.sleep(0.1)
        # Flags for a closed network: nothing but the page is fetched.
        args = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                "--no-first-run", "--disable-background-networking",
                "--disable-component-update", "--disable-sync",
                "--window-size=1000,800", "--user-data-dir=" + os.path.join(work, "chromium")]
        caps = {"capabilities": {"alwaysMatch": {"browserName": "chrome", "goog:chromeOptions": {
            "binary": shutil.which("chromium") or "/usr/bin/chromium", "args": args}}}}
        self.session = "/session/" + self.call("POST", "/session", caps)["sessionId"]

    def call(self, method, path, body=None):
        request = urllib.request.Request(
            self.base + path, method=method,
            data=json.dumps(body).encode() if body is not None else None,
            headers={"Content-Type": "application/json"})
        with urllib.request.urlopen(request, timeout=60) as answer:
            return json.load(answer)["value"]

    def run(self, script):
        return self.call("POST", self.session + "/execute/sync", {"script": script, "args": []})

    def close(self):
        try:
            self.call("DELETE", self.session)
        except OSError:
            pass
        self.driver.terminate()
        self.driver.wait()


def main():
    serve, program, tool, geometry = sys.argv[1:5]
    work = tempfile.mkdtemp(prefix="browser.")
    server = browser = None
    try:
        env = dict(os.environ, VEXOR_HOST_DIR=os.path.join(work, "host"),
                   VEXOR_VNC_PORT=str(free_port()), VEXOR_WEB_PORT=str(free_port()),
                   XDG_RUNTIME_DIR=work)
        env.pop("DISPLAY", None)
        subprocess.run([tool, "create", "--with-csp"], env=env, check=True,
                       stdout=subprocess.DEVNULL)
        # Where the form's layout puts the button, on the same platform.
        size = subprocess.run([geometry], env=dict(env, QT_QPA_PLATFORM="vnc:size=800x600:port=%d"
                                                   % free_port()),
                              capture_output=True, text=True, check=True).stdout.split()
        button_x, button_y, window_w, window_h = map(int, size)

        os.makedirs(os.path.join(work, "program"))
        shutil.copy(program, os.path.join(work, "program"))
        server = subprocess.Popen(
            ["sh", serve, os.path.join(work, "program", os.path.basename(program))],
            env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
            start_new_session=True)
        address = None
        for line in server.stdout:
            found = re.search(r"http://127\.0\.0\.1:\d+/\S+", line)
            if found:
                address = found.group(0)
                break
        if not address:
            fail("the window was not served: no address printed")

        # Nothing but this machine reaches the window: the ports answer on
        # loopback and not on the machine's own address, when it has one.
        outward = own_address()
        for port in (env["VEXOR_VNC_PORT"], env["VEXOR_WEB_PORT"]):
            with socket.socket() as s:
                s.settimeout(2)
                if outward and s.connect_ex((outward, int(port))) == 0:
                    fail("port %s answers on %s, not on loopback only" % (port, outward))

        browser = Browser(work)
        browser.call("POST", browser.session + "/url", {"url": address})
        canvas = None
        for _ in range(200):
            canvas = browser.run(
                "const c = document.querySelector('canvas');"
                "return c && c.width > 0 ? [c.getBoundingClientRect().left,"
                " c.getBoundingClientRect().top, c.width, c.height] : null;")
            if canvas and canvas[2] >= window_w:
                break
            time.sleep(0.1)
        if not canvas:
            fail("the page shows no drawing of the window")
        time.sleep(1)
        rows = pixels(base64.b64decode(browser.call("GET", browser.session + "/screenshot")))
        left, top = int(canvas[0]), int(canvas[1])
        area = [rows[y][x] for y in range(top, top + window_h, 3)
                for x in range(left, left + window_w, 3)]
        colours = len(set(area))
        light = sum(1 for r, g, b in area if r + g + b > 600) / len(area)
        # A drawn window: a light dialog face with text and a log pane on it.
        if colours < 8 or light < 0.3:
            fail("the window area is not drawn (%d colours, %.0f%% light)" % (colours, 100 * light))

        browser.call("POST", browser.session + "/actions", {"actions": [{
            "type": "pointer", "id": "mouse", "parameters": {"pointerType": "mouse"},
            "actions": [
                {"type": "pointerMove", "x": left + button_x, "y": top + button_y, "duration": 0},
                {"type": "pointerDown", "button": 0}, {"type": "pause", "duration": 100},
                {"type": "pointerUp", "button": 0}]}]})
        marker = "HKLM\\SOFTWARE\\Quellon\\Vexor K Crypto Pro"
        for _ in range(100):
            answer = subprocess.run([tool, "reg", "query", marker, "/ve", "/reg:32"], env=env,
                                    capture_output=True, text=True)
            if answer.returncode == 0 and re.search(r"REG_SZ\s+1\s*$", answer.stdout, re.M):
                break
            time.sleep(0.2)
        else:
            fail("a click on the install button did not install: " + answer.stdout + answer.stderr)
        # The window after the install, for the README.
        if os.environ.get("VEXOR_BROWSER_SHOT"):
            time.sleep(2)
            rows = pixels(base64.b64decode(browser.call("GET", browser.session + "/screenshot")))
            write_png(os.environ["VEXOR_BROWSER_SHOT"],
                      [row[left:left + window_w] for row in rows[top:top + window_h]])
        print("ok: the window is drawn in the browser (%d colours) and a click installed" % colours)
    finally:
        if browser:
            browser.close()
        if server:
            os.killpg(server.pid, signal.SIGINT)
            try:
                server.wait(timeout=20)
            except subprocess.TimeoutExpired:
                os.killpg(server.pid, signal.SIGKILL)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
