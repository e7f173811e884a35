#!/usr/bin/env python3
"""Writes the class files of snp_fixture's "large" snapshot into a folder:
org/bench/pN/TypeC.class with the same methods and line slots (one nop per
slot, then return), so that `snp REPORT large.snp --classes DIR` matches
every class. Usage: snp_bench_classes.py DIR METHODS"""
import os
import struct
import sys

NAMES = ["run", "get", "set", "apply", "close"]


class Pool:
    def __init__(self):
        self.entries = []
        self.index = {}

    def add(self, key, data):
        if key not in self.index:
            self.entries.append(data)
            self.index[key] = len(self.entries)
        return self.index[key]

    def utf8(self, text):
        raw = text.encode()
        return self.add(("u", text), b"\x01" + struct.pack(">H", len(raw)) + raw)

    def klass(self, name):
        return self.add(("c", name), b"\x07" + struct.pack(">H", self.utf8(name)))


def class_file(c, count):
    pool = Pool()
    this = pool.klass("org/bench/p%d/Type%d" % (c % 100, c))
    parent = pool.klass("java/lang/Object")
    methods = b""
    for i in range(count):
        lines = [10 + i * 12 + k for k in range(8)]
        code = b"\x00" * 8 + b"\xb1"
        table = struct.pack(">H", 8) + b"".join(struct.pack(">HH", k, line) for k, line in enumerate(lines))
        lnt = struct.pack(">HI", pool.utf8("LineNumberTable"), len(table)) + table
        body = struct.pack(">HHI", 1, 2, len(code)) + code + struct.pack(">HH", 0, 1) + lnt
        methods += struct.pack(">HHHH", 1, pool.utf8(NAMES[i % 5]), pool.utf8("(I)V"), 1)
        methods += struct.pack(">HI", pool.utf8("Code"), len(body)) + body
    source = struct.pack(">HIH", pool.utf8("SourceFile"), 2, pool.utf8("Type%d.java" % c))
    head = b"\xca\xfe\xba\xbe" + struct.pack(">HHH", 0, 52, len(pool.entries) + 1)
    return (head + b"".join(pool.entries) + struct.pack(">HHHHHH", 0x21, this, parent, 0, 0, count)
            + methods + struct.pack(">H", 1) + source)


def main():
    folder, methods = sys.argv[1], int(sys.argv[2])
    for c in range((methods + 9) // 10):
        count = min(10, methods - c * 10)
        path = os.path.join(folder, "org/bench/p%d" % (c % 100))
        os.makedirs(path, exist_ok=True)
        with open(os.path.join(path, "Type%d.class" % c), "wb") as out:
            out.write(class_file(c, count))


main()
