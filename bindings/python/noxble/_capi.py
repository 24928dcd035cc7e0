"""The C interface (noxb/noxb_c.h) as ctypes declarations, and finding it."""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import sys
import threading
from pathlib import Path

OK = 0
CONNECTION_FAILED = 5
SERVICE_NOT_FOUND = 9
GENERAL_FAILURE = 18
INVALID_ARGUMENT = 100
MODULE_NOT_FOUND = 101
BUFFER_TOO_SMALL = 102

MAX_VALUE_LENGTH = 512

LIBRARY_FILE = "noxblegatt_c.dll" if sys.platform == "win32" else "libnoxblegatt_c.so"


class Device(ctypes.Structure):
    _fields_ = [
        ("name", ctypes.c_char_p),
        ("address", ctypes.c_char_p),
        ("first_pass", ctypes.c_int),
        ("connectable", ctypes.c_int),
    ]


SessionEstablished = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_uint64)
DeviceDisconnected = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_char_p)
CharacteristicData = ctypes.CFUNCTYPE(
    None, ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p, ctypes.c_size_t
)


class Events(ctypes.Structure):
    _fields_ = [
        ("context", ctypes.c_void_p),
        ("session_established", SessionEstablished),
        ("device_disconnected", DeviceDisconnected),
        ("characteristic_data", CharacteristicData),
    ]


_P = ctypes.c_void_p
_STATUS = ctypes.c_int
_SIGNATURES: dict[str, tuple[object, list[object]]] = {
    "noxb_last_error": (ctypes.c_char_p, []),
    "noxb_last_native_code": (ctypes.c_int32, []),
    "noxb_provider_open": (_STATUS, [ctypes.c_char_p, ctypes.POINTER(Events), ctypes.POINTER(_P)]),
    "noxb_provider_close": (_STATUS, [_P]),
    "noxb_scan": (_STATUS, [_P, ctypes.c_int64, ctypes.POINTER(_P)]),
    "noxb_device_list_count": (_STATUS, [_P, ctypes.POINTER(ctypes.c_size_t)]),
    "noxb_device_list_get": (_STATUS, [_P, ctypes.c_size_t, ctypes.POINTER(Device)]),
    "noxb_device_list_free": (_STATUS, [_P]),
    "noxb_connect": (_STATUS, [_P, _P, ctypes.c_size_t, ctypes.POINTER(ctypes.c_uint32)]),
    "noxb_disconnect": (_STATUS, [_P, ctypes.c_uint32]),
    "noxb_send": (_STATUS, [_P, ctypes.c_uint32, ctypes.c_char_p, ctypes.c_size_t]),
    "noxb_receive": (
        _STATUS,
        [_P, ctypes.c_uint32, ctypes.c_int64, ctypes.c_char_p, ctypes.c_size_t,
         ctypes.POINTER(ctypes.c_size_t)],
    ),
    "noxb_rssi": (_STATUS, [_P, _P, ctypes.c_size_t, ctypes.POINTER(ctypes.c_int16)]),
}


def candidates() -> list[str]:
    """Where the C interface is looked for, in order."""
    found = []
    given = os.environ.get("NOXBLE_LIBRARY")
    if given:
        found.append(given)
    try:
        from . import _installed  # written by cmake --install

        here = Path(__file__).resolve().parent
        found.append(str((here / _installed.LIBRARY_DIR / LIBRARY_FILE).resolve()))
    except ImportError:
        pass
    system = ctypes.util.find_library("noxblegatt_c")
    found.append(system or LIBRARY_FILE)
    return found


_lock = threading.Lock()
_library: ctypes.CDLL | None = None


def library() -> ctypes.CDLL:
    """The C interface, loaded on first use; OSError when it is nowhere."""
    global _library
    with _lock:
        if _library is None:
            reasons = []
            for path in candidates():
                try:
                    lib = ctypes.CDLL(path)
                except OSError as e:
                    reasons.append(f"{path}: {e}")
                    continue
                for name, (restype, argtypes) in _SIGNATURES.items():
                    function = getattr(lib, name)
                    function.restype = restype
                    function.argtypes = argtypes
                _library = lib
                break
            else:
                raise OSError("cannot load the noxblegatt C interface: " + "; ".join(reasons))
        return _library
