// Gauss-Jordan elimination with full pivoting: solves mat * x = rhs for one
// or more right-hand sides and replaces mat by its inverse, both in place.
//
// Matrices are stored column by column: element (r,c) of mat is
// mat[(r-1) + (c-1)*ndim], element (r,c) of rhs is rhs[(r-1) + (c-1)*ndim].
// Only the leading nord x nord block of mat and the leading nord x nrhs
// block of rhs are read and written; everything else is left untouched.
//
//   double m[4] = {2, 1, 1, 3};   // ((2,1),(1,3))
//   double b[2] = {3, 5};
//   gaussj(m, 2, 2, b, 1, 1);     // b ~ (0.8, 1.4), m ~ ((0.6,-0.2),(-0.2,0.4))
//
// Pivot choice: the remaining block is scanned row by row, each row column by
// column, and an element whose magnitude is >= the largest so far becomes the
// pivot, so among equal magnitudes the last one scanned wins (for the
// identity the first pivot is (nord,nord)).
//
// A pivot that is exactly zero (the whole remaining block is zero) is shown
// as "singular matrix in gaussj" through the pause; after the operator's line
// the division by that zero pivot is carried out, and the run's
// divide-by-zero trap ends it. Nearly singular matrices are not detected.
//
// nord is limited to 50 (the capacity of the pivot lists); a larger order is
// a fatal run-time error.
#pragma once

namespace tarvel {

inline constexpr int kGaussjCapacity = 50;

void gaussj(double* mat, int nord, int ndim, double* rhs, int nrhs, int nrhsdim);

}  // namespace tarvel
