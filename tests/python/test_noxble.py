# The Python package on the simulated stack (the C interface named by NOXBLE_LIBRARY, the
# stack's control API beside it): the offline install and the example's whole job with it,
# argument and module failures, notifications, and what callbacks may and may not do.
import ctypes
import os
import shutil
import subprocess
import sys
import threading
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "bindings" / "python"))

import noxble  # noqa: E402

PHONE = "c4:3a:1f:58:20:01"  # Pixel 8: the data service, an echo
sim = ctypes.CDLL(str(Path(os.environ["NOXBLE_LIBRARY"]).parent / "libleapi.so"))
sim.LeSimSessionOf.restype = ctypes.c_uint64
sim.LeSimDropSession.argtypes = [ctypes.c_uint64]


@pytest.fixture
def provider():
    # A provider on the default world, with discovery at once (by the reset).
    sim.LeSimReset()
    sim.LeSimLoadDefaultWorld()
    sessions, lost = [], []
    with noxble.Provider(on_session=sessions.append, on_disconnect=lost.append) as p:
        p.sessions, p.lost = sessions, lost
        yield p


def phone_of(p):
    return next(d for d in p.scan() if d.address == PHONE)


def run(*args, path):
    return subprocess.run(args, capture_output=True, text=True, timeout=60,
                          env=dict(os.environ, PYTHONPATH=str(path)))


def test_pip_installs_offline_and_the_echo_example_does_the_whole_job_with_it(tmp_path):
    # From a copy: a build leaves its files beside the sources.
    source = shutil.copytree(ROOT / "bindings" / "python", tmp_path / "source")
    done = run(sys.executable, "-m", "pip", "install", "--no-index", "--no-build-isolation",
               "--quiet", "--target", tmp_path / "site", source, path=source)
    assert done.returncode == 0, done.stderr
    assert (tmp_path / "site" / "noxble" / "py.typed").exists()
    done = run(sys.executable, ROOT / "examples" / "echo.py", "ping", path=tmp_path / "site")
    assert done.returncode == 0, done.stderr
    assert all(line in done.stdout for line in (f"found Pixel 8                  {PHONE}",
               "notification: b'ping'", "received: b'ping'", "signal: -58 dBm", "disconnected"))


# A row's last column: what the message says, or a module failure's kind and native code.
@pytest.mark.parametrize("call, error, expected", [
    (lambda p, d, l: p.scan(seconds="1"), TypeError, "number"),
    (lambda p, d, l: l.receive(timeout=float("nan")), ValueError, "0 or more"),
    (lambda p, d, l: l.send("text"), TypeError, "bytes"),
    (lambda p, d, l: l.send(bytes(noxble.MAX_VALUE_LENGTH + 1)), ValueError, "at most 512"),
    (lambda p, d, l: p.connect(PHONE), TypeError, "noxble.Device"),
    (lambda p, d, l: p.connect(noxble.Device(d.name, PHONE, True, True)), ValueError, "last scan"),
    (lambda p, d, l: (p.scan(), p.connect(d)), ValueError, "last scan"),
    (lambda p, d, l: (l.close(), l.send(b"x")), ValueError, "connection is closed"),
    (lambda p, d, l: (p.close(), p.scan()), ValueError, "provider is closed"),
    (lambda p, d, l: noxble.Provider(module_path=42), TypeError, "path"),
    (lambda p, d, l: noxble.Provider("/no/such/module"), noxble.ModuleNotFound, (101, 0)),
    (lambda p, d, l: p.connect(next(e for e in p.scan() if e.name == "Galaxy Tab S9")),
     noxble.ConnectionFailed, (5, 0)),
    # Two connections to one device share a handle: closing one leaves the other none.
    (lambda p, d, l: (p.connect(d).close(), l.send(b"x")), noxble.ServiceNotFound, (9, 0)),
    (lambda p, d, l: (sim.LeSimScript(b"LEAPI_GATTSessionRSSIGet", ctypes.c_uint32(0xEAEA0019), 1),
                      l.rssi()), noxble.StackError, (18, -353763303)),
])
def test_errors(provider, call, error, expected):
    link = provider.connect(device := phone_of(provider))
    with pytest.raises(error, match=expected if isinstance(expected, str) else None) as raised:
        call(provider, device, link)
    assert isinstance(expected, str) or (
        (raised.value.kind, raised.value.native_code) == expected and raised.value.message)


@pytest.mark.parametrize("queue", [True, False])  # a callback's are the next test's
def test_entries_notifications_and_events(provider, queue):
    found = {(d.name, d.address, d.first_pass, d.connectable): d for d in provider.scan()}
    assert ("Lobby Display", "5c:e0:6b:21:9f:05", True, False) in found
    link = provider.connect(found["Pixel 8", PHONE, True, True])
    link.send(b"note")
    sim.LeSimFlushEvents()
    got = [link.get_notification(timeout=2)] if queue else list(link.notifications(timeout=0.5))
    assert got == [b"note"] and provider.sessions
    sim.LeSimDropSession(sim.LeSimSessionOf(1))
    sim.LeSimFlushEvents()
    assert provider.lost == [PHONE] and link.link_lost


def test_callbacks_may_not_call_the_provider_and_what_they_raise_is_reported(provider):
    calls = []

    def callback(data):  # what goes wrong here, a call that is not refused too, is reported
        calls.append(data)
        for call in (provider.scan, link.close, provider.close):
            with pytest.raises(RuntimeError, match="callback"):
                call()
        raise KeyError("from the callback")

    link = provider.connect(phone_of(provider), callback)
    link.send(b"one")
    sim.LeSimFlushEvents()
    with pytest.raises(noxble.CallbackError) as raised:
        link.receive(timeout=1)
    assert isinstance(raised.value.__cause__, KeyError)
    link.send(b"two")  # the stack goes on
    sim.LeSimFlushEvents()
    assert calls == [b"one", b"two"]
    with pytest.raises(noxble.CallbackError):
        provider.close()


@pytest.mark.parametrize("wait_for_callback", [False, True])
def test_close_while_a_callback_runs(provider, wait_for_callback):
    entered, release = threading.Event(), threading.Event()
    link = provider.connect(phone_of(provider), lambda data: (entered.set(), release.wait(2)))
    link.send(b"x")
    assert not wait_for_callback or entered.wait(2)
    (closer := threading.Thread(target=provider.close)).start()
    closer.join(0.1)  # the close waits for the callback
    release.set()
    closer.join(10)
    assert not closer.is_alive() and provider.closed
