#!/usr/bin/env python3
"""The Python package's figures, as JSON on standard output: a 512-byte send
through noxble (processor time of the calling thread, median of the
repetitions) and notifications per second delivered to a Python callback.

    python_bench.py BIN_DIR [REPETITIONS]

BIN_DIR holds libnoxblegatt_c.so, the module and the simulated stack. The
world is the one of noxb_bench's C interface figures: one phone whose data
characteristic keeps what is written (no echo), and notifies.
"""
import ctypes
import json
import statistics
import sys
import threading
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "bindings" / "python"))


class Uuid(ctypes.Structure):
    _pack_ = 1
    _fields_ = [("type", ctypes.c_uint8), ("value", ctypes.c_uint8 * 16)]


DATA_CHARACTERISTIC = bytes([0x08, 0x59, 0x0F, 0x7E, 0xDB, 0x05, 0x46, 0x7E,
                             0x87, 0x57, 0x72, 0xF6, 0xFA, 0xEB, 0x13, 0xD4])


def uuid16(value):
    return Uuid(0, (ctypes.c_uint8 * 16)(value & 0xFF, value >> 8))


def one_phone(sim):
    """Returns (device id, value handle) of the phone."""
    sim.LeSimReset()
    sim.LeSimSetDiscoveryPace(0)
    sim.LeSimJournalEnable(0)
    record = ctypes.create_string_buffer(1580)
    address = (ctypes.c_uint8 * 6)(0xA0, 0xB1, 0, 0, 0, 1)
    sim.LeSimMakeDeviceRecord(record, address, b"Phone 1", 2, 12, -60, 1)
    phone = sim.LeSimAddDevice(record, 3)
    for service in (0x1800, 0x2711):
        sim.LeSimAddService(phone, ctypes.byref(uuid16(service)))
    data = Uuid(1, (ctypes.c_uint8 * 16)(*DATA_CHARACTERISTIC))
    handle = sim.LeSimAddCharacteristic(phone, ctypes.byref(data), 0x02 | 0x08 | 0x10 | 0x20, 0)
    sim.LeSimAddDescriptor(phone, ctypes.byref(uuid16(0x2902)))
    return phone, handle


def send_ns(link, repetitions, n=20000):
    payload = bytes(i * 7 & 0xFF for i in range(512))
    runs = []
    for _ in range(repetitions):
        start = time.thread_time_ns()
        for _ in range(n):
            link.send(payload)
        runs.append((time.thread_time_ns() - start) / n)
    return statistics.median(runs)


def notifications_per_second(sim, link_for, session_of, handle, repetitions, n=50000,
                             size=20):
    """The stack's thread delivers n queued notifications to a callback that
    counts them; the clock runs from the first to the last."""
    rates = []
    payload = bytes(size)
    for _ in range(repetitions):
        hold, done = threading.Event(), threading.Event()
        count = [0]
        first = [0.0]

        def counting(data):
            if count[0] == 0:
                hold.wait()  # until every value is queued
                first[0] = time.perf_counter()
            count[0] += 1
            if count[0] == n:
                done.set()

        link = link_for(counting)
        session = session_of()
        for _ in range(n):
            sim.LeSimRaiseValueEvent(session, handle, 1, 0, payload, size)
        hold.set()
        if not done.wait(60):
            raise RuntimeError(f"only {count[0]} of {n} notifications arrived")
        rates.append((n - 1) / (time.perf_counter() - first[0]))
        link.close()
    return statistics.median(rates)


def main(bin_dir, repetitions=9):
    import os
    os.environ["NOXBLE_LIBRARY"] = str(Path(bin_dir) / "libnoxblegatt_c.so")
    import noxble

    sim = ctypes.CDLL(str(Path(bin_dir) / "libleapi.so"))
    sim.LeSimSessionOf.restype = ctypes.c_uint64
    sim.LeSimRaiseValueEvent.argtypes = [ctypes.c_uint64, ctypes.c_uint16, ctypes.c_uint32,
                                         ctypes.c_uint8, ctypes.c_char_p, ctypes.c_uint16]
    phone, handle = one_phone(sim)
    with noxble.Provider() as p:
        with p.connect(p.scan()[0]) as link:
            send = send_ns(link, int(repetitions))
        rate = notifications_per_second(
            sim, lambda callback: p.connect(p.scan()[0], callback),
            lambda: sim.LeSimSessionOf(phone), handle, max(3, int(repetitions) // 3))
    json.dump({"python_send_ns": send, "notifications_per_second": rate,
               "notification_bytes": 20}, sys.stdout)
    print()


if __name__ == "__main__":
    main(*sys.argv[1:3])
