"""genkey, a C program and Python processes draw from one sequence at once, some of them
killed and started again: no key is handed out twice, and the sequence goes on after them."""

import os
import random
import signal
import subprocess
import sys
import threading
import time

import tgenerator

MASK = "M-######"


def test_many_languages_on_one_sequence(store, table):
    with tgenerator.Sequence(mask=MASK, alias=store, table=table, create=True) as first:
        keys = [first.next()]
    python = (
        "import sys, tgenerator\n"
        "s = tgenerator.Sequence(mask=sys.argv[1], alias=sys.argv[2], table=sys.argv[3])\n"
        "while True: print(s.next(), flush=True)\n"
    )
    commands = {
        "genkey": [os.environ["GENKEY"], "next", "--alias", store, "--table", table,
                   "--mask", MASK, "-n", "1000000"],
        "c": [os.environ["TGEN_DRAW_C"], f"alias='{store}' table={table} mask='{MASK}'",
              "1000000"],
        "python": [sys.executable, "-c", python, MASK, store, table],
    }
    lock = threading.Lock()

    def start(kind):
        p = subprocess.Popen(commands[kind], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             text=True, encoding="cp1251")
        p.kind, p.drawn = kind, 0

        def read():
            for line in p.stdout:
                if line.endswith("\n"):  # a line cut by a kill was never handed out
                    with lock:
                        keys.append(line.rstrip("\n"))
                        p.drawn += 1

        reader = threading.Thread(target=read)
        reader.start()
        return p, reader

    def all_drawing(running):  # every one of them is drawing: a kill hits a draw
        deadline = time.monotonic() + 60
        while any(p.drawn == 0 for p, _ in running):
            assert time.monotonic() < deadline, [(p.kind, p.drawn) for p, _ in running]
            time.sleep(0.01)
        time.sleep(0.1)

    rng = random.Random(2027)
    running = [start(kind) for kind in commands for _ in range(2)]
    ended = []
    try:
        for _ in range(6):
            all_drawing(running)
            i = rng.randrange(len(running))
            victim, reader = running[i]
            victim.send_signal(signal.SIGKILL)
            victim.wait()
            reader.join()
            ended.append(victim)
            running[i] = start(victim.kind)
        all_drawing(running)
    finally:
        for p, _ in running:
            p.send_signal(signal.SIGTERM)
        for p, reader in running:
            p.wait()
            reader.join()
            ended.append(p)
    for p in ended:  # killed, or stopped by the TERM, and no other error
        assert p.returncode in (-signal.SIGKILL, -signal.SIGTERM, 128 + signal.SIGTERM), (
            p.kind, p.returncode, p.stderr.read())
    with tgenerator.Sequence(mask=MASK, alias=store, table=table) as last:
        keys.append(last.next())
    assert len(keys) > 100
    assert len(set(keys)) == len(keys), "a key was handed out twice"
    assert keys[-1] == max(keys)
