#!/usr/bin/env python3
"""Which tests killed which mutant: results.json of a mutation run and the
junit reports attr_watch.sh kept.   attr_report.py <results.json> <dir>"""
import glob, json, os, re, sys, collections
import xml.etree.ElementTree as ET
if sys.argv[1].endswith(".json"):
    res = json.load(open(sys.argv[1]))
else:  # the run's log, while it runs
    res = [dict(result=r, file=f, line=int(l), new=n) for r, f, l, n in
           re.findall(r"^\[\d+/\d+\] (\w+) +([^:]+):(\d+) \w+: (.*)$", open(sys.argv[1]).read(), re.M)]
files = sorted(glob.glob(os.path.join(sys.argv[2], "after-*.xml")),
               key=lambda f: int(re.findall(r"-(\d+)\.xml", f)[0]))[1:]  # the first: the baseline
# Each mutant that built ran the suite once and left one report, in order; a
# report's tag (mutants finished when it was seen) must be its index or one less.
by_mutant = {}
ran = [i for i, m in enumerate(res) if m["result"] != "stillborn"]
for i, f in zip(ran, files):
    t = int(re.findall(r"after-(\d+)-", f)[0])
    if t not in (i, i + 1):
        print(f"misaligned at mutant {i + 1}: {f}"); break
    by_mutant[i] = f
killers = collections.Counter(); sole = collections.defaultdict(list)
for i, m in enumerate(res):
    if m["result"] != "killed" or i not in by_mutant:
        continue
    f = by_mutant[i]
    failed = [c.get("name") for c in ET.parse(f).getroot().iter("testcase")
              if c.find("failure") is not None or c.get("status") == "fail"]
    print(f'{m["file"]}:{m["line"]} {m["new"].strip()[:60]!r}: {len(failed)} -> {", ".join(failed[:6])}')
    for t in failed: killers[t] += 1
    if len(failed) == 1: sole[failed[0]].append(f'{m["file"]}:{m["line"]}')
print("\nkills per test:"); [print(f"  {n:3} {t}") for t, n in killers.most_common()]
print("\nsole killers:"); [print(f"  {t}: {v}") for t, v in sole.items()]
