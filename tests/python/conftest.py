"""The package against the simulated stack: the C interface named by
NOXBLE_LIBRARY, the stack's control API from the library beside it."""
import ctypes
import os
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "bindings" / "python"))

import noxble  # noqa: E402

BIN = Path(os.environ["NOXBLE_LIBRARY"]).parent
PHONE = "c4:3a:1f:58:20:01"  # Pixel 8: the data service, an echo


@pytest.fixture(scope="session")
def sim():
    lib = ctypes.CDLL(str(BIN / "libleapi.so"))
    lib.LeSimScript.argtypes = [ctypes.c_char_p, ctypes.c_uint32, ctypes.c_uint32]
    lib.LeSimSessionOf.restype = ctypes.c_uint64
    lib.LeSimDropSession.argtypes = [ctypes.c_uint64]
    return lib


@pytest.fixture
def provider(sim):
    """A provider on the default world, with discovery at once."""
    sim.LeSimReset()
    sim.LeSimLoadDefaultWorld()
    sim.LeSimSetDiscoveryPace(0)
    events = {"sessions": [], "lost": []}
    with noxble.Provider(on_session=events["sessions"].append,
                         on_disconnect=events["lost"].append) as p:
        p.events = events
        yield p


def phone_of(p):
    return next(d for d in p.scan() if d.address == PHONE)
