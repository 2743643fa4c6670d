/* The reference a C programmer with GSL writes for the Monte Carlo refit: n
   points perturbed in both coordinates (and all efficiencies together by a
   common relative deviate), the design matrix of powers filled, and a
   weighted linear least-squares fit by gsl_multifit_wlinear, `trials` times.
   Returns the sum of the fitted constant terms, so that nothing is left out. */
#include <gsl/gsl_multifit.h>
#include <gsl/gsl_randist.h>
#include <gsl/gsl_rng.h>

double gsl_refits(const double* q, const double* uq, const double* e, const double* ue, int n, double urel,
                  int order, int trials) {
  const int m = order + 1;
  gsl_rng* rng = gsl_rng_alloc(gsl_rng_mt19937);
  gsl_matrix* x = gsl_matrix_alloc(n, m);
  gsl_vector* y = gsl_vector_alloc(n);
  gsl_vector* w = gsl_vector_alloc(n);
  gsl_vector* c = gsl_vector_alloc(m);
  gsl_matrix* cov = gsl_matrix_alloc(m, m);
  gsl_multifit_linear_workspace* work = gsl_multifit_linear_alloc(n, m);
  double sum = 0.0, chisq;
  for (int k = 0; k < trials; ++k) {
    const double rdev = gsl_ran_gaussian(rng, 1.0) * urel;
    for (int i = 0; i < n; ++i) {
      const double qi = q[i] + uq[i] * gsl_ran_gaussian(rng, 1.0);
      double p = 1.0;
      for (int j = 0; j < m; ++j, p *= qi) gsl_matrix_set(x, i, j, p);
      gsl_vector_set(y, i, e[i] * (1.0 + rdev) + ue[i] * gsl_ran_gaussian(rng, 1.0));
      gsl_vector_set(w, i, 1.0 / (ue[i] * ue[i]));
    }
    gsl_multifit_wlinear(x, w, y, c, cov, &chisq, work);
    sum += gsl_vector_get(c, 0);
  }
  gsl_multifit_linear_free(work);
  gsl_matrix_free(cov);
  gsl_vector_free(c);
  gsl_vector_free(w);
  gsl_vector_free(y);
  gsl_matrix_free(x);
  gsl_rng_free(rng);
  return sum;
}
