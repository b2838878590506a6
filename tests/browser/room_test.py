#!/usr/bin/python3
"""tessaly-room driven as a person would: a headless Chromium on its page,
two simulated recorders as its children, the take's files read back, and the
sockets tried as a hostile page or peer would.

usage: room_test.py TESSALY_ROOM SCREENSHOT_DIR"""
import base64, math, os, signal, socket, stat, subprocess, sys, tempfile, time, wave
from pathlib import Path
from selenium import webdriver
from selenium.common.exceptions import WebDriverException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

ROOM, SHOTS = sys.argv[1], Path(sys.argv[2])
home = Path(tempfile.mkdtemp(prefix="room-test-"))
env = dict(os.environ, HOME=str(home), XDG_CONFIG_HOME=str(home / "config"),
           XDG_STATE_HOME=str(home / "state"), XDG_RUNTIME_DIR=str(home))
rooms = []


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_room(*args):
    log = open(home / f"room-{len(rooms)}.log", "w+")
    rooms.append(subprocess.Popen([ROOM, *args], env=env, stdout=log, stderr=log))
    return log


def wait(what, check, limit=20.0):
    end = time.monotonic() + limit
    while time.monotonic() < end:
        try:
            value = check()
            if value:
                return value
        except (WebDriverException, IndexError):  # the page redrew while we looked
            pass
        time.sleep(0.05)
    raise AssertionError("timed out waiting: " + what)


def upgrade(port, path, headers, wait_s=3.0):
    """A WebSocket handshake by hand: what the server sent until it closed or
    the wait ended, whether it closed, and the socket."""
    s = socket.create_connection(("127.0.0.1", port))
    key = base64.b64encode(os.urandom(16)).decode()
    headers = {"Host": f"127.0.0.1:{port}", **headers}
    s.sendall((f"GET {path} HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
               f"Sec-WebSocket-Key: {key}\r\nSec-WebSocket-Version: 13\r\n" +
               "".join(f"{k}: {v}\r\n" for k, v in headers.items()) + "\r\n").encode())
    s.settimeout(0.1)
    got, end = b"", time.monotonic() + wait_s
    while time.monotonic() < end:
        try:
            part = s.recv(65536)
        except socket.timeout:
            continue
        if not part:
            return got, True, s
        got += part
    return got, False, s


def rename(field, text):
    """As a person types: focused first, so the statuses arriving meanwhile
    leave the field alone, then all of it replaced."""
    field.click()
    field.send_keys(Keys.CONTROL, "a")
    field.send_keys(text, Keys.ENTER)


def frame(payload, opcode=1):
    """A masked client frame."""
    mask = os.urandom(4)
    n = len(payload)
    head = bytes([0x80 | opcode]) + (bytes([0x80 | n]) if n < 126 else
                                     bytes([0x80 | 126]) + n.to_bytes(2, "big") if n < 65536 else
                                     bytes([0x80 | 127]) + n.to_bytes(8, "big"))
    return head + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(payload))


def listening(port):
    try:
        socket.create_connection(("127.0.0.1", port)).close()
        return True
    except OSError:
        return False


link, page, open_link, open_page = (free_port() for _ in range(4))
log = start_room("--recorders", "2", "--link", f"127.0.0.1:{link}",
                 "--listen", f"127.0.0.1:{page}", "--", "--backend", "demo")
wait("the room", lambda: listening(page))
options = webdriver.ChromeOptions()
options.binary_location = "/usr/bin/chromium"
for arg in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--window-size=1280,1000"):
    options.add_argument(arg)
browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
try:
    # Both sockets on loopback alone, on their default ports (free unless
    # another room runs on this machine).
    start_room("--no-engine")
    wait("the default room", lambda: listening(8477))
    sockets = [l.split() for name in ("tcp", "tcp6")
               for l in Path("/proc/net/" + name).read_text().splitlines()[1:]]
    bound = {(s[1].rsplit(":", 1)[0], int(s[1].rsplit(":", 1)[1], 16)) for s in sockets
             if s[3] == "0A" and int(s[1].rsplit(":", 1)[1], 16) in (4777, 8477)}
    assert bound == {("0100007F", 4777), ("0100007F", 8477)}, bound
    rooms[-1].send_signal(signal.SIGTERM)
    assert rooms.pop().wait(10) == 0

    browser.get(f"http://127.0.0.1:{page}/")
    watching = browser.current_window_handle  # a second browser, watching
    browser.switch_to.new_window("tab")
    browser.get(f"http://127.0.0.1:{page}/")
    cards = lambda: browser.find_elements(By.CSS_SELECTOR, "section.recorder")
    card = lambda n: cards()[n]
    demo = "Tessaly Demo Interface (simulated) · 48 kHz"
    wait("both recorders shown", lambda: len(cards()) == 2 and
         all(c.find_element(By.CLASS_NAME, "device").text == demo for c in cards()))
    first = card(0)
    assert first.find_element(By.TAG_NAME, "h2").text == f"room{link}-1"  # not on 4777

    # The meters follow the signal: input 1 is a sine at half scale (-6 dBFS),
    # input 17 silence; the headphones go quiet with it soloed, and back. Its
    # name, markup, stays text where the page shows it.
    fills = lambda: [float(f.get_attribute("style").split("width:")[1].split("%")[0])
                     for f in card(0).find_elements(By.CSS_SELECTOR, ".meter .fill")]
    levels = wait("meters", lambda: fills() if fills()[0] > 0 and fills()[-1] > 0 else None)
    assert abs(levels[0] - 100 * (60 + 20 * math.log10(0.5)) / 60) < 1.5, levels
    assert levels[16] == 0, levels
    silent = card(0).find_elements(By.CSS_SELECTOR, ".channel")[16]
    rename(silent.find_element(By.CLASS_NAME, "name"), "Quiet <b>17</b>")
    solo = silent.find_element(By.XPATH, ".//label[contains(., 'Solo')]/input")
    solo.click()
    wait("the headphones on input 17", lambda: fills()[-1] == 0 and
         card(0).find_elements(By.CLASS_NAME, "foot-label")[1].text == "Quiet <b>17</b>")
    assert not browser.find_elements(By.CSS_SELECTOR, "b")
    [b for b in card(0).find_elements(By.TAG_NAME, "button") if b.text == "Hear mix"][0].click()
    wait("the mix in the headphones", lambda: fills()[-1] > 0 and not solo.is_selected())

    # Rename input 1 (markup stays text), arm input 9, record, stop.
    name = first.find_element(By.CSS_SELECTOR, "[aria-label='Name of input 1']")
    rename(name, "Vox <b>1</b>")
    armed = lambda n: card(0).find_elements(By.CSS_SELECTOR, ".channel")[n].find_element(
        By.XPATH, ".//label[contains(., 'Armed')]/input")
    assert not armed(8).is_selected()
    armed(8).click()
    changed = lambda: (armed(8).is_selected() and card(0).find_element(
        By.CLASS_NAME, "name").get_attribute("value") == "Vox <b>1</b>")
    wait("the arming and the name come back in the status", changed)
    driving = browser.current_window_handle
    browser.switch_to.window(watching)
    wait("the other browser sees them", changed)
    browser.close()
    browser.switch_to.window(driving)
    # The second recorder keeps its own settings.
    other = card(1).find_elements(By.CSS_SELECTOR, ".channel")[0]
    assert other.find_element(By.CLASS_NAME, "name").get_attribute("value") == \
        other.find_element(By.CLASS_NAME, "hw").get_attribute("textContent")
    button = lambda n, text: wait(text, lambda: [b for b in card(n).find_elements(
        By.TAG_NAME, "button") if b.text == text][0])
    names = [n.get_attribute("value") for n in card(0).find_elements(By.CLASS_NAME, "name")]
    button(0, "RECORD").click()
    clicked = time.monotonic()
    button(0, "STOP")
    print(f"click to a status that says recording: {1000 * (time.monotonic() - clicked):.0f} ms")
    elapsed = lambda n: card(n).find_element(By.CLASS_NAME, "elapsed").text
    wait("the elapsed time moves", lambda: elapsed(0) >= "00:00:02")
    assert card(1).find_element(By.CLASS_NAME, "record").text == "RECORD"
    folder = card(0).find_element(By.CLASS_NAME, "folder").text
    browser.save_screenshot(str(SHOTS / "room-desktop.png"))
    button(0, "STOP").click()
    wait("the take saved", lambda: card(0).find_element(By.CLASS_NAME, "status").text.startswith(
        "Saved to "))
    takes = list((home / "Desktop" / "Tessaly").glob(f"*/{folder}"))
    assert len(takes) == 1, takes
    files = sorted(p.name.split(" - ")[0] for p in takes[0].iterdir())
    assert files == sorted(["Mix", "Vox -b-1--b-"] + names[1:9]), files
    frames = set()
    for f in takes[0].iterdir():  # exact: the header's sizes are the file's
        with wave.open(str(f)) as w:
            assert w.getsampwidth() == 3 and w.getnchannels() == (2 if f.name.startswith("Mix") else 1)
            frames.add(w.getnframes())
        riff = f.read_bytes()
        assert int.from_bytes(riff[4:8], "little") + 8 == len(riff), f
    assert len(frames) == 1 and frames.pop() >= 2 * 48000, frames

    # A recorder killed is shown as away, and comes back by itself.
    child = subprocess.run(["pgrep", "-f", "--", f"--instance room{link}-1"],
                           capture_output=True, text=True)
    os.kill(int(child.stdout.split()[0]), signal.SIGKILL)
    wait("away", lambda: card(0).find_element(By.CLASS_NAME, "away").text == "recorder not connected")
    wait("back", lambda: card(0).find_element(By.CLASS_NAME, "device").text == demo)
    log.seek(0)
    assert f"room: recorder room{link}-1 ended (killed); starting it again in 2 s" in log.read()

    # Record all starts both; on a phone's screen a stop asks for a second tap.
    browser.set_window_size(390, 844)
    button(0, "RECORD")
    browser.find_element(By.ID, "record-all").click()
    button(0, "STOP"), button(1, "STOP")
    button(1, "STOP").click()
    button(1, "Tap again to stop")
    browser.execute_script("arguments[0].scrollIntoView()", card(1))
    browser.save_screenshot(str(SHOTS / "room-phone.png"))
    time.sleep(0.5)  # statuses that would say so if the first tap had stopped it
    assert "recording" in card(1).find_element(By.CLASS_NAME, "record").get_attribute("class")
    button(1, "Tap again to stop").click()
    button(1, "RECORD")
    stop_all = browser.find_element(By.ID, "stop-all")
    stop_all.click(), stop_all.click()
    button(0, "RECORD")

    # Hostile sockets: a foreign page, a browser on the link, a path not served.
    own = {"Host": f"127.0.0.1:{page}", "Origin": f"http://127.0.0.1:{page}"}
    for headers in ({**own, "Origin": "http://evil.example"}, {"Host": own["Host"]},
                    {**own, "Host": f"evil.example:{page}", "Origin": f"http://evil.example:{page}"}):
        got = upgrade(page, "/socket", headers)
        assert got[1] and got[0].startswith(b"HTTP/1.1 403"), got
    got = upgrade(link, "/tessaly", {"Origin": own["Origin"]})
    assert got[1] and b" 101 " not in got[0], got
    assert upgrade(link, "/other", {})[1]
    # A flood, nonsense and a frame too large: each its own connection's loss.
    got = upgrade(page, "/socket", own, 0.5)
    assert got[0].startswith(b"HTTP/1.1 101") and not got[1], got
    got[2].sendall(b"".join(frame(b'{"type":"recordAll","on":true}') for _ in range(300)) +
                   frame(b"not json") + frame(os.urandom(200), 2))
    button(0, "STOP"), button(1, "STOP")  # obeyed, and a take once each
    big = upgrade(page, "/socket", own, 0.5)
    big[2].sendall(frame(b"x" * 70000))
    big[2].settimeout(3)
    try:
        while big[2].recv(65536):
            pass  # until the room closes it
    except ConnectionResetError:
        pass
    recorder = upgrade(link, "/tessaly", {}, 0.5)
    recorder[2].sendall(frame(b'{"type":"status","running":"yes"}') + frame(b"[1,2]"))
    time.sleep(1)
    assert len(cards()) == 2
    stop_all.click(), stop_all.click()  # the page still drives its recorders
    button(0, "RECORD"), button(1, "RECORD")

    # Beyond loopback the key is asked for: made at first start, the owner's
    # alone; the recorder on this machine reads it, the page carries it.
    wide = start_room("--link", f"0.0.0.0:{open_link}", "--listen", f"0.0.0.0:{open_page}",
                      "--", "--backend", "demo", "--demo-inputs", "2")
    key_file = home / "config" / "Tessaly" / "room-key"
    key = wait("the key", lambda: key_file.exists() and key_file.read_text().strip())
    assert stat.S_IMODE(key_file.stat().st_mode) == 0o600
    wait("listening", lambda: listening(open_page))
    here = {"Host": f"127.0.0.1:{open_page}", "Origin": f"http://127.0.0.1:{open_page}"}
    assert upgrade(open_page, "/socket", here)[0].startswith(b"HTTP/1.1 403")
    assert upgrade(open_page, f"/socket?key={key}", here)[0].startswith(b"HTTP/1.1 101")
    assert upgrade(open_link, "/tessaly?key=wrong", {})[1]
    assert not upgrade(open_link, f"/tessaly?key={key}", {}, 0.5)[1]
    browser.get(f"http://127.0.0.1:{open_page}/?key={key}")
    wait("the recorder behind the key", lambda: card(0).find_element(
        By.CLASS_NAME, "device").text == demo)
    wide.seek(0)
    assert key not in wide.read()
finally:
    browser.quit()
    for r in rooms:
        r.send_signal(signal.SIGTERM)
    # Each ends cleanly, its recorders with it.
    assert [r.wait(30) for r in rooms] == [0] * len(rooms)
    assert all(subprocess.run(["pgrep", "-f", "--", f"--server 127.0.0.1:{p}"]).returncode == 1
               for p in (link, open_link))
print("room test passed")
