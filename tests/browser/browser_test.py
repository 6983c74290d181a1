"""The installer's window served as a web page, seen and used in a real browser.

Usage: browser_test.py SERVE_SCRIPT PROGRAM VEXOR_HOST_TOOL FORM_GEOMETRY

Serves the window through SERVE_SCRIPT (the way tools/run.sh does on a
machine without a display) and opens the printed address in headless
Chromium driven over WebDriver. What the page shows must be what the X
server holds, pixel for pixel, and no more than the window: the same
colours, nothing left of a closed box, no edge beside the window. Three
starts, each checked so:
  - on a host without Crypto Pro, a click on "Установить" where the form's
    layout puts it fails, and its lines show red once the box is closed;
  - on a host with Crypto Pro, the click installs (the marker is set);
  - the next start asks about removal; answered "Да" from the page, the
    question leaves no pixel behind.
The page's title names the product. With VEXOR_BROWSER_SHOT=FILE, the window
after the install is saved there.
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


def xwd_pixels(x_env):
    """RGB rows of the X server's screen, read with xwd."""
    data = subprocess.run(["xwd", "-root", "-silent"], env=x_env, capture_output=True,
                          check=True).stdout
    fields = struct.unpack(">25I", data[:100])
    header_size, width, height = fields[0], fields[4], fields[5]
    byte_order, bits, stride = fields[7], fields[11], fields[12]
    masks, colours = fields[14:17], fields[19]
    if bits != 32:
        fail("the X screen has %d bits per pixel, not 32" % bits)
    start = header_size + 12 * colours
    order = "<" if byte_order == 0 else ">"
    shifts = [(mask & -mask).bit_length() - 1 for mask in masks]
    rows = []
    for y in range(height):
        line = struct.unpack_from("%s%dI" % (order, width), data, start + y * stride)
        rows.append([tuple((p & m) >> s for m, s in zip(masks, shifts)) for p in line])
    return rows


class Served:
    """The window served by SERVE_SCRIPT, and the page opened in the browser."""

    def __init__(self, serve, program, env, browser):
        self.server = subprocess.Popen(
            ["sh", serve, program], env=env, stdout=subprocess.PIPE,
            stderr=subprocess.STDOUT, text=True, start_new_session=True)
        self.address = self.x_env = None
        said = []
        for line in self.server.stdout:
            said.append(line)
            found = re.search(r"http://127\.0\.0\.1:\d+/\S+", line)
            if found:
                self.address = found.group(0)
            found = re.search(r"X display (\S+), authority (\S+)", line)
            if found:
                display, authority = found.groups()
                # What this machine's X tools need to reach the served display.
                self.x_env = dict(os.environ, DISPLAY=display, XAUTHORITY=authority)
                break
        if not self.address or not self.x_env:
            self.close()
            fail("the window was not served: " + "".join(said))
        self.browser = browser
        browser.call("POST", browser.session + "/url", {"url": self.address})

    def canvas(self, width=None, height=None):
        """Waits for the page to draw a screen of width x height (of any size
        without them); its place."""
        for _ in range(200):
            place = self.browser.run(
                "const c = document.querySelector('canvas');"
                "return c && c.width > 0 ? [c.getBoundingClientRect().left,"
                " c.getBoundingClientRect().top, c.width, c.height] : null;")
            if place and (width is None or place[2:] == [width, height]):
                return int(place[0]), int(place[1])
            time.sleep(0.1)
        fail("the page %r shows %s, not a screen of the window's size %dx%d"
             % (self.browser.run("return document.title;"),
                place[2:] if place else "nothing", width, height))

    def seen(self, left, top, width, height):
        """The page's drawing, once it equals the X server's screen."""
        fail_size = None
        for _ in range(50):
            time.sleep(0.2)
            shot = pixels(base64.b64decode(
                self.browser.call("GET", self.browser.session + "/screenshot")))
            page = [row[left:left + width] for row in shot[top:top + height]]
            screen = xwd_pixels(self.x_env)
            if (len(screen[0]), len(screen)) != (width, height):
                fail_size = "the X screen is %dx%d, not the window's %dx%d" % (
                    len(screen[0]), len(screen), width, height)
                continue
            fail_size = None
            # The page draws the pointer, which the X server keeps off its screen.
            px, py = self.pointer()
            wrong = [(x, y) for y in range(height) for x in range(width)
                     if (abs(x - px) > 16 or abs(y - py) > 16) and
                     max(abs(a - b) for a, b in zip(page[y][x], screen[y][x])) > 8]
            if not wrong:
                return page
        if fail_size:
            fail(fail_size)
        x, y = wrong[0]
        fail("%d pixels of the page differ from the screen of %dx%d, the first at %d,%d: "
             "%s, not %s" % (len(wrong), len(screen[0]), len(screen), x, y, page[y][x],
                             screen[y][x]))

    def press(self, key):
        """A key pressed and released on the page."""
        self.browser.call("POST", self.browser.session + "/actions", {"actions": [{
            "type": "key", "id": "keyboard",
            "actions": [{"type": "keyDown", "value": key}, {"type": "keyUp", "value": key}]}]})

    def click(self, x, y):
        self.browser.call("POST", self.browser.session + "/actions", {"actions": [{
            "type": "pointer", "id": "mouse", "parameters": {"pointerType": "mouse"},
            "actions": [
                {"type": "pointerMove", "x": x, "y": y, "duration": 0},
                {"type": "pointerDown", "button": 0}, {"type": "pause", "duration": 100},
                {"type": "pointerUp", "button": 0}]}]})

    def pointer(self):
        where = subprocess.run(["xdotool", "getmouselocation", "--shell"], env=self.x_env,
                               capture_output=True, text=True).stdout
        values = dict(line.split("=", 1) for line in where.split())
        return int(values.get("X", -100)), int(values.get("Y", -100))

    def windows(self):
        """How many windows the X server shows."""
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "Quellon"],
                               env=self.x_env, capture_output=True, text=True).stdout
        return len(found.split())

    def await_windows(self, count, what):
        for _ in range(100):
            if self.windows() == count:
                return
            time.sleep(0.1)
        fail(what)

    def close(self):
        os.killpg(self.server.pid, signal.SIGINT)
        try:
            self.server.wait(timeout=20)
        except subprocess.TimeoutExpired:
            os.killpg(self.server.pid, signal.SIGKILL)


def await_log(log, lines):
    """Waits for install.log to end with one of lines (decoded from Windows-1251)."""
    last = None
    for _ in range(150):
        if os.path.exists(log):
            with open(log, encoding="cp1251") as f:
                text = f.read().splitlines()
            last = text[-1] if text else None
            if last in lines:
                return
        time.sleep(0.2)
    fail("the log ends with %r, not with any of %r" % (last, lines))


def red(page):
    """How many pixels are plainly red: the log's error lines."""
    return sum(1 for row in page for r, g, b in row if r > 180 and g < 80 and b < 80)


def main():
    serve, program, tool, geometry = sys.argv[1:5]
    work = tempfile.mkdtemp(prefix="browser.")
    browser = served = None
    try:
        env = dict(os.environ, VEXOR_HOST_DIR=os.path.join(work, "host"),
                   VEXOR_VNC_PORT=str(free_port()), VEXOR_WEB_PORT=str(free_port()),
                   XDG_RUNTIME_DIR=work)
        env.pop("DISPLAY", None)
        # Where the form's layout puts the button, and the window's size.
        size = subprocess.run([geometry], env=dict(env, QT_QPA_PLATFORM="offscreen"),
                              capture_output=True, text=True, check=True).stdout.split()
        button_x, button_y, width, height = map(int, size)
        os.makedirs(os.path.join(work, "program"))
        shutil.copy(program, os.path.join(work, "program"))
        program = os.path.join(work, "program", os.path.basename(program))
        log = os.path.join(work, "program", "install.log")
        browser = Browser(work)

        # No Crypto Pro: the install fails, in red lines and a box.
        subprocess.run([tool, "create"], env=env, check=True, stdout=subprocess.DEVNULL)
        served = Served(serve, program, env, browser)
        left, top = served.canvas(width, height)
        title = browser.run("return document.title;")
        if title != "Установка Quellon Vexor K для Крипто Про":
            fail("the page's title is %r" % title)
        outward = own_address()
        if outward is None:
            print("the check that the ports answer on loopback only is skipped: "
                  "this machine has no address but loopback")
        for port in (env["VEXOR_VNC_PORT"], env["VEXOR_WEB_PORT"]):
            with socket.socket() as s:
                s.settimeout(2)
                if outward and s.connect_ex((outward, int(port))) == 0:
                    fail("port %s answers on %s, not on loopback only" % (port, outward))
        served.seen(left, top, width, height)
        served.click(left + button_x, top + button_y)
        await_log(log, ["Не найдена папка с Крипто Про! Отмена установки!"])
        served.await_windows(2, "no box told that the install failed")
        served.press("\uE007")
        served.await_windows(1, "Enter on the page did not close the box")
        page = served.seen(left, top, width, height)
        if red(page) < 50:
            fail("the failed install's lines are not red on the page")
        served.close()

        # With Crypto Pro: the click installs.
        shutil.rmtree(env["VEXOR_HOST_DIR"])
        subprocess.run([tool, "create", "--with-csp"], env=env, check=True,
                       stdout=subprocess.DEVNULL)
        served = Served(serve, program, env, browser)
        left, top = served.canvas(width, height)
        served.click(left + button_x, top + button_y)
        await_log(log, ["Библиотеки Quellon Vexor K для КриптоПро успешно установлены!"])
        page = served.seen(left, top, width, height)
        if os.environ.get("VEXOR_BROWSER_SHOT"):
            write_png(os.environ["VEXOR_BROWSER_SHOT"], page)
        served.close()

        # The next start asks first; "Да" removes, and the question is gone.
        served = Served(serve, program, env, browser)
        served.await_windows(1, "no question about removal")
        served.canvas()
        served.press("\uE007")
        await_log(log, ["Удаление прошло успешно."])
        left, top = served.canvas(width, height)
        served.seen(left, top, width, height)
        served.close()
        served = None
        print("ok: the page shows the window as the X server holds it, red error lines "
              "and no closed box, under the title %r" % title)
    finally:
        if served:
            served.close()
        if browser:
            browser.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
