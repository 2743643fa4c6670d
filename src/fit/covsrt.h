// Spreads a matrix that holds only the fitted parameters, packed in its
// leading nfit x nfit block, out to the full parameter order 1..npar.
//
// Afterwards element (j,l) belongs to parameters j and l, and every row and
// column of a parameter whose flag ifit is zero is zero. The matrix is
// column-major with leading dimension ndim; nothing beyond npar x npar is
// touched.
//
//   ifit = (1,0,1), packed ((p11,p12),(p21,p22))
//   -> ((p11,0,p12),(0,0,0),(p21,0,p22))
#pragma once

namespace tarvel {

void covsrt(double* covar, int ndim, int npar, const int* ifit, int nfit);

}  // namespace tarvel
