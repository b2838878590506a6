#!/usr/bin/python3
"""tessaly-room with one simulated 64-input recorder and three headless
Chromium pages: how long a click on RECORD takes to come back as a status
that says recording, and what the room costs in CPU while the pages watch.

usage: bench_room.py BUILD_DIR [SECONDS]   (BUILD_DIR holds src/tessaly-room)"""
import os, signal, socket, statistics, subprocess, sys, tempfile, time
from selenium import webdriver
from selenium.webdriver.chrome.service import Service

build, seconds = sys.argv[1], float(sys.argv[2]) if len(sys.argv) > 2 else 30.0
home = tempfile.mkdtemp(prefix="room-bench-")
env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=home + "/config",
           XDG_STATE_HOME=home + "/state", XDG_RUNTIME_DIR=home)
ports = []
for _ in range(2):
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        ports.append(s.getsockname()[1])
room = subprocess.Popen([build + "/src/tessaly-room", "--link", f"127.0.0.1:{ports[0]}",
                         "--listen", f"127.0.0.1:{ports[1]}", "--", "--backend", "demo",
                         "--demo-inputs", "64"], env=env, stderr=subprocess.DEVNULL)


def cpu(pid):
    """User and system time of a process, in seconds."""
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def browser():
    o = webdriver.ChromeOptions()
    o.binary_location = "/usr/bin/chromium"
    for arg in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage",
                "--window-size=1280,1000"):
        o.add_argument(arg)
    b = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=o)
    b.get(f"http://127.0.0.1:{ports[1]}/")
    return b


pages = [browser() for _ in range(3)]
# Clicks RECORD (or STOP) and resolves with the milliseconds until the button
# says the opposite: the first status of the new state, drawn.
CLICK = """
const done = arguments[arguments.length - 1];
const button = document.querySelector('.recorder .record');
const wanted = button.textContent === 'RECORD' ? 'STOP' : 'RECORD';
if (button.disabled) return done(-1);
const start = performance.now();
new MutationObserver((_, o) => {
  if (button.textContent === wanted) { o.disconnect(); done(performance.now() - start); }
}).observe(button, {childList: true, characterData: true, subtree: true});
button.click();
"""
try:
    page = pages[0]
    page.set_script_timeout(10)
    end = time.monotonic() + 30
    while page.execute_script(
            "const b = document.querySelector('.recorder .record'); return !b || b.disabled;"):
        assert time.monotonic() < end, "the recorder did not start"
        time.sleep(0.1)
    starts = []
    for _ in range(10):
        starts.append(page.execute_async_script(CLICK))  # record
        time.sleep(0.5)
        page.execute_async_script(CLICK)  # stop
        time.sleep(0.5)
    print(f"click to a status that says recording: median {statistics.median(starts):.0f} ms, "
          f"range {min(starts):.0f}-{max(starts):.0f} ms over {len(starts)} takes")
    recorder = int(subprocess.run(["pgrep", "-P", str(room.pid)], capture_output=True,
                                  text=True).stdout.split()[0])
    before, was, t0 = cpu(room.pid), cpu(recorder), time.monotonic()
    time.sleep(seconds)
    wall = time.monotonic() - t0
    print(f"room CPU with 3 pages on one 64-input recorder: "
          f"{100 * (cpu(room.pid) - before) / wall:.2f} % of a core over {wall:.0f} s "
          f"(the recorder itself: {100 * (cpu(recorder) - was) / wall:.1f} %)")
finally:
    for p in pages:
        p.quit()
    room.send_signal(signal.SIGTERM)
    room.wait(30)
