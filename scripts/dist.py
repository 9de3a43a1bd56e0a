#!/usr/bin/env python3
"""Writes the release packages.

    dist.py LINUX_BIN WINDOWS_BIN OUT_DIR

OUT_DIR/quoribo-VERSION-windows-x64.zip: pbrain-quoribo.exe, network.bin and
README.txt at the top, the layout tournament managers expect of a brain.
OUT_DIR/quoribo-VERSION-linux-x64.tar.gz: pbrain-quoribo, network.bin,
quoribo-bench and quoribo-eval in a folder quoribo-VERSION-linux-x64.
VERSION comes from the file VERSION at the top of the repository, as does the
version in the brain's ABOUT answer.
"""

import os
import sys
import tarfile
import zipfile

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    linux_bin, windows_bin, out = sys.argv[1:]
    with open(os.path.join(REPO, "VERSION")) as f:
        version = f.read().strip()
    with open(os.path.join(REPO, "scripts", "dist", "README-windows.txt")) as f:
        readme = f.read().replace("@VERSION@", version).replace("\n", "\r\n")
    os.makedirs(out, exist_ok=True)

    zip_path = os.path.join(out, "quoribo-%s-windows-x64.zip" % version)
    with zipfile.ZipFile(zip_path + ".part", "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
        for name in ("pbrain-quoribo.exe", "network.bin"):
            z.write(os.path.join(windows_bin, name), name)
        z.writestr("README.txt", readme)
    os.replace(zip_path + ".part", zip_path)

    top = "quoribo-%s-linux-x64" % version
    tar_path = os.path.join(out, top + ".tar.gz")
    with tarfile.open(tar_path + ".part", "w:gz") as t:
        for name in ("pbrain-quoribo", "network.bin", "quoribo-bench", "quoribo-eval"):
            t.add(os.path.join(linux_bin, name), top + "/" + name)
    os.replace(tar_path + ".part", tar_path)

    for path in (zip_path, tar_path):
        print("%s (%d bytes)" % (path, os.path.getsize(path)))


if __name__ == "__main__":
    main()
