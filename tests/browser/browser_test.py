# The installer's window served as a web page, seen and used in a real browser.
#
# Usage: browser_test.py SERVE_SCRIPT PROGRAM VEXOR_HOST_TOOL FORM_GEOMETRY
#
# Serves the window through SERVE_SCRIPT (the way tools/run.sh does on a
# machine without a display) and opens the printed address in headless
# Chromium driven over WebDriver. The page's screen must be exactly the
# window's size, drawn unscaled on whole pixels, and hold what the X server
# holds, pixel for pixel: the same colours (within what the VNC encoding
# loses), nothing left of a closed box. Three starts:
#   - on a host without Crypto Pro, a click on "Установить" where the form's
#     layout puts it fails, and its lines show red once the box is closed;
#   - on a host with Crypto Pro, the click installs;
#   - the next start asks about removal; answered "Да" from the page, the
#     question leaves no pixel behind.
# The page's title names the product. With VEXOR_BROWSER_SHOT=FILE, the window
# after the install is saved there as a PNG.
#
# Every step waits for a condition (a line in the log, the keyboard focus on a
# box, a box gone, the page equal to the screen), polling, so that a loaded
# machine makes the test slower, never wrong. Enter sent before the box holds
# the X keyboard focus reaches the main window, which the box blocks, and the
# box stays: the likely cause of the failures once seen on a loaded machine.
import atexit
import base64
import json
import os
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time
import urllib.request

TITLE = "Установка Quellon Vexor K для Крипто Про"
# The page's screen: where it is, its size, its size as drawn; its pixels (RGBA).
CANVAS = "const c = document.querySelector('#screen canvas'), r = c && c.getBoundingClientRect();"
PLACE = CANVAS + "return c ? [r.left, r.top, c.width, c.height, r.width, r.height] : null;"
PIXELS = CANVAS + """const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
    return btoa(Array.from(d, (v) => String.fromCharCode(v)).join(''));"""


def fail(message):
    sys.exit("FAIL: " + message)


# condition()'s first true answer, polled every 0.1 s; what() tells why none came.
def wait_for(condition, what, tries=200):
    for _ in range(tries):
        if answer := condition():
            return answer
        time.sleep(0.1)
    fail(what())


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def listening(port, address="127.0.0.1"):
    with socket.socket() as s:
        s.settimeout(2)
        return s.connect_ex((address, int(port))) == 0


# The ports answer on loopback only, not on this machine's address on its
# network, found without sending a packet.
def check_loopback_only(ports):
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        try:
            s.connect(("10.255.255.255", 1))
            outward = s.getsockname()[0]
        except OSError:
            outward = "127.0.0.1"
    if outward.startswith("127."):
        print("the loopback-only check of the ports is skipped: no address but loopback")
        return
    for port in ports:
        if listening(port, outward):
            fail("port %s answers on %s, not on loopback only" % (port, outward))


class Browser:
    def __init__(self, work):
        port = free_port()
        self.driver = subprocess.Popen(["chromedriver", "--port=%d" % port],
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        atexit.register(self.close)
        self.base = "http://127.0.0.1:%d" % port
        # Flags for a closed network: nothing but the page is fetched.
        args = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                "--disable-background-networking", "--disable-component-update", "--disable-sync",
                "--window-size=1000,800", "--user-data-dir=" + os.path.join(work, "chromium")]
        options = {"binary": shutil.which("chromium") or "/usr/bin/chromium", "args": args}
        caps = {"alwaysMatch": {"browserName": "chrome", "goog:chromeOptions": options}}
        wait_for(lambda: listening(port), lambda: "chromedriver did not start")
        session = self.call("POST", "/session", {"capabilities": caps})
        self.base += "/session/" + session["sessionId"]

    def call(self, method, path, body=None):
        data = json.dumps(body).encode() if body is not None else None
        request = urllib.request.Request(self.base + path, method=method, data=data,
                                         headers={"Content-Type": "application/json"})
        with urllib.request.urlopen(request, timeout=60) as answer:
            return json.load(answer)["value"]

    def run(self, script):
        return self.call("POST", "/execute/sync", {"script": script, "args": []})

    def act(self, kind, device, *actions):
        self.call("POST", "/actions", {"actions": [{"type": kind, "id": device,
                                                    "actions": list(actions)}]})

    def close(self):
        self.call("DELETE", "")
        self.driver.terminate()


# The window served by SERVE_SCRIPT, and the page opened in the browser.
class Served:
    def __init__(self, serve, program, env, browser):
        self.browser = browser
        self.server = subprocess.Popen(["sh", serve, program], env=env, stdout=subprocess.PIPE,
                                       stderr=subprocess.STDOUT, text=True)
        atexit.register(self.close)
        said = ""
        for line in self.server.stdout:
            said += line
            if line.startswith("X display "):
                break
        else:
            fail("the window was not served: " + said)
        # The page's address, and what this machine's X tools need to reach the
        # served display: "X display :N, authority FILE".
        words = said.split()
        self.x_env = dict(os.environ, DISPLAY=words[-3].rstrip(","), XAUTHORITY=words[-1])
        browser.call("POST", "/url", {"url": next(w for w in words if w.startswith("http://"))})

    def x(self, *command, text=True):
        return subprocess.run(command, env=self.x_env, capture_output=True, text=text).stdout

    # The X server's screen: its size and its pixels' [r, g, b], read with xwd.
    def screen(self):
        data = self.x("xwd", "-root", "-silent", text=False)
        fields = struct.unpack(">25I", data[:100])
        width, height, masks = fields[4], fields[5], fields[14:17]
        shifts = [(mask & -mask).bit_length() - 1 for mask in masks]
        # Xvnc's pixels are 32 bits, which leave no padding at the rows' ends.
        count = "%s%dI" % ("<" if fields[7] == 0 else ">", width * height)
        pixels = struct.unpack_from(count, data, fields[0] + 12 * fields[19])
        return [width, height], [[(p & m) >> s for m, s in zip(masks, shifts)] for p in pixels]

    # The page's pixels (RGBA), once its screen is the window's size, drawn
    # unscaled in its top left corner, and equals the X server's: each colour
    # within 8, but near the pointer, which the page draws.
    def seen(self, size):
        for _ in range(100):
            place, wrong = self.browser.run(PLACE), None
            if place == [0, 0] + size + size:
                page = base64.b64decode(self.browser.run(PIXELS))
                shown, screen = self.screen()
                where = self.x("xdotool", "getmouselocation").split()  # x:X y:Y ...
                pointer = [int(word[2:]) for word in where[:2]]
                wrong = [(i % size[0], i // size[0]) for i, pixel in enumerate(screen)
                         if max(abs(page[4 * i + k] - pixel[k]) for k in range(3)) > 8 and
                         max(abs(i % size[0] - pointer[0]), abs(i // size[0] - pointer[1])) > 16]
                if shown == size and len(page) == 4 * len(screen) and not wrong:
                    return page
            time.sleep(0.1)
        fail("the page's screen %s never equalled the X screen of the window's size %s; pixels "
             "unlike it: %s" % (place, size, wrong[:5] if wrong else "none compared"))

    def click(self, x, y):
        self.browser.act("pointer", "mouse", {"type": "pointerMove", "x": x, "y": y},
                         {"type": "pointerDown", "button": 0}, {"type": "pause", "duration": 100},
                         {"type": "pointerUp", "button": 0})

    # Enter on the page, once the box holds the X keyboard focus and the page's
    # screen the browser's; then the box must go.
    def answer_box(self):
        focused = lambda: self.x("xdotool", "getwindowfocus", "getwindowname").strip()
        has_focus = CANVAS + "return document.activeElement === c;"
        wait_for(lambda: focused() == TITLE + "!" and self.browser.run(has_focus),
                 lambda: "no box had the keyboard focus; %r had it" % focused())
        self.browser.act("key", "keyboard", {"type": "keyDown", "value": "\uE007"},
                         {"type": "keyUp", "value": "\uE007"})
        box = lambda: self.x("xdotool", "search", "--onlyvisible", "--name", TITLE + "!")
        wait_for(lambda: not box(), lambda: "Enter on the page left the box open")

    # The script stops what it started when it is told to end; a second close
    # finds it ended.
    def close(self):
        self.server.terminate()
        self.server.wait(timeout=20)


def main():
    serve, program, tool, geometry = sys.argv[1:5]
    work = tempfile.mkdtemp(prefix="browser.")
    atexit.register(shutil.rmtree, work, ignore_errors=True)
    env = dict(os.environ, VEXOR_HOST_DIR=os.path.join(work, "host"),
               VEXOR_VNC_PORT=str(free_port()), VEXOR_WEB_PORT=str(free_port()),
               XDG_RUNTIME_DIR=work)
    env.pop("DISPLAY", None)
    # Where the form's layout puts the button, and the window's size.
    layout = subprocess.run([geometry], env=dict(env, QT_QPA_PLATFORM="offscreen"),
                            capture_output=True, text=True, check=True).stdout.split()
    button_x, button_y, *size = map(int, layout)
    os.makedirs(os.path.join(work, "program"))
    program = shutil.copy(program, os.path.join(work, "program"))
    log = os.path.join(work, "program", "install.log")

    # Waits for the install log, in Windows-1251, to end with line.
    def logged(line):
        def last():
            with open(log, encoding="cp1251") as f:
                return f.read().splitlines()[-1:]
        wait_for(lambda: os.path.exists(log) and last() == [line], lambda: "the log ends "
                 "with %r, not %r" % (os.path.exists(log) and last(), line), 300)

    # The program served, on a new host made with vexor-host's create if asked.
    def start(*create):
        if create:
            shutil.rmtree(env["VEXOR_HOST_DIR"], ignore_errors=True)
            subprocess.run([tool, *create], env=env, check=True, stdout=subprocess.DEVNULL)
        return Served(serve, program, env, browser)

    browser = Browser(work)

    # No Crypto Pro: the install fails, in red lines and a box.
    served = start("create")
    served.seen(size)
    if browser.run("return document.title;") != TITLE:
        fail("the page's title is %r" % browser.run("return document.title;"))
    check_loopback_only([env["VEXOR_VNC_PORT"], env["VEXOR_WEB_PORT"]])
    served.click(button_x, button_y)
    logged("Не найдена папка с Крипто Про! Отмена установки!")
    served.answer_box()
    page = served.seen(size)
    if sum(r > 180 and g < 80 and b < 80 for r, g, b, _ in zip(*[iter(page)] * 4)) < 50:
        fail("the failed install's lines are not red on the page")
    served.close()

    # With Crypto Pro: the click installs.
    served = start("create", "--with-csp")
    served.seen(size)
    served.click(button_x, button_y)
    logged("Библиотеки Quellon Vexor K для КриптоПро успешно установлены!")
    served.seen(size)
    if os.environ.get("VEXOR_BROWSER_SHOT"):
        png = browser.run(CANVAS + "return c.toDataURL('image/png');").split(",", 1)[1]
        with open(os.environ["VEXOR_BROWSER_SHOT"], "wb") as f:
            f.write(base64.b64decode(png))
    served.close()

    # The next start asks first; "Да" removes, and the question is gone.
    served = start()
    served.answer_box()
    logged("Удаление прошло успешно.")
    served.seen(size)


if __name__ == "__main__":
    main()
