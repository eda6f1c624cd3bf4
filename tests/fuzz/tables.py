"""The parameter table and the reply layouts as the product has them: read from tarvik-table-dump,
so that the seed generators restate nothing of them."""
import argparse
import json
import os
import subprocess


def arguments(description):
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--dump", required=True, help="the tarvik-table-dump program")
    parser.add_argument("--out", required=True, help="directory the seeds are written into")
    return parser.parse_args()


def load(dump):
    table = json.loads(subprocess.run([dump], check=True, capture_output=True).stdout)
    for p in table["parameters"]:
        p["shape"] = table["layouts"][p["layout"]]
    return table


def write(out, seeds):
    """Writes the seeds into `out`, which holds nothing else afterwards."""
    os.makedirs(out, exist_ok=True)
    for name in os.listdir(out):
        os.remove(os.path.join(out, name))
    for name, data in seeds.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
    print(f"{len(seeds)} seeds in {out}")


def module_value(p, k=1):
    """A value as a module writes it into a reply from byte 6 on: "0" and the digit of a drop-down
    (its k-th entry, wrapped), five digits for a number, four 3-digit groups for an address."""
    shape = p["shape"]
    if shape["dropDown"]:
        return b"0" + bytes([ord("0") + p["base"] + k % len(p["entries"])])
    runs = list(zip(shape["runs"][0::2], shape["runs"][1::2]))
    if len(runs) == 1:
        return str(min(shape["largest"], 100 * k)).rjust(5, "0").encode()
    groups = [str((10 * k + i) % (shape["largest"] + 1)).rjust(last - first + 1, "0") for i, (first, last) in enumerate(runs)]
    return shape["separator"].join(groups).encode()
