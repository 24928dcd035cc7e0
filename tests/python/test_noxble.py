"""The Python package: the whole job by the example script, argument and
module failures, notifications by callback, queue and iterator, and what
callbacks on the stack's threads may and may not do."""
import os
import shutil
import subprocess
import sys
import threading
import time

import pytest

import noxble
from conftest import BIN, PHONE, ROOT, phone_of


def run(*args, env_extra=None):
    env = dict(os.environ, PYTHONPATH=str(ROOT / "bindings" / "python"), **(env_extra or {}))
    return subprocess.run(args, capture_output=True, text=True, env=env, timeout=60)


def test_echo_example_does_the_whole_job():
    done = run(sys.executable, str(ROOT / "examples" / "echo.py"), "ping")
    assert done.returncode == 0, done.stderr
    for line in (f"found Pixel 8                  {PHONE}", "notification: b'ping'",
                 "received: b'ping'", "signal: -58 dBm", "disconnected"):
        assert line in done.stdout


def test_pip_installs_offline(tmp_path):
    # From a copy: a build leaves its files beside the sources.
    source = shutil.copytree(ROOT / "bindings" / "python", tmp_path / "source")
    done = run(sys.executable, "-m", "pip", "install", "--no-index", "--no-build-isolation",
               "--quiet", "--target", str(tmp_path / "site"), str(source))
    assert done.returncode == 0, done.stderr
    assert (tmp_path / "site" / "noxble" / "py.typed").exists()


def test_scan_entries(provider):
    devices = provider.scan(seconds=0)
    found = {(d.name, d.address, d.first_pass, d.connectable) for d in devices}
    assert ("Pixel 8", PHONE, True, True) in found
    assert ("Lobby Display", "5c:e0:6b:21:9f:05", True, False) in found


@pytest.mark.parametrize("call, error, text", [
    (lambda p, d, l: p.scan(seconds=-1), ValueError, "0 or more"),
    (lambda p, d, l: p.scan(seconds="1"), TypeError, "number"),
    (lambda p, d, l: l.receive(timeout=float("nan")), ValueError, "0 or more"),
    (lambda p, d, l: l.send("text"), TypeError, "bytes"),
    (lambda p, d, l: l.send(bytes(noxble.MAX_VALUE_LENGTH + 1)), ValueError, "at most 512"),
    (lambda p, d, l: p.connect(PHONE), TypeError, "noxble.Device"),
    (lambda p, d, l: p.connect(noxble.Device("Pixel 8", PHONE, True, True)), ValueError,
     "last scan"),
    (lambda p, d, l: (p.scan(), p.connect(d)), ValueError, "last scan"),
    (lambda p, d, l: (l.close(), l.send(b"x")), ValueError, "connection is closed"),
    (lambda p, d, l: (p.close(), p.scan()), ValueError, "provider is closed"),
    (lambda p, d, l: noxble.Provider(module_path=42), TypeError, "path"),
])
def test_argument_errors(provider, call, error, text):
    device = phone_of(provider)
    link = provider.connect(device)
    with pytest.raises(error, match=text):
        call(provider, device, link)


def connect_twice_close_once(p):
    phone = phone_of(p)
    first, second = p.connect(phone), p.connect(phone)  # one handle
    first.close()
    second.send(b"x")


@pytest.mark.parametrize("script, call, error, kind, native", [
    (None, lambda p: noxble.Provider("/no/such/module"), noxble.ModuleNotFound, 101, 0),
    (None, lambda p: p.connect(next(d for d in p.scan() if d.name == "Galaxy Tab S9")),
     noxble.ConnectionFailed, 5, 0),
    (None, connect_twice_close_once, noxble.ServiceNotFound, 9, 0),
    ("LEAPI_GATTSessionEstablishEx", lambda p: p.connect(phone_of(p)), noxble.StackError, 18,
     -353763303),
    ("LEAPI_GATTSessionRSSIGet", lambda p: p.connect(phone_of(p)).rssi(), noxble.StackError, 18,
     -353763303),
])
def test_module_failures(provider, sim, script, call, error, kind, native):
    if script:
        sim.LeSimScript(script.encode(), 0xEAEA0019, 1)
    with pytest.raises(error) as raised:
        call(provider)
    assert isinstance(raised.value, noxble.Error)
    assert (raised.value.kind, raised.value.native_code) == (kind, native)
    assert raised.value.message


@pytest.mark.parametrize("way", ["callback", "queue", "iterator"])
def test_notifications_and_events(provider, sim, way):
    got = []
    link = provider.connect(phone_of(provider), got.append if way == "callback" else None)
    link.send(b"note")
    if way == "queue":
        got.append(link.get_notification(timeout=2))
    elif way == "iterator":
        got.extend(link.notifications(timeout=0.5))
    sim.LeSimFlushEvents()
    assert got == [b"note"]
    assert link.receive(timeout=1) == b"note" and link.rssi() == -58
    assert len(provider.events["sessions"]) >= 1
    sim.LeSimDropSession(sim.LeSimSessionOf(1))
    sim.LeSimFlushEvents()
    assert provider.events["lost"] == [PHONE] and link.link_lost


def test_callback_exception_is_reported_and_the_stack_goes_on(provider, sim):
    calls = []

    def failing(data):
        calls.append(data)
        raise KeyError("from the callback")

    link = provider.connect(phone_of(provider), failing)
    link.send(b"one")
    sim.LeSimFlushEvents()
    with pytest.raises(noxble.CallbackError) as raised:
        link.receive(timeout=1)
    assert isinstance(raised.value.__cause__, KeyError)
    link.send(b"two")
    sim.LeSimFlushEvents()
    assert calls == [b"one", b"two"]
    with pytest.raises(noxble.CallbackError):
        provider.close()


def test_callbacks_may_not_call_the_provider(provider, sim):
    refused = []

    def calling(data):
        for call in (provider.scan, link.close, provider.close):
            try:
                call()
            except RuntimeError as e:
                refused.append(str(e))

    link = provider.connect(phone_of(provider), calling)
    link.send(b"x")
    sim.LeSimFlushEvents()
    assert len(refused) == 3


@pytest.mark.parametrize("wait_for_callback", [False, True])
def test_close_while_a_callback_runs(provider, wait_for_callback):
    entered, release = threading.Event(), threading.Event()

    def slow(data):
        entered.set()
        release.wait(2)

    link = provider.connect(phone_of(provider), slow)
    link.send(b"x")
    if wait_for_callback:
        assert entered.wait(2)
    closer = threading.Thread(target=provider.close)
    closer.start()
    time.sleep(0.1)
    release.set()
    closer.join(10)
    assert not closer.is_alive() and provider.closed
