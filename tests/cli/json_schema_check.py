#!/usr/bin/env python3
"""Runs every kestravon-cli command with --json on fixture images and checks each document
against docs/kestravon-cli.schema.json, and that docs/json.md names every key and error code
the schema allows. Exits 1 with a list of what failed."""

import argparse
import json
import os
import subprocess
import sys
import tempfile

try:
    import jsonschema
except ImportError:
    sys.exit("python3-jsonschema is missing: run scripts/install-deps.sh")


def schema_keys(node, keys):
    """Every property name the schema allows, anywhere in it."""
    if isinstance(node, dict):
        for name, sub in node.get("properties", {}).items():
            keys.add(name)
            schema_keys(sub, keys)
        for name, sub in node.items():
            if name != "properties":
                schema_keys(sub, keys)
    elif isinstance(node, list):
        for sub in node:
            schema_keys(sub, keys)
    return keys


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--fixtures", required=True)
    parser.add_argument("--schema", required=True)
    parser.add_argument("--doc", required=True)
    args = parser.parse_args()

    with open(args.schema, encoding="utf-8") as f:
        schema = json.load(f)
    validator = jsonschema.Draft202012Validator(schema)
    failures = []

    with open(args.doc, encoding="utf-8") as f:
        doc = f.read()
    for key in sorted(schema_keys(schema, set())):
        if "`%s`" % key not in doc and "\"%s\"" % key not in doc:
            failures.append("docs/json.md does not name the key `%s`" % key)
    for code in schema["$defs"]["errorCode"]["enum"]:
        if "`%s`" % code not in doc:
            failures.append("docs/json.md does not name the error code `%s`" % code)

    def fixture(name):
        return os.path.join(args.fixtures, name)

    with tempfile.TemporaryDirectory() as tmp:
        def folder(name):
            path = os.path.join(tmp, name)
            os.makedirs(path, exist_ok=True)
            return path

        zeros = os.path.join(tmp, "zeros.img")
        with open(zeros, "wb") as f:
            f.write(bytes(64 * 512))
        empty_sysfs = folder("sysfs")
        # A disk whose partition table and boot sectors are gone: FAT16, NTFS and FAT32 volumes.
        wiped = os.path.join(tmp, "wiped.img")
        with open(wiped, "wb") as out:
            out.write(bytes(2048 * 512))
            for name, lost in (("fat16_basic.img", [0]), ("ntfs_basic.img", [0, -1]), ("fat32_basic.img", [0, 6])):
                with open(fixture(name), "rb") as f:
                    data = bytearray(f.read())
                for sector in lost:
                    start = sector * 512 if sector >= 0 else len(data) + sector * 512
                    data[start:start + 512] = bytes(512)
                out.write(data)

        # (arguments, the exit codes the run may end with)
        runs = [
            (["info", fixture("fat32_basic.img")], {0}),
            (["info", "-p", "1", fixture("disk_mbr.img")], {0}),
            (["info", fixture("ntfs_basic.img")], {0}),
            (["info", "--fs", "FAT16", zeros], {1}),
            (["scan", fixture("fat16_basic.img"), "--save-log", os.path.join(tmp, "basic.MFT")], {0}),
            (["deep", wiped, "--save-log", os.path.join(tmp, "deep.MFT")], {0}),
            (["list", "--all", "--log", os.path.join(tmp, "basic.MFT")], {0}),
            (["save", "--log", os.path.join(tmp, "deep.MFT"), "--all", "-d", folder("save-log")], {0}),
            (["open", "--no-open", "--log", os.path.join(tmp, "deep.MFT"), "--file", "small.txt"], {0}),
            (["list", "--log", zeros], {2}),
            (["list", "--log", os.path.join(tmp, "basic.MFT"), "--source", zeros], {3}),
            (["scan", fixture("fat16_basic.img")], {0}),
            (["scan", "--debug", fixture("ntfs_basic.img")], {0}),
            (["scan", "--fs", "FAT32", zeros], {1}),
            (["deep", wiped], {0}),
            (["deep", "--fs", "FAT", "--first", "2048", "--last", "40000", wiped], {0}),
            (["list", "--deep", "--all", wiped], {0}),
            (["save", "--deep", wiped, "--all", "-d", folder("save-deep")], {0}),
            (["deep", zeros], {1}),
            (["search", "--advanced", wiped], {0}),
            (["search", fixture("disk_mbr.img")], {1}),
            (["search", zeros], {0}),
            (["search", "--inside", wiped], {1}),
            (["search", "--inside", fixture("disk_mbr.img")], {0}),
            (["search", os.path.join(tmp, "missing.img")], {3}),
            (["list", "--all", fixture("fat16_basic.img")], {0}),
            (["list", "--all", "--debug", fixture("ntfs_basic.img")], {0}),
            (["list", "--deleted-only", "-f", "Old Projects", fixture("fat32_basic.img")], {0}),
            (["save", fixture("fat16_basic.img"), "--all", "-d", folder("save1")], {0}),
            (["save", fixture("fat_truncated.img"), "--all", "-d", folder("save2")], {1}),
            (["save", fixture("ntfs_basic.img"), "--file-id", "1:20", "-d", folder("save3")], {0, 1}),
            (["open", "--no-open", fixture("ntfs_basic.img"), "--file", "small.txt"], {0}),
            (["carve", fixture("carving_planted.img"), "-d", folder("carve")], {0}),
            (["carve", "--list-types"], {0}),
            (["disks", "--sysfs-root", empty_sysfs, "--image", fixture("disk_mbr.img"), "--image",
              fixture("disk_linux_first_gpt.img"), "--image", os.path.join(tmp, "missing.img")], {3}),
            (["disks", "--debug", "--sysfs-root", empty_sysfs, "--image", fixture("disk_linux_first_mbr.img")], {0}),
            (["volumes"], {0}),
            (["volumes", "--debug"], {0}),
            (["scan", os.path.join(tmp, "missing.img")], {3}),
            (["scan", zeros], {2}),
            (["scan", fixture("disk_linux_first_mbr.img")], {2}),
            (["scna", zeros], {2}),
            (["save", fixture("fat16_basic.img"), "-d", folder("save4")], {2}),
            (["save", fixture("fat16_basic.img"), "--all", "-d", os.path.join(tmp, "nowhere")], {2}),
        ]
        for argv, codes in runs:
            command = [args.cli, "--json"] + argv
            done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                  stdin=subprocess.DEVNULL)
            label = " ".join(argv)
            if done.returncode not in codes:
                failures.append("%s: exit code %d, expected %s" % (label, done.returncode, sorted(codes)))
            try:
                document = json.loads(done.stdout.decode("utf-8"))
            except ValueError as e:
                failures.append("%s: no JSON document (%s)" % (label, e))
                continue
            for error in validator.iter_errors(document):
                failures.append("%s: %s at %s" % (label, error.message, "/".join(str(p) for p in error.absolute_path)))

    for failure in failures:
        print(failure)
    print("%d documents checked, %d failures" % (len(runs), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
