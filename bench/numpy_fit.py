#!/usr/bin/env python3
"""The usual ellipsoid fit in numpy, the yardstick of bench/compare_numpy.sh.

Usage: bench/numpy_fit.py FILE   (a CSV of x,y,z samples after one header line)

Fits a x^2 + b y^2 + c z^2 + 2d xy + 2e xz + 2f yz + 2g x + 2h y + 2i z = 1 by least squares and
prints the centre and the matrix that maps the samples onto a sphere, as JSON.
"""

import json
import sys

import numpy as np

d = np.loadtxt(sys.argv[1], delimiter=",", skiprows=1)
x, y, z = d[:, 0], d[:, 1], d[:, 2]
design = np.column_stack([x * x, y * y, z * z, 2 * x * y, 2 * x * z, 2 * y * z, 2 * x, 2 * y, 2 * z])
v = np.linalg.lstsq(design, np.ones_like(x), rcond=None)[0]
shape = np.array([[v[0], v[3], v[4]], [v[3], v[1], v[5]], [v[4], v[5], v[2]]])
centre = -np.linalg.solve(shape, v[6:9])
scale = 1.0 + centre @ shape @ centre
values, vectors = np.linalg.eigh(shape / scale)
matrix = vectors @ np.diag(np.sqrt(values)) @ vectors.T / np.cbrt(np.prod(np.sqrt(values)))
print(json.dumps({"offset": centre.tolist(), "matrix": matrix.tolist(),
                  "radius": float(1.0 / np.cbrt(np.prod(np.sqrt(values))))}))
