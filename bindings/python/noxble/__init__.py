"""noxble: a Python host of the noxblegatt Bluetooth LE GATT provider module.

Pure Python over the module's C interface (ctypes)::

    with noxble.Provider() as p:
        phone = next(d for d in p.scan() if d.name == "Pixel 8")
        with p.connect(phone) as link:
            link.send(b"hello")
            echo = link.receive(timeout=1.0)
            note = link.get_notification(timeout=1.0)
            dbm = link.rssi()

Failures of the module raise :class:`Error` (``ConnectionFailed``,
``ServiceNotFound``, ``StackError``); bad arguments raise ``TypeError`` or
``ValueError`` before anything reaches the module.

Notifications arrive on the LE stack's threads. A connection queues them
(:meth:`Connection.get_notification`, :meth:`Connection.notifications`) or
hands them to the callback given to :meth:`Provider.connect`. Callbacks hold
the GIL while they run: keep them short, and do not call the provider from
them (that raises ``RuntimeError``). An exception a callback raises does not
reach the stack's thread: it is kept and raised as :class:`CallbackError` by
the provider's next call (or by its ``close``).
"""

from __future__ import annotations

import atexit
import ctypes
import math
import os
import queue
import sys
import threading
import traceback
import weakref
from collections.abc import Callable, Iterator
from dataclasses import dataclass, field
from types import TracebackType

from . import _capi

__all__ = [
    "Provider",
    "Connection",
    "Device",
    "Error",
    "ConnectionFailed",
    "ServiceNotFound",
    "StackError",
    "ModuleNotFound",
    "CallbackError",
    "MAX_VALUE_LENGTH",
]

MAX_VALUE_LENGTH = _capi.MAX_VALUE_LENGTH
"""The most bytes one send writes and one receive returns."""


class Error(Exception):
    """A failure reported by the module.

    ``kind`` is the C interface's status (the module's ``ErrorType()`` for
    its three failure kinds), ``native_code`` the LE stack's code behind a
    general failure (else 0), ``message`` the module's text.
    """

    def __init__(self, kind: int, message: str, native_code: int = 0) -> None:
        super().__init__(message)
        self.kind = kind
        self.message = message
        self.native_code = native_code

    def __str__(self) -> str:
        if self.native_code:
            return f"{self.message} (stack code 0x{self.native_code & 0xFFFFFFFF:08X})"
        return self.message


class ConnectionFailed(Error):
    """Kind 5: the operation lock was busy, no such device or session, the
    data service could not be set up, or a transfer could not be recovered."""


class ServiceNotFound(Error):
    """Kind 9: the connection is not (or no longer) connected to the service."""


class StackError(Error):
    """Kind 18: an LE stack call failed; ``native_code`` is its code."""


class ModuleNotFound(Error):
    """Kind 101: the module (or the C interface) could not be loaded."""


class CallbackError(Error):
    """A callback raised: the original exception is ``__cause__``."""


_KINDS: dict[int, type[Error]] = {
    _capi.CONNECTION_FAILED: ConnectionFailed,
    _capi.SERVICE_NOT_FOUND: ServiceNotFound,
    _capi.GENERAL_FAILURE: StackError,
    _capi.MODULE_NOT_FOUND: ModuleNotFound,
}

# The threads running a callback now (the stack's threads are not Python's:
# a thread-local would be made anew for every callback).
_event_threads: set[int] = set()

# A callback on a thread Python did not start gets a Python thread state made
# for the call and destroyed after it, which costs more than the rest of a
# notification's way. The first callback on each of the stack's threads keeps
# its thread state for the thread's life (one more PyGILState_Ensure, never
# released); this thread-local, part of that state, says it is kept.
_adopted = threading.local()


def _adopt_stack_thread() -> None:
    _adopted.state = ctypes.pythonapi.PyGILState_Ensure()


def _check(lib: ctypes.CDLL, status: int) -> None:
    if status == _capi.OK:
        return
    text = (lib.noxb_last_error() or b"").decode("utf-8", "replace")
    if status == _capi.INVALID_ARGUMENT:
        raise ValueError(text)
    raise _KINDS.get(status, Error)(status, text, lib.noxb_last_native_code())


def _number(value: object, what: str) -> float:
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise TypeError(f"{what} must be a number of seconds, not {type(value).__name__}")
    if not math.isfinite(value) or value < 0:
        raise ValueError(f"{what} must be 0 or more seconds, not {value!r}")
    return float(value)


class _DeviceList:
    """A C device list; freed when no Device of it is left."""

    def __init__(self, lib: ctypes.CDLL, handle: ctypes.c_void_p, owner: int, scan: int) -> None:
        self.lib = lib
        self.handle = handle
        self.owner = owner  # the provider's C handle
        self.scan = scan  # which of its scans made the list

    def __del__(self) -> None:
        self.lib.noxb_device_list_free(self.handle)


@dataclass(frozen=True)
class Device:
    """One entry of a scan."""

    name: str
    address: str  # "xx:xx:xx:xx:xx:xx", lower-case hex
    first_pass: bool  # found by the scan's first pass (else by the second)
    connectable: bool
    _list: _DeviceList | None = field(default=None, repr=False, compare=False)
    _index: int = field(default=-1, repr=False, compare=False)


NotificationCallback = Callable[[bytes], object]

# Open providers, by their C handle: the callbacks the C interface holds live
# here until the provider is closed, whatever becomes of the Provider object.
_open: dict[int, tuple[_capi.Events, Callable[[], None]]] = {}
_open_lock = threading.Lock()


@atexit.register
def _close_all() -> None:
    # No event may reach an interpreter that is shutting down.
    with _open_lock:
        closers = [closer for _, closer in _open.values()]
    for closer in closers:
        closer()


class Provider:
    """One provider of the module: scans and connects.

    ``module_path`` is the module to load (default: the one beside the C
    interface). ``on_session(session)`` and ``on_disconnect(address)`` are
    optional callbacks, called on the stack's threads like notifications.
    """

    def __init__(
        self,
        module_path: str | os.PathLike[str] | None = None,
        *,
        on_session: Callable[[int], object] | None = None,
        on_disconnect: Callable[[str], object] | None = None,
    ) -> None:
        if module_path is not None and not isinstance(module_path, (str, os.PathLike)):
            raise TypeError(f"module_path must be a path, not {type(module_path).__name__}")
        try:
            self._lib = _capi.library()
        except OSError as e:
            raise ModuleNotFound(_capi.MODULE_NOT_FOUND, str(e)) from None
        self._on_session = on_session
        self._on_disconnect = on_disconnect
        self._links: dict[str, Connection] = {}  # open connections by address
        self._errors: list[BaseException] = []
        self._scans = 0
        self._handle = ctypes.c_void_p()
        me = weakref.ref(self)
        events = _capi.Events(
            None,
            _capi.SessionEstablished(lambda _, session: _deliver(me, "_session", session)),
            _capi.DeviceDisconnected(lambda _, address: _deliver(me, "_disconnected", address)),
            _capi.CharacteristicData(_data_callback(me)),
        )
        path = None if module_path is None else os.fsencode(module_path)
        _check(self._lib, self._lib.noxb_provider_open(path, ctypes.byref(events),
                                                       ctypes.byref(self._handle)))
        lib, handle = self._lib, self._handle.value

        def close() -> None:
            # Once only, and this provider's own: a later provider may get
            # the same C handle.
            with _open_lock:
                if _open.get(handle) is not entry:
                    return
                del _open[handle]
            # The callbacks stay alive until the C interface has let go of them.
            lib.noxb_provider_close(handle)

        entry = (events, close)
        self._entry = entry
        self._closer = close
        with _open_lock:
            _open[handle] = entry

    # -- the provider's calls -------------------------------------------

    def scan(self, seconds: float = 0.0) -> list[Device]:
        """Scans: one pass of about a second, then, for ``seconds`` of 1 or
        more, a second pass of ``int(seconds)`` seconds that leaves out weak
        devices. A device seen by both passes is listed twice."""
        ms = int(_number(seconds, "seconds") * 1000)
        self._enter()
        lib = self._lib
        c_list = ctypes.c_void_p()
        _check(lib, lib.noxb_scan(self._handle, ms, ctypes.byref(c_list)))
        self._scans += 1
        entries = _DeviceList(lib, c_list, self._handle.value, self._scans)
        count = ctypes.c_size_t()
        _check(lib, lib.noxb_device_list_count(c_list, ctypes.byref(count)))
        devices = []
        for i in range(count.value):
            d = _capi.Device()
            _check(lib, lib.noxb_device_list_get(c_list, i, ctypes.byref(d)))
            devices.append(Device((d.name or b"").decode("utf-8", "replace"),
                                  (d.address or b"").decode("ascii", "replace"),
                                  bool(d.first_pass), bool(d.connectable), entries, i))
        return devices

    def connect(self, device: Device, on_notification: NotificationCallback | None = None
                ) -> Connection:
        """Connects to ``device``, an entry of this provider's last scan.

        Notifications go to ``on_notification(data)`` when given, else to the
        connection's queue."""
        if not isinstance(device, Device):
            raise TypeError(f"device must be a noxble.Device, not {type(device).__name__}")
        if on_notification is not None and not callable(on_notification):
            raise TypeError("on_notification must be callable")
        self._require_last_scan(device)
        self._enter()
        handle = ctypes.c_uint32()
        assert device._list is not None
        _check(self._lib, self._lib.noxb_connect(self._handle, device._list.handle,
                                                 device._index, ctypes.byref(handle)))
        link = Connection(self, device, handle.value, on_notification)
        self._links[device.address] = link
        return link

    def close(self) -> None:
        """Closes the provider: waits for its running calls and events; none
        comes after. Raises CallbackError for an exception a callback raised
        and nobody has been told of yet."""
        if _in_event():
            raise RuntimeError("a provider is not to be closed from its own callback")
        for link in list(self._links.values()):
            link._closed = True
            link._queue.put(None)
        self._links.clear()
        self._closer()
        self._raise_callback_errors()

    @property
    def closed(self) -> bool:
        with _open_lock:
            return _open.get(self._handle.value) is not self._entry

    def __enter__(self) -> Provider:
        return self

    def __exit__(self, kind: type[BaseException] | None, value: BaseException | None,
                 tb: TracebackType | None) -> None:
        if kind is None:
            self.close()
            return
        try:
            self.close()
        except CallbackError as e:  # do not hide the exception on its way out
            _report(e.__cause__ or e)

    def __del__(self) -> None:
        if getattr(self, "_closer", None) is not None and not _in_event():
            self._closer()
            for error in self._errors:
                _report(error)

    # -- inside ------------------------------------------------------------

    def _enter(self) -> None:
        if _in_event():
            raise RuntimeError("the provider is not to be called from its own callback")
        if self.closed:
            raise ValueError("the provider is closed")
        self._raise_callback_errors()

    def _raise_callback_errors(self) -> None:
        if self._errors:
            first = self._errors.pop(0)
            more = f" (and {len(self._errors)} more)" if self._errors else ""
            self._errors.clear()
            raise CallbackError(0, f"a callback raised {first!r}{more}") from first

    def _require_last_scan(self, device: Device) -> None:
        entries = device._list
        if entries is None or entries.owner != self._handle.value or entries.scan != self._scans:
            raise ValueError(f"{device.address} is not an entry of this provider's last scan")

    def _session(self, session: int) -> None:
        if self._on_session is not None:
            self._on_session(session)

    def _disconnected(self, address: bytes) -> None:
        text = address.decode("ascii", "replace")
        link = self._links.get(text)
        if link is not None:
            link.link_lost = True
        if self._on_disconnect is not None:
            self._on_disconnect(text)



def _in_event() -> bool:
    return threading.get_ident() in _event_threads


def _report(error: BaseException) -> None:
    print("noxble: a callback raised:", file=sys.stderr)
    traceback.print_exception(error, file=sys.stderr)


def _deliver(provider: weakref.ref[Provider], method: str, *args: object) -> None:
    """Runs on a stack thread, holding the GIL: nothing escapes into the C
    interface; an exception is kept for the provider's next call."""
    if not hasattr(_adopted, "state"):
        _adopt_stack_thread()
    thread = threading.get_ident()
    nested = thread in _event_threads
    _event_threads.add(thread)
    try:
        target = provider()
        if target is not None:
            try:
                getattr(target, method)(*args)
            except BaseException as e:  # noqa: B036 - even SystemExit must not unwind here
                target._errors.append(e)
    except BaseException:  # noqa: B036
        pass
    finally:
        if not nested:
            _event_threads.discard(thread)


def _data_callback(provider: weakref.ref[Provider]) -> Callable[[object, bytes, int, int], None]:
    """The notification path, the busiest of the callbacks: _deliver's work
    done inline."""
    string_at = ctypes.string_at
    get_ident = threading.get_ident

    def on_data(_: object, address: bytes, data: int, length: int) -> None:
        if not hasattr(_adopted, "state"):
            _adopt_stack_thread()
        thread = get_ident()
        nested = thread in _event_threads
        _event_threads.add(thread)
        try:
            target = provider()
            link = None if target is None else target._links.get(address.decode())
            if link is None:
                return
            if link._callback is None:
                link._queue.put(string_at(data, length))
                return
            try:
                link._callback(string_at(data, length))
            except BaseException as e:  # noqa: B036 - even SystemExit must not unwind here
                link._provider._errors.append(e)
        except BaseException:  # noqa: B036
            pass
        finally:
            if not nested:
                _event_threads.discard(thread)

    return on_data


class Connection:
    """A GATT session with one device, through its service handle."""

    def __init__(self, provider: Provider, device: Device, handle: int,
                 callback: NotificationCallback | None) -> None:
        self.device = device
        self.handle = handle
        self.link_lost = False  # the device ended the session on its side
        self._provider = provider
        self._callback = callback
        self._queue: queue.SimpleQueue[bytes | None] = queue.SimpleQueue()
        self._closed = False

    def send(self, data: bytes | bytearray | memoryview) -> None:
        """Writes ``data`` (at most MAX_VALUE_LENGTH bytes) in one long write."""
        if not isinstance(data, bytes):
            if not isinstance(data, (bytearray, memoryview)):
                raise TypeError(f"data must be bytes, not {type(data).__name__}")
            data = bytes(data)
        if len(data) > MAX_VALUE_LENGTH:
            raise ValueError(f"{len(data)} bytes: one send writes at most {MAX_VALUE_LENGTH}")
        p = self._use()
        _check(p._lib, p._lib.noxb_send(p._handle, self.handle, data, len(data)))

    def receive(self, timeout: float = 1.0) -> bytes:
        """Reads the device's value, waiting up to ``timeout`` seconds; empty
        bytes after a time-out."""
        ms = int(_number(timeout, "timeout") * 1000)
        p = self._use()
        capacity = MAX_VALUE_LENGTH
        while True:
            buffer = ctypes.create_string_buffer(capacity)
            length = ctypes.c_size_t()
            status = p._lib.noxb_receive(p._handle, self.handle, ms, buffer, capacity,
                                         ctypes.byref(length))
            if status != _capi.BUFFER_TOO_SMALL:
                _check(p._lib, status)
                return buffer.raw[: length.value]
            capacity = length.value  # kept by the C interface: ask again

    def rssi(self) -> int:
        """The signal strength of the connected device, in dBm."""
        p = self._use()
        value = ctypes.c_int16()
        p._require_last_scan(self.device)
        assert self.device._list is not None
        _check(p._lib, p._lib.noxb_rssi(p._handle, self.device._list.handle, self.device._index,
                                        ctypes.byref(value)))
        return value.value

    def get_notification(self, timeout: float | None = None) -> bytes:
        """The next queued notification bytes; TimeoutError when none comes
        within ``timeout`` seconds (None: wait as long as it takes)."""
        if timeout is not None:
            _number(timeout, "timeout")
        try:
            data = self._queue.get(timeout=timeout)
        except queue.Empty:
            raise TimeoutError(f"no notification within {timeout} s") from None
        if data is None:
            self._queue.put(None)
            raise ValueError("the connection is closed")
        return data

    def notifications(self, timeout: float | None = None) -> Iterator[bytes]:
        """The notifications as they come, until none comes for ``timeout``
        seconds or the connection is closed."""
        while True:
            try:
                yield self.get_notification(timeout)
            except (TimeoutError, ValueError):
                return

    def close(self) -> None:
        """Disconnects; closing again does nothing."""
        if self._closed:
            return
        p = self._provider
        if _in_event():
            raise RuntimeError("a connection is not to be closed from a callback")
        self._closed = True
        self._queue.put(None)
        if p._links.get(self.device.address) is self:
            del p._links[self.device.address]
        if not p.closed:
            _check(p._lib, p._lib.noxb_disconnect(p._handle, self.handle))

    def __enter__(self) -> Connection:
        return self

    def __exit__(self, kind: type[BaseException] | None, value: BaseException | None,
                 tb: TracebackType | None) -> None:
        self.close()

    def _use(self) -> Provider:
        if self._closed:
            raise ValueError("the connection is closed")
        self._provider._enter()
        return self._provider
