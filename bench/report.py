#!/usr/bin/env python3
"""Prints the performance table (markdown) from the JSON of one run of
noxb_bench (with repetitions) and of noxb_bench_footprint.

Times are medians over the repetitions of the calling thread's processor
time (the machine is shared: wall time also counts other people's builds);
the stack's own delivery of value events runs on its thread and is timed by
the clock. Every overhead is worked out from the provider's figure and the
bare figure of the same run.
"""
import json
import os
import sys


def load(path):
    with open(path) as f:
        return json.load(f)


def medians(run):
    """run name -> median aggregate (or the single result)."""
    found = {}
    for b in run["benchmarks"]:
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        found[b["run_name"]] = b
    return found


def ns(b):
    scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}[b["time_unit"]]
    key = "real_time" if "real_time" in b["name"] else "cpu_time"
    return b[key] * scale


def verdict(ok):
    return "met" if ok else "**missed**"


def main(bench_path, footprint_path, tracer_path=None):
    bench_run = load(bench_path)
    # bench/python_bench.py's figures, beside the benchmarks' JSON.
    python_path = os.path.join(os.path.dirname(bench_path), "python.json")
    python = load(python_path) if os.path.exists(python_path) else None
    b = medians(bench_run)
    f = medians(load(footprint_path))
    ctx = bench_run["context"]
    reps = max((x.get("repetitions", 1) for x in bench_run["benchmarks"]), default=1)
    out = []
    out.append(f"Run of {ctx['date']} on {ctx['host_name']}, {ctx['num_cpus']} CPUs at "
               f"{ctx['mhz_per_cpu']} MHz, load average {', '.join(f'{x:.2f}' for x in ctx.get('load_avg', []))}"
               f" at the start; medians of {reps} repetitions.")
    out.append("")

    out.append("### Data path (512 bytes), ns per call")
    out.append("")
    out.append("| figure | provider | bare stack | overhead | budget | |")
    out.append("|---|---:|---:|---:|---|---|")
    for trace in (0, 1):
        label = "off" if trace == 0 else "on (Info)"
        send = ns(b[f"BM_Send/trace:{trace}"])
        bare = ns(b[f"BM_BareWriteLong/trace:{trace}"])
        floor = ns(b[f"BM_SendFloor/trace:{trace}"])
        over = send - bare
        budget = "≤ 1000 ns" if trace == 0 else ""
        mark = verdict(over <= 1000) if trace == 0 else ""
        out.append(f"| `Send`, trace {label} | {send:.0f} | {bare:.0f} (`WriteLong`) | "
                   f"{over:.0f} | {budget} | {mark} |")
        ratio = send / floor
        budget = "≤ 2 × floor" if trace == 0 else ""
        mark = verdict(ratio <= 2) if trace == 0 else ""
        out.append(f"| `Send` against its floor, trace {label} | {send:.0f} | {floor:.0f} (floor) | "
                   f"{ratio:.2f} × floor | {budget} | {mark} |")
    for trace in (0, 1):
        label = "off" if trace == 0 else "on (Info)"
        recv = ns(b[f"BM_Receive/trace:{trace}"])
        bare = ns(b[f"BM_BareReadLong/trace:{trace}"])
        out.append(f"| `Receive`, data ready, trace {label} | {recv:.0f} | {bare:.0f} (`ReadLong`) | "
                   f"{recv - bare:.0f} | | |")
    for trace in (0, 1):
        label = "off" if trace == 0 else "on (Info)"
        log = ns(b[f"BM_LogStatement/trace:{trace}"])
        out.append(f"| one log statement, trace {label} | {log:.0f} | | | | |")
    out.append("")
    out.append("The floor of a `Send` is one bare `WriteLong` and the two records every `Send` "
               "builds (\"sending data by handle N\", \"looking for BLE service by handleN\").")
    out.append("")

    out.append("### The tracer: an LTTng session around the process")
    out.append("")
    if tracer_path is None:
        out.append("Not measured: no LTTng-UST in this build, or no lttng-tools.")
    else:
        t = medians(load(tracer_path))
        send_off = ns(b["BM_Send/trace:0"])
        send_on = ns(t["BM_Send/trace:2"])
        log_off = ns(b["BM_LogStatement/trace:0"])
        log_consumer = ns(b["BM_LogStatement/trace:1"]) - log_off
        log_tracer = ns(t["BM_LogStatement/trace:2"]) - log_off
        out.append("| figure | ns |")
        out.append("|---|---:|")
        out.append(f"| `Send`, nobody listening (the shim built with LTTng-UST) | {send_off:.0f} |")
        out.append(f"| `Send`, an LTTng session listening | {send_on:.0f} |")
        out.append(f"| one record, written to the LTTng session | {log_tracer:.0f} |")
        out.append(f"| one record, written to the in-process consumer | {log_consumer:.0f} |")
    out.append("")

    out.append("### Value events (0x1210, 512 bytes)")
    out.append("")
    out.append("| path | ns per event | events/s | MB/s | budget | |")
    out.append("|---|---:|---:|---:|---|---|")
    rows = [("module callback, no host", "BM_ValueEvent/host:0", True),
            ("module callback, host takes the bytes each time", "BM_ValueEvent/host:1", True),
            ("bare: one append of the bytes", "BM_BareValueEvent", False),
            ("simulated stack raising and delivering to a bare callback", "BM_StackValueEvent/real_time",
             False)]
    for label, name, budgeted in rows:
        x = b[name]
        eps = x["items_per_second"]
        mbs = x["bytes_per_second"] / 1e6
        budget = "≥ 10 M/s" if budgeted else ""
        mark = verdict(eps >= 10e6) if budgeted else ""
        out.append(f"| {label} | {ns(x):.1f} | {eps / 1e6:.2f} M | {mbs:.0f} | {budget} | {mark} |")
    out.append("")

    out.append("### Scan(0): one discovery pass, every record a named, connectable phone")
    out.append("")
    out.append("| records | `Scan` µs | bare discovery µs | beyond the stack, ns per record | budget | |")
    out.append("|---:|---:|---:|---:|---|---|")
    for n in (10, 100, 1000, 10000):
        scan = ns(b[f"BM_Scan/records:{n}"])
        bare = ns(b[f"BM_BareDiscovery/records:{n}"])
        per = (scan - bare) / n
        out.append(f"| {n} | {scan / 1e3:.1f} | {bare / 1e3:.1f} | {per:.0f} | ≤ 1000 ns | "
                   f"{verdict(per <= 1000)} |")
    out.append("")

    out.append("### Connect's look-up of the last registry device")
    out.append("")
    openclose = ns(b["BM_BareSessionOpenClose"])
    out.append(f"Bare stack: a session opened and closed, {openclose:.0f} ns.")
    out.append("")
    out.append("| registry devices | look-up µs | ns per device |")
    out.append("|---:|---:|---:|")
    for n in (10, 100, 1000, 10000):
        t = ns(b[f"BM_FindDevice/registry:{n}"])
        out.append(f"| {n} | {t / 1e3:.2f} | {t / n:.0f} |")
    out.append("")

    out.append("### The C interface and Python")
    out.append("")
    capi = ns(b["BM_CApiSend"])
    module = ns(b["BM_ModuleSend"])
    out.append("| figure | value | aim | |")
    out.append("|---|---:|---|---|")
    out.append(f"| `noxb_send`, 512 bytes | {capi:.0f} ns | | |")
    out.append(f"| the same module's C++ `Send`, loaded at run time | {module:.0f} ns | | |")
    out.append(f"| the C interface's cost over the C++ call | {capi - module:.0f} ns | < 100 ns | "
               f"{verdict(capi - module < 100)} |")
    if python is None:
        out.append("| Python | not measured | | |")
    else:
        send = python["python_send_ns"]
        rate = python["notifications_per_second"]
        out.append(f"| `Connection.send`, 512 bytes | {send:.0f} ns | | |")
        out.append(f"| Python's cost over the C interface | {send - capi:.0f} ns | < 3000 ns | "
                   f"{verdict(send - capi < 3000)} |")
        out.append(f"| notifications ({python['notification_bytes']} bytes) delivered to a Python "
                   f"callback | {rate:,.0f} /s | ≥ 100,000 /s | {verdict(rate >= 100000)} |")
    out.append("")

    out.append("### Threads, idle time, memory")
    out.append("")
    th = f["BM_Threads/iterations:1"]
    idle = f["BM_IdleSecond/iterations:1/real_time"]
    out.append("| figure | value | budget | |")
    out.append("|---|---:|---|---|")
    out.append(f"| threads before a provider / while connected | {th['threads_before']:.0f} / "
               f"{th['threads_connected']:.0f} | | |")
    out.append(f"| of those, the stack's callback threads | {th['stack_threads']:.0f} | | |")
    out.append(f"| threads of the module's own | {th['module_threads']:.0f} | 0 | "
               f"{verdict(th['module_threads'] == 0)} |")
    out.append(f"| threads of the trace shim's (its watcher of the tracer's sessions) | "
               f"{th.get('tracer_threads', 0):.0f} | | |")
    other_ns = idle["connected_other_threads_cpu_ns"]
    switches = idle["connected_other_threads_switches"]
    out.append(f"| idle second, connected: processor time of every thread but the caller's | "
               f"{other_ns:.0f} ns, {switches:.0f} wake-ups | 0 | "
               f"{verdict(other_ns == 0 and switches == 0)} |")
    out.append(f"| idle second: process time alone / connected (the clock's own noise) | "
               f"{idle['alone_process_cpu_us']:.0f} µs / {idle['connected_process_cpu_us']:.0f} µs | | |")
    worst = 0.0
    for n in (10, 1000, 10000):
        m = f[f"BM_RegistryBytes/records:{n}/iterations:1"]
        worst = max(worst, m["kept_per_device"])
        out.append(f"| {n} records: bytes kept per registry device; allocated by `Scan` per record "
                   f"beyond the stack's {m['stack_alloc_per_record']:.0f} | "
                   f"{m['kept_per_device']:.0f}; {m['module_alloc_per_record']:.0f} | ≤ 2048 kept | "
                   f"{verdict(m['kept_per_device'] <= 2048)} |")
    out.append(f"| `sizeof(BleDevice)` (the stack's 1580-byte record inside) | "
               f"{m['sizeof_BleDevice']:.0f} | | |")
    print("\n".join(out))


if __name__ == "__main__":
    main(*sys.argv[1:4])
