#!/usr/bin/env python3
"""Writes a coefficient table of the World Magnetic Model header, in single or double precision.

Usage: tools/gen_wmm_coeffs.py [--double] [COF file, default data/WMM2020.COF] > header

The four tables of the tree are regenerated with
  tools/gen_wmm_coeffs.py data/WMM2020.COF > src/geomag_wmm2020.hpp
  tools/gen_wmm_coeffs.py --double data/WMM2020.COF > src/geomag_wmm2020_double.hpp
  tools/gen_wmm_coeffs.py data/WMM2025.COF > src/geomag_wmm2025.hpp
  tools/gen_wmm_coeffs.py --double data/WMM2025.COF > src/geomag_wmm2025_double.hpp

The coefficient file holds the epoch on its first line, then one line per degree n and
order m: n, m, g, h, gdot, hdot (nanotesla and nanotesla per year, Schmidt semi-normalised),
and ends with a line of nines. Each value is multiplied in double precision by the factor
that turns it into a coefficient of the unnormalised associated Legendre functions,
1 for m = 0 and sqrt(2 (n - m)! / (n + m)!) for m >= 1. The single-precision table rounds
that product to float and writes the shortest literal that reads back as the same float; the
double-precision table writes the product itself as the shortest literal that reads back as
the same double. The four arrays are written in the header's storage order: index
m (2 NMAX - m + 1) / 2 + n, the orders one after the other, each by increasing degree.
Entry 0 (n = m = 0) and the sine entries of order 0 hold 0. The model's name comes from the
second word of the epoch line (WMM-2025 -> WMM2025) and names the constant and the guard:
WMM2025 of type ConstModel for single precision, WMM2025Double of type
BasicConstModel<double> for double precision.
"""

import decimal
import fractions
import math
import re
import struct
import sys

NMAX = 12
NUMCOF = (NMAX + 1) * (NMAX + 2) // 2
ARRAYS = ("Main_Field_Coeff_C", "Main_Field_Coeff_S", "Secular_Var_Coeff_C",
          "Secular_Var_Coeff_S")


def storage_index(n, m):
    return m * (2 * NMAX - m + 1) // 2 + n


def to_float(value):
    """Rounds a double to the nearest single-precision value (ties to even)."""
    return struct.unpack("<f", struct.pack("<f", value))[0]


def normalisation(n, m):
    """Schmidt semi-normalised to unnormalised, computed in double."""
    if m == 0:
        return 1.0
    return math.sqrt(2.0 * math.factorial(n - m) / math.factorial(n + m))


def float_neighbours(value):
    """The single-precision values just below and just above a finite nonzero float."""
    bits = struct.unpack("<I", struct.pack("<f", value))[0]
    one = struct.unpack("<f", struct.pack("<I", bits - 1))[0]
    other = struct.unpack("<f", struct.pack("<I", bits + 1))[0]
    return (one, other) if one < other else (other, one)


def decimal_to_float(text):
    """Correctly rounded decimal -> single precision, as a C++ compiler reads 'text'f.

    Going through double can round twice; the true nearest float is the double-rounded
    candidate or one of its neighbours, so pick the closest of the three exactly."""
    exact = fractions.Fraction(decimal.Decimal(text))
    candidate = to_float(float(exact))
    best = None
    for choice in (candidate,) + float_neighbours(candidate):
        distance = abs(fractions.Fraction(choice) - exact)
        even = struct.unpack("<I", struct.pack("<f", choice))[0] % 2 == 0
        key = (distance, not even)
        if best is None or key < best[0]:
            best = (key, choice)
    return best[1]


def float_literal(value):
    """Shortest decimal literal that reads back as the same single-precision value."""
    if value == 0.0:
        return "0.0f"
    for digits in range(1, 10):
        text = "%.*g" % (digits, value)
        if decimal_to_float(text) == value:
            break
    else:
        raise SystemExit("no round-trip literal for %r" % value)
    if 1e-4 <= abs(value) < 1e8:
        text = format(decimal.Decimal(text), "f")  # 2.02e+03 -> 2020
    if "e" not in text and "." not in text:
        text += ".0"
    return text + "f"


def double_literal(value):
    """Shortest decimal literal that reads back as the same double, in the style of
    float_literal (fixed notation from 1e-4 up to 1e8)."""
    if value == 0.0:
        return "0.0"
    text = repr(value)
    if 1e-4 <= abs(value) < 1e8:
        text = format(decimal.Decimal(text), "f")
    if "e" not in text and "." not in text:
        text += ".0"
    if float(text) != value:
        raise SystemExit("no round-trip literal for %r" % value)
    return text


# Per precision: literal writer, values per line, type of the constant, suffix of its name and
# of the header's file name, and the phrase on rounding in the header's comment.
PRECISIONS = {
    "float": (float_literal, 4, "ConstModel", "", "",
              "rounded to single precision"),
    "double": (double_literal, 3, "BasicConstModel<double>", "Double", "_double",
               "computed in double precision"),
}


def read_cof(path):
    with open(path, encoding="ascii") as handle:
        lines = handle.read().splitlines()
    header = lines[0].split()
    epoch = float(header[0])
    name = header[1].replace("-", "") if len(header) > 1 else ""
    if not re.fullmatch(r"WMM\d{4}", name):
        raise SystemExit("%s: epoch line names no model of the form WMM-YYYY: %s" % (path, lines[0]))
    rows = {}
    for line in lines[1:]:
        fields = line.split()
        if not fields or fields[0].startswith("9999"):
            break
        n, m = int(fields[0]), int(fields[1])
        if not (1 <= n <= NMAX and 0 <= m <= n) or (n, m) in rows:
            raise SystemExit("%s: bad or repeated row: %s" % (path, line))
        rows[(n, m)] = [float(x) for x in fields[2:6]]
    missing = [(n, m) for n in range(1, NMAX + 1) for m in range(n + 1) if (n, m) not in rows]
    if missing:
        raise SystemExit("%s: missing rows %s" % (path, missing))
    return name, epoch, rows


def build_tables(rows, precision):
    round_to = to_float if precision == "float" else float
    tables = [[0.0] * NUMCOF for _ in ARRAYS]
    for (n, m), published in rows.items():
        factor = normalisation(n, m)
        for table, value in zip(tables, published):
            table[storage_index(n, m)] = round_to(value * factor)
    return tables


def emit(path, name, epoch, tables, precision):
    literal, per_line, type_name, suffix, file_suffix, rounding = PRECISIONS[precision]
    flag = " --double" if precision == "double" else ""
    guard = "GEOMAG_%s%s_HPP" % (name, file_suffix.upper())
    out = []
    out.append("// Generated by tools/gen_wmm_coeffs.py%s from %s; do not edit." % (flag, path))
    out.append("// World Magnetic Model %s coefficients in nanotesla (secular variation in" % name[3:])
    out.append("// nanotesla per year), scaled for unnormalised associated Legendre functions and")
    out.append("// %s. Included by geomag.hpp after %s." % (rounding, type_name.split("<")[0]))
    out.append("#ifndef %s" % guard)
    out.append("#define %s" % guard)
    out.append("")
    out.append("namespace geomag {")
    out.append("")
    out.append("// clang-format off")
    out.append("inline constexpr %s %s%s = {" % (type_name, name, suffix))
    epoch_value = to_float(epoch) if precision == "float" else epoch
    out.append("    %s,  // epoch, decimal year" % literal(epoch_value))
    for name, table in zip(ARRAYS, tables):
        out.append("    // %s" % name)
        out.append("    {")
        for m in range(NMAX + 1):
            first = m if m > 0 else 0
            out.append("        // m = %d, n = %d..%d" % (m, first, NMAX))
            values = [table[storage_index(n, m)] for n in range(first, NMAX + 1)]
            for start in range(0, len(values), per_line):
                chunk = values[start:start + per_line]
                out.append("        " + " ".join(literal(v) + "," for v in chunk))
        out.append("    },")
    out.append("};")
    out.append("// clang-format on")
    out.append("")
    out.append("}  // namespace geomag")
    out.append("")
    out.append("#endif")
    return "\n".join(out) + "\n"


def main():
    args = sys.argv[1:]
    precision = "float"
    if args and args[0] == "--double":
        precision = "double"
        args = args[1:]
    if len(args) > 1 or (args and args[0].startswith("-")):
        raise SystemExit(__doc__.split("\n\n")[1])
    path = args[0] if args else "data/WMM2020.COF"
    name, epoch, rows = read_cof(path)
    sys.stdout.write(emit(path, name, epoch, build_tables(rows, precision), precision))


if __name__ == "__main__":
    main()
