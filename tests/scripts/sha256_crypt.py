#!/usr/bin/python3
# SHA-256-crypt (Ulrich Drepper's "Unix crypt using SHA-256", the algorithm of glibc's
# "$5$"), written from its specification for the tests: an oracle apart from the tool's
# own implementation, which takes salts of any length (MySQL's caching_sha2_password
# uses 20 bytes; glibc cuts a salt to 16).
#
#     sha256_crypt.py < CASES
#
# Each line of CASES holds a password and a salt in hexadecimal and a round count; the
# script prints, for each, the 43 characters of the digest that follow the salt.
import hashlib
import sys


def sha256_crypt(p, s, rounds):
    b = hashlib.sha256(p + s + p).digest()
    a = hashlib.sha256(p + s)
    for i in range(len(p) // 32):
        a.update(b)
    a.update(b[:len(p) % 32])
    n = len(p)
    while n > 0:
        a.update(b if n & 1 else p)
        n >>= 1
    a = a.digest()
    dp = hashlib.sha256(p * len(p)).digest()
    p_bytes = (dp * (len(p) // 32 + 1))[:len(p)]
    ds = hashlib.sha256(s * (16 + a[0])).digest()
    s_bytes = (ds * (len(s) // 32 + 1))[:len(s)]
    for i in range(rounds):
        c = hashlib.sha256()
        c.update(p_bytes if i & 1 else a)
        if i % 3:
            c.update(s_bytes)
        if i % 7:
            c.update(p_bytes)
        c.update(a if i & 1 else p_bytes)
        a = c.digest()
    alphabet = "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
    order = [(0, 10, 20), (21, 1, 11), (12, 22, 2), (3, 13, 23), (24, 4, 14), (15, 25, 5),
             (6, 16, 26), (27, 7, 17), (18, 28, 8), (9, 19, 29)]
    out = ""
    for x, y, z in order:
        w = a[x] << 16 | a[y] << 8 | a[z]
        out += "".join(alphabet[(w >> 6 * k) & 63] for k in range(4))
    w = a[31] << 8 | a[30]
    return out + "".join(alphabet[(w >> 6 * k) & 63] for k in range(3))


for line in sys.stdin:
    password, salt, rounds = line.split()
    print(sha256_crypt(bytes.fromhex(password), bytes.fromhex(salt), int(rounds)))
