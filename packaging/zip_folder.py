#!/usr/bin/env python3
"""Zips a folder reproducibly: the same files always give the same bytes.

    zip_folder.py FOLDER OUTPUT.zip EPOCH

Entries are the folder's files (no folder entries) in sorted order of their paths,
each stamped with EPOCH (seconds, taken as UTC), marked as made on Unix with mode 644
(755 for .exe, .cmd and .sh files; Windows ignores it), and deflated at level 9.
"""
import os
import sys
import time
import zipfile


def main():
    if len(sys.argv) != 4:
        sys.exit('usage: zip_folder.py FOLDER OUTPUT.zip EPOCH')
    folder, output, epoch = sys.argv[1], sys.argv[2], int(sys.argv[3])
    stamp = time.gmtime(max(epoch, 315532800))[:6]  # zip dates start in 1980
    paths = []
    for root, _, files in os.walk(folder):
        paths += [os.path.relpath(os.path.join(root, name), folder).replace(os.sep, '/') for name in files]
    with zipfile.ZipFile(output + '.tmp', 'w') as archive:
        for path in sorted(paths):
            entry = zipfile.ZipInfo(path, stamp)
            entry.create_system = 3
            mode = 0o755 if path.endswith(('.exe', '.cmd', '.sh')) else 0o644
            entry.external_attr = (0o100000 | mode) << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            with open(os.path.join(folder, path), 'rb') as source:
                archive.writestr(entry, source.read(), compresslevel=9)
    os.replace(output + '.tmp', output)


if __name__ == '__main__':
    main()
