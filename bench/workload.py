#!/usr/bin/python3
"""Writes a benchmark workload, the same bytes on every run.

usage: workload.py site|bulk|large DIR

site:  1,000 files of 1-16 KiB, text and binary, in about 60 folders up to 4 levels deep
bulk:  16 files of 16 MiB
large: 10 text files of 200 MiB (Japanese UTF-8 text, for the memory of a converting upload)
"""
import os
import random
import sys

WORDS = ["ようこそ", "サイト", "記事", "更新", "写真", "日記", "hello", "world", "page", "style", "東京", "大阪"]


def text_bytes(rng, size):
    out = []
    total = 0
    while total < size:
        line = " ".join(rng.choice(WORDS) for _ in range(rng.randint(4, 12))) + "\n"
        data = line.encode("utf-8")
        out.append(data)
        total += len(data)
    return b"".join(out)[:size].decode("utf-8", "ignore").encode("utf-8")


def site(root):
    rng = random.Random(20261208)
    folders = [""]
    while len(folders) < 60:
        parent = rng.choice(folders)
        if parent.count("/") >= 3:
            continue
        name = (parent + "/" if parent else "") + "d%02d" % len(folders)
        folders.append(name)
    for i in range(1000):
        folder = os.path.join(root, folders[i % len(folders)])
        os.makedirs(folder, exist_ok=True)
        size = rng.randint(1024, 16 * 1024)
        if i % 3 == 2:
            path = os.path.join(folder, "img%04d.png" % i)
            data = bytes(rng.getrandbits(8) for _ in range(size))
        else:
            path = os.path.join(folder, "page%04d.html" % i)
            data = text_bytes(rng, size)
        with open(path, "wb") as f:
            f.write(data)


def bulk(root, count=16, size=16 << 20):
    rng = random.Random(16)
    os.makedirs(root, exist_ok=True)
    block = bytes(rng.getrandbits(8) for _ in range(1 << 20))
    for i in range(count):
        with open(os.path.join(root, "bulk%02d.bin" % i), "wb") as f:
            for j in range(size >> 20):
                f.write(bytes([i, j]) + block[2:])


def large(root, count=10, size=200 << 20):
    rng = random.Random(200)
    os.makedirs(root, exist_ok=True)
    chunk = text_bytes(rng, 1 << 20)
    for i in range(count):
        with open(os.path.join(root, "large%02d.txt" % i), "wb") as f:
            for _ in range(size // len(chunk)):
                f.write(chunk)


if __name__ == "__main__":
    kind, root = sys.argv[1], sys.argv[2]
    {"site": site, "bulk": bulk, "large": large}[kind](root)
