// Least-squares solution of a linear system with a single right-hand side.
#ifndef MLDIVIDE_H
#define MLDIVIDE_H

#include "coder_array.h"

namespace coder {

// Solves A*x = B, returning x in B (length A.size(1)). A tall or wide A goes through QR with
// column pivoting: the unknowns beyond the numerical rank are exactly 0 (the basic solution, not
// the minimum-norm one). A square A goes through LU with partial pivoting, without a singularity
// test: a zero pivot yields infinities or NaNs where the right-hand side is not 0. An empty A or
// B gives zeros. B is expected to hold A.size(0) entries. For a tall or wide A a shorter B is read
// as if padded with zeros; for a square A only the leading block of the size of B is solved and B
// keeps its length. Up to 4 columns use fixed scratch storage, wider matrices heap scratch.
void mldivide(const coder::array<double, 2>& A, coder::array<double, 1>& B);

// The same, factoring A itself instead of a copy: A is overwritten (by its LU or QR factors).
void mldivideInPlace(coder::array<double, 2>& A, coder::array<double, 1>& B);

}  // namespace coder

#endif
