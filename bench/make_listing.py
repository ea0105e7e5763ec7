#!/usr/bin/env python3
"""Writes a listing file of N records in the default layout of a listing
file (name width 54), without walking any files: a start banner, the column
titles, the records in a scrambled order, and a run summary.

    make_listing.py FILE N
"""
import sys


def main():
    path, count = sys.argv[1], int(sys.argv[2])
    header = "%-54.54s  %20s  ATTR   %-10s %5s  TZ %11.11s %12.12s \n" % (
        "  PATH", "  SIZE", "   MDATE", " MTIME", "  SERIAL #", " DISK LABEL ")
    fmt = ("%-54.54s  %20d A..... %02d/%02d/%04d %02d:%02dw UTC   1234-ABCD     EVIDENCE \n")
    with open(path, "w", newline="\n") as out:
        out.write("\nStarted Mon Jan 01 00:00:00 2024 GMT, 00:00 UTC (UTC/:0)\n"
                  "COMMAND LINE:  filarix64 /evidence -o list.txt \n\n")
        out.write(header)
        block = 200000
        for start in range(0, count, block):
            lines = []
            for i in range(start, min(start + block, count)):
                x = (i * 2654435761) & 0xFFFFFFFF
                lines.append(fmt % (
                    "/evidence/case%03d/dir%02d/File%010d.bin" % (x % 997, x % 89, x),
                    x % 1000000007, x % 12 + 1, x % 28 + 1, 2000 + x % 25, x % 24, x % 60))
            out.write("".join(lines))
        out.write("\n  %d directories, %d files, 1,000 bytes: \n"
                  "  Elapsed:  0 hrs. 0 mins. 1 secs.\n\n\n" % (997 * 89, count))


if __name__ == "__main__":
    main()
