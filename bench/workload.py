#!/usr/bin/python3
"""Writes a benchmark workload, the same bytes on every run.

usage: workload.py site|bulk|large|folders DIR

site:    1,000 files of 1-16 KiB, text and binary, in about 60 folders up to 4 levels deep
bulk:    16 files of 16 MiB
large:   10 text files of 200 MiB (Japanese UTF-8 text, for the memory of a converting upload)
folders: the large folders to list: files2000, files20000 and files100000 (that many entries, one in a hundred a
         folder, the others empty files of five kinds: .jpg, .html, .txt, .css and no suffix) and dirs5000 (5,000
         empty folders)
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


def folders(root):
    suffixes = [".jpg", ".html", ".txt", ".css", ""]
    for count in (2000, 20000, 100000):
        folder = os.path.join(root, "files%d" % count)
        os.makedirs(folder, exist_ok=True)
        for i in range(count):
            if i % 100 == 50:
                os.makedirs(os.path.join(folder, "dir%06d" % i), exist_ok=True)
            else:
                open(os.path.join(folder, "file%06d%s" % (i, suffixes[i % 5])), "wb").close()
    for i in range(5000):
        os.makedirs(os.path.join(root, "dirs5000", "sub%05d" % i), exist_ok=True)


if __name__ == "__main__":
    kind, root = sys.argv[1], sys.argv[2]
    {"site": site, "bulk": bulk, "large": large, "folders": folders}[kind](root)
