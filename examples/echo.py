#!/usr/bin/env python3
"""The whole job from Python: scan, connect to the phone with the data
service, send, take the notification, receive the echo, read the signal
strength, disconnect.

    echo.py [text]      (the C interface: NOXBLE_LIBRARY, or where it is installed)
"""
import sys

import noxble


def main() -> int:
    text = (sys.argv[1] if len(sys.argv) > 1 else "hello from Python").encode()
    with noxble.Provider() as p:
        devices = p.scan(seconds=0)
        for d in devices:
            print(f"found {d.name:24} {d.address}{'' if d.connectable else '  (not connectable)'}")
        phone = next(d for d in devices if d.name == "Pixel 8")
        with p.connect(phone) as link:
            print(f"connected to {phone.name}, service handle {link.handle:#x}")
            link.send(text)
            print(f"notification: {link.get_notification(timeout=2.0)!r}")
            print(f"received: {link.receive(timeout=1.0)!r}")
            print(f"signal: {link.rssi()} dBm")
        print("disconnected")
    return 0


if __name__ == "__main__":
    sys.exit(main())
