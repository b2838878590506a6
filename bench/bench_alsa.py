#!/usr/bin/python3
"""The ALSA backend on the pretend card (tests/alsa/pretend_card.c), in
self-tests that record every input: the CPU of a recorder on 20 inputs at
48 kHz straight through ALSA, against the same recorder on the same card
through jackd2 (the recorder's CPU and the server's; with 32 periods, the
same buffer of 8192 frames); then 64 inputs at
96 kHz through ALSA, and the dropouts it had.

usage: bench_alsa.py BUILD_DIR [SECONDS]   (BUILD_DIR holds src/tessaly and
tests/libasound_module_pcm_tessaly_card.so)"""
import json, os, re, resource, subprocess, sys, tempfile, time

build = os.path.abspath(sys.argv[1])
seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 20.0
home = tempfile.mkdtemp(prefix="alsa-bench-")
env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=home + "/config",
           XDG_STATE_HOME=home + "/state", XDG_RUNTIME_DIR=home, JACK_NO_AUDIO_RESERVATION="1")
os.makedirs(home + "/config/alsa")
os.makedirs(home + "/config/Tessaly")
plugin = build + "/tests/libasound_module_pcm_tessaly_card.so"
with open(home + "/config/alsa/asoundrc", "w") as rc:
    rc.write(f'pcm_type.tessaly_card {{ lib "{plugin}" }}\n'
             f'pcm.card20 {{ type tessaly_card channels 20 buffer 8192 control "{home}" }}\n'
             f'pcm.big64 {{ type tessaly_card channels 64 rate 96000 buffer 16384 '
             f'control "{home}" }}\n')


def arm_all(devices):
    """Every input of each (uid, inputs) armed, in the settings the recorder reads."""
    with open(home + "/config/Tessaly/Tessaly.conf", "w") as conf:
        conf.write("[General]\n")
        for uid, inputs in devices:
            labels = json.dumps({str(i): {"armed": True, "name": ""} for i in range(inputs)})
            escaped = labels.replace('"', '\\"')
            conf.write(f'labels%3A{uid.replace(":", "%3A")}="@ByteArray({escaped})"\n')


def cpu(pid):
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def selftest(args):
    """Runs a self-test; its CPU seconds, wall seconds and log."""
    start = time.monotonic()
    p = subprocess.Popen([build + "/src/tessaly", *args, "--selftest", str(seconds)], env=env,
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    log = p.stderr.read()
    _, status, usage = os.wait4(p.pid, 0)
    if status != 0 or "input: " not in log:
        sys.exit(f"the self-test failed ({status}):\n{log}")
    return usage.ru_utime + usage.ru_stime, time.monotonic() - start, log


def losses(log):
    m = re.search(r"take: .*? · (\d+) dropouts? \(([\d.]+) s\)", log)
    return f"{m.group(1)} dropouts ({m.group(2)} s)" if m else "no dropout"


def report(name, used, wall, log, server=0.0):
    extra = f" + jackd {100 * server / wall:.1f} %" if server else ""
    print(f"{name}: tessaly {100 * used / wall:.1f} % of a core{extra} over {wall:.1f} s; "
          f"{losses(log)}", flush=True)


arm_all([("alsa-pcm:card20", 20), ("system", 20), ("alsa-pcm:big64", 64)])
report("ALSA, 20 inputs at 48 kHz", *selftest(["--backend", "alsa", "--alsa-pcm", "card20"]))
jackd = subprocess.Popen(["jackd", "-n", "tessaly-bench", "-d", "alsa", "-C", "card20", "-P",
                          "card20", "-r", "48000", "-p", "256", "-n", "32"], env=env,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
try:
    time.sleep(2)
    env["JACK_DEFAULT_SERVER"] = "tessaly-bench"
    before = cpu(jackd.pid)
    used, wall, log = selftest(["--backend", "jack"])
    report("jackd2, 20 inputs at 48 kHz", used, wall, log, cpu(jackd.pid) - before)
finally:
    jackd.terminate()
    jackd.wait()
report("ALSA, 64 inputs at 96 kHz", *selftest(["--backend", "alsa", "--alsa-pcm", "big64"]))
