#!/usr/bin/env python3
"""Merges the CSV files of a sweep that was split over several runs.

    python3 merge_csv.py part1.csv part2.csv ... > sweep.csv

Every part must have been written by prendax_arena --csv for the same programs,
levels and --ticks, each for its own seeds. The rows are put back in the order
one single run writes them (program in command-line order, then level, then
seed) and copied byte for byte, so the merged file is the file one run over
all the seeds would have written, whatever the split and the order of the
parts. A (program, level, seed) found twice, or parts with different headers
or programs, stop the merge with exit status 1.
"""
import csv
import sys


def records(data, name):
    """Yields (line, raw bytes, fields) per record; line breaks inside quotes stay in the record."""
    start = 0
    line = 1
    record_line = 1
    quoted = False
    for i, byte in enumerate(data):
        if byte == 0x22:  # a double quote
            quoted = not quoted
        elif byte == 0x0A:
            line += 1
            if not quoted:
                raw = data[start:i + 1]
                yield record_line, raw, parse(raw, name, record_line)
                start = i + 1
                record_line = line
    if quoted:
        sys.exit(f"{name}, línea {record_line}: comillas sin cerrar")
    if start < len(data):
        raw = data[start:] + b"\n"
        yield record_line, raw, parse(raw, name, record_line)


def parse(raw, name, line):
    rows = list(csv.reader([raw.decode("utf-8")], strict=True))
    if len(rows) != 1:
        sys.exit(f"{name}, línea {line}: registro no válido")
    return rows[0]


def main(paths):
    if not paths:
        sys.exit("Uso: merge_csv.py parte1.csv [parte2.csv ...] > todo.csv")
    header = None
    programs = None  # in the order every part lists them
    rows = {}
    for path in paths:
        with open(path, "rb") as f:
            data = f.read()
        order = []
        for line, raw, fields in records(data, path):
            if line == 1:
                if header is None:
                    header = raw
                elif raw != header:
                    sys.exit(f"{path}: la cabecera no coincide con la de {paths[0]}")
                continue
            if len(fields) < 3:
                sys.exit(f"{path}, línea {line}: faltan columnas")
            program, level, seed = fields[0], int(fields[1]), int(fields[2])
            if program not in order:
                order.append(program)
            key = (program, level, seed)
            if key in rows:
                sys.exit(f"{path}, línea {line}: partida repetida ({program}, nivel {level}, semilla {seed})")
            rows[key] = raw
        if not order:
            continue  # a part with no rows says nothing about the programs
        if programs is None:
            programs = order
        elif order != programs:
            sys.exit(f"{path}: los programas no son los de las otras partes")
    if header is None:
        sys.exit("Ningún archivo tiene cabecera")
    rank = {p: i for i, p in enumerate(programs or [])}
    out = sys.stdout.buffer
    out.write(header)
    for key in sorted(rows, key=lambda k: (rank[k[0]], k[1], k[2])):
        out.write(rows[key])


if __name__ == "__main__":
    main(sys.argv[1:])
