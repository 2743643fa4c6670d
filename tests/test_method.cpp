// The Monte Carlo method against what it should give, not against the
// program: the spread of the 10000 trials' coefficients when only the
// efficiencies are perturbed, when a common relative uncertainty is added,
// and when the indices are perturbed too (the effective variance of a line).
//
// Bounds: the trials are 10000 independent normal draws (the model is linear
// in its coefficients, so a trial's coefficients are a linear function of its
// deviates, and normal). A sample covariance s(j,m) over n = 10000 draws of a
// normal vector with covariance C has the variance
// (C(j,m)² + C(j,j) C(m,m)) / (n - 1); a sample standard deviation has the
// relative standard error 1 / sqrt(2 (n - 1)) ≈ 0.71 %. Every element is
// compared within 5 such standard errors: the diagonal as standard
// deviations, the rest as covariances.
#include "support.h"
#include "tarvel/tarvel.h"

namespace {

using namespace tarvel;
constexpr double kDraws = kTrials - 1.0;
constexpr double kBound = 5.0;

// Ten made-up points on e = 0.93 + c1 q + c2 q² with a scatter, and
// efficiency uncertainties from 0.0021 to 0.0048; each index uncertainty is
// uqPerUe times its point's efficiency uncertainty.
Inputs madeUp(int order, double c1, double c2, double uqPerUe, double urel) {
  Inputs in;
  in.order = order;
  in.urel = urel;
  for (int i = 0; i < 10; ++i) {
    const double q = 17.0 + 13.4 * i, ue = 0.0021 + 0.0009 * (i % 4);
    in.points.push_back({q, uqPerUe * ue, 0.93 + c1 * q + c2 * q * q + 0.0017 * ((7 * i) % 5 - 2), ue});
  }
  return in;
}

// The covariance the trials should have, n x n, row by row.
using Expected = std::vector<std::vector<double>>;

// Only the efficiencies perturbed, by ue and by a common factor 1 + urel g
// per trial: a trial's efficiencies are e (1 + urel g) + ue g', and the
// weighted fit, linear in the efficiencies, turns them into
// a (1 + urel g) + (the fit of ue g'). The trials' covariance is the weighted
// fit's plus urel² a aᵀ, with a the weighted fit's coefficients (computed
// here in long double, apart from the library).
Expected efficienciesOnly(const Inputs& in) {
  std::vector<double> q, e, ue;
  for (const Point& p : in.points) q.push_back(p.q), e.push_back(p.e), ue.push_back(p.ue);
  const int n = in.order + 1;
  const ts::Reference ref = ts::referenceFit(q, e, ue, std::vector<double>(n, 1.0), std::vector<int>(n, 1));
  Expected c(n, std::vector<double>(n));
  for (int j = 0; j < n; ++j)
    for (int m = 0; m < n; ++m)
      c[j][m] = static_cast<double>(ref.cov[j][m] + ref.a[j] * ref.a[m] * in.urel * in.urel);
  return c;
}

// A straight line whose index uncertainties are uqPerUe times the efficiency
// uncertainties. To first order an index off by uq g moves the point's
// efficiency off the line by b uq g (b the slope): each point has the
// effective variance ue² + b² uq². The trials keep the weights 1 / ue², which
// are here proportional to the effective weights, so they give the
// effective-variance fit, whose covariance the closed-form weighted
// least-squares formulas of a line give: with S = Σw, Sx = Σwq, Sxx = Σwq²
// and D = S Sxx - Sx², var(a1) = Sxx/D, var(a2) = S/D, cov(a1,a2) = -Sx/D.
Expected effectiveVariance(const Inputs& in) {
  double b = 0.0, s = 0.0, sx = 0.0, sxx = 0.0;
  for (int pass = 0; pass < 2; ++pass) {  // the slope with the weights 1 / ue², then the effective weights
    double sy = 0.0, sxy = 0.0;
    s = sx = sxx = 0.0;
    for (const Point& p : in.points) {
      const double w = 1.0 / (p.ue * p.ue + b * b * p.uq * p.uq);
      s += w, sx += w * p.q, sxx += w * p.q * p.q, sy += w * p.e, sxy += w * p.q * p.e;
    }
    if (pass == 0) b = (s * sxy - sx * sy) / (s * sxx - sx * sx);
  }
  const double d = s * sxx - sx * sx;
  return {{sxx / d, -sx / d}, {-sx / d, s / d}};
}

TEST(Method, TrialsCovarianceAgainstItsExpectation) {
  const struct {
    const char* what;
    Inputs in;
    Expected (*expected)(const Inputs&);
  } rows[] = {
      {"efficiencies only: the weighted fit's covariance", madeUp(2, -0.0017, -4.1e-6, 0.0, 0.0), efficienciesOnly},
      {"a common relative uncertainty adds urel² a aᵀ", madeUp(2, -0.0017, -4.1e-6, 0.0, 0.012), efficienciesOnly},
      {"a line with index uncertainties: the effective variance", madeUp(1, -0.0031, 0.0, 290.0, 0.0),
       effectiveVariance},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    const Calibration cal = calibrate(r.in);
    const Expected c = r.expected(r.in);
    const Matrix& got = cal.monteCarloFit.monteCarloCovariance;
    ASSERT_EQ(got.n, static_cast<int>(c.size()));
    for (int j = 0; j < got.n; ++j)
      for (int m = j; m < got.n; ++m) {
        double value = got(j + 1, m + 1), want = c[j][m];
        double se = std::sqrt((want * want + c[j][j] * c[m][m]) / kDraws);
        if (j == m) value = std::sqrt(value), want = std::sqrt(want), se = want / std::sqrt(2.0 * kDraws);
        const double dev = (value - want) / se;
        EXPECT_LE(std::fabs(dev), kBound) << (j == m ? "standard deviation " : "covariance ") << j + 1 << ","
                                          << m + 1 << ": " << std::setprecision(17) << value << " against " << want
                                          << ", " << std::setprecision(3) << dev << " standard errors";
      }
  }
}

}  // namespace
