"""Prints the native benchmarks' JSON output (Google Benchmark,
--benchmark_format=json) as tables of figures and ratios measured side by
side in the same run.

    python3 bench/report.py codec.json channel.json

Times are CPU times (median over the repetitions when there are several):
on a shared machine they move less than wall-clock times.
"""

import json
import sys

# Shapes whose encode and decode should stay within 2x of memcpy.
BULK_SHAPES = ("ByteList10MiB", "DoubleList1M")


def load(path):
    """{benchmark name: cpu time in ns}, medians preferred."""
    with open(path) as f:
        data = json.load(f)
    scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}
    times, items = {}, {}
    for run in data["benchmarks"]:
        aggregate = run.get("aggregate_name")
        if aggregate not in (None, "median"):
            continue
        name = run.get("run_name", run["name"])
        if aggregate is None and name in times:
            continue  # a repetition; the median comes later
        times[name] = run["cpu_time"] * scale[run["time_unit"]]
        if "items_per_second" in run:
            items[name] = run["items_per_second"]
    return times, items


def fmt_time(ns):
    for unit, size in (("s", 1e9), ("ms", 1e6), ("us", 1e3)):
        if ns >= size:
            return f"{ns / size:.3g} {unit}"
    return f"{ns:.3g} ns"


def codec_table(times):
    shapes = []
    for name in times:
        if name.startswith("BM_Encode/"):
            shapes.append(name.split("/", 1)[1])
    print("Codec throughput (native, CPU time per operation)")
    header = (f"{'shape':<16}{'encode':>10}{'decode':>10}{'memcpy':>10}"
              f"{'msgp own':>10}{'msgp pack':>11}{'msgp conv':>11}"
              f"{'msgp obj':>10}  {'enc/memcpy':>10}{'dec/memcpy':>11}"
              f"{'enc/own':>9}{'enc/pack':>9}{'dec/conv':>9}{'dec/obj':>8}"
              f"  targets")
    print(header)
    print("-" * len(header))
    for shape in shapes:
        t = {k: times.get(f"BM_{k}/{shape}") for k in (
            "Encode", "Decode", "Memcpy", "MsgpackPackOwned", "MsgpackPack",
            "MsgpackConvert", "MsgpackUnpack")}
        if None in t.values():
            continue
        ratios = {
            "enc/memcpy": t["Encode"] / t["Memcpy"],
            "dec/memcpy": t["Decode"] / t["Memcpy"],
            "enc/own": t["Encode"] / t["MsgpackPackOwned"],
            "enc/pack": t["Encode"] / t["MsgpackPack"],
            "dec/conv": t["Decode"] / t["MsgpackConvert"],
            "dec/obj": t["Decode"] / t["MsgpackUnpack"],
        }
        # Judged like for like: encode against msgpack-cxx handing over the
        # same owned byte vector, decode against it producing the same
        # containers; enc/pack (its own buffer) and dec/obj (its own zone
        # objects) are for reference.
        missed = [k for k in ("enc/own", "dec/conv") if ratios[k] > 1.0]
        if shape in BULK_SHAPES:
            missed += [k for k in ("enc/memcpy", "dec/memcpy")
                       if ratios[k] > 2.0]
        verdict = "met" if not missed else "MISSED " + ",".join(missed)
        print(f"{shape:<16}{fmt_time(t['Encode']):>10}"
              f"{fmt_time(t['Decode']):>10}{fmt_time(t['Memcpy']):>10}"
              f"{fmt_time(t['MsgpackPackOwned']):>10}"
              f"{fmt_time(t['MsgpackPack']):>11}"
              f"{fmt_time(t['MsgpackConvert']):>11}"
              f"{fmt_time(t['MsgpackUnpack']):>10}  "
              f"{ratios['enc/memcpy']:>9.2f}x{ratios['dec/memcpy']:>10.2f}x"
              f"{ratios['enc/own']:>8.2f}x{ratios['enc/pack']:>8.2f}x"
              f"{ratios['dec/conv']:>8.2f}x"
              f"{ratios['dec/obj']:>7.2f}x  {verdict}")
    print("memcpy: the encoded bytes into an existing buffer; "
          "memcpy into a new buffer each time:",
          ", ".join(f"{s} {fmt_time(times[f'BM_MemcpyNew/{s}'])}"
                    for s in shapes if f"BM_MemcpyNew/{s}" in times))
    print("msgp own: msgpack-cxx packing into a byte vector owned through a "
          "unique_ptr, the result type our encoders hand over; msgp pack: "
          "packing into its own buffer (reference)")
    print("msgp conv: msgpack-cxx unpacking and converting into the standard "
          "containers our decoder produces; msgp obj: unpacking into its own "
          "zone-allocated objects only (reference)")
    print("targets: byte and double lists within 2x of memcpy; every shape "
          "encoding at or below msgpack-cxx packing into the same owned "
          "vector and decoding at or below msgpack-cxx unpacking into the "
          "same containers")


def channel_table(times, items):
    print("Channel round trip in process (native, fake embedding)")
    for name, label in (("BM_RoundTrip_SmallCall", "small call"),
                        ("BM_RoundTrip_ByteList10MiB",
                         "10 MiB byte-list answer")):
        if name in times:
            print(f"  {label:<26}{items.get(name, 0):>14,.0f} round trips/s"
                  f"   ({fmt_time(times[name])} each)")


def main():
    for path in sys.argv[1:]:
        times, items = load(path)
        if any(n.startswith("BM_Encode/") for n in times):
            codec_table(times)
        else:
            channel_table(times, items)
        print()


if __name__ == "__main__":
    main()
