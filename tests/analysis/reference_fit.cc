#include "analysis/reference_fit.h"

#include <math.h>

namespace {

typedef long double X;

float rounded(X value) { return (float)value; }

// One fitted line: `from` is its first point, `n` its size, `T` the
// threshold carried in and out.
void referenceLine(const ScanData& d, int from, int n, float& T,
                   ReferenceResults& out) {
  std::vector<float> dist(n), z(n);
  float Sd = 0, Sz = 0;
  for (int k = 0; k < n; k++) {
    const int i = from + k;
    z[k] = d.elevation[i];
    X dN = ((X)d.latitude[from] - (X)d.latitude[i]) * (X)111120.0f;
    float dLon = rounded((X)d.longitude[from] - (X)d.longitude[i]);
    float phi = rounded((X)d.latitude[i] * (X)0.017453292f);
    X dE = (cosl((X)phi) * (X)dLon) * (X)111120.0f;
    float dN2 = rounded(dN * dN);
    dist[k] = rounded(sqrtl(dE * dE + (X)dN2));
    Sd = rounded((X)Sd + (X)dist[k]);
    Sz = rounded((X)Sz + (X)z[k]);
  }

  X mean = (X)Sd / (X)n;
  float Sdd = 0, Sdz = 0;
  for (int k = 0; k < n; k++) {
    Sdd = rounded((X)Sdd + ((X)dist[k] - mean) * ((X)dist[k] - mean));
    Sdz = rounded((X)Sdz + ((X)dist[k] - mean) * (X)z[k]);
  }
  float slope1 = rounded((X)Sdz / (X)Sdd);
  X intercept1 = ((X)Sz - (X)Sd * (X)slope1) / (X)n;

  X negSum = 0;
  int negCount = 0;
  for (int k = 0; k < n; k++) {
    X r = (X)z[k] - ((X)slope1 * (X)dist[k] + intercept1);
    if (r < 0) negSum += r, negCount++;
  }
  if (negCount > 10) T = rounded(negSum / (X)negCount);

  std::vector<bool> used(n, false);
  int m = n;
  for (int k = 0; k < n; k++) {
    X r = ((X)z[k] - (X)slope1 * (X)dist[k]) - intercept1;
    used[k] = r <= (X)T;
    if (r > (X)T) {
      m--;
      Sd = rounded((X)Sd - (X)dist[k]);
      Sz = rounded((X)Sz - (X)z[k]);
    }
  }

  X mean2 = (X)Sd / (X)m;
  float Sdd2 = 0;
  X Sdz2 = 0;
  for (int k = 0; k < n; k++) {
    if (!used[k]) continue;
    Sdd2 = rounded((X)Sdd2 + ((X)dist[k] - mean2) * ((X)dist[k] - mean2));
    Sdz2 = Sdz2 + ((X)dist[k] - mean2) * (X)z[k];
  }
  X slope2 = Sdz2 / (X)Sdd2;
  X intercept2 = ((X)Sz - (X)rounded((X)Sd * slope2)) / (X)m;

  float SS = 0;
  for (int k = 0; k < n; k++) {
    if (!used[k]) continue;
    X r2 = (X)z[k] - ((X)dist[k] * slope2 + intercept2);
    SS = rounded((X)SS + r2 * r2);
  }
  const float s = rounded(slope2), b = rounded(intercept2);
  const float sigma = rounded(sqrtl((X)SS / (X)(m - 2)));
  out.lineCol0.push_back(
      rounded(((X)d.col0[from + n - 1] + (X)d.col0[from]) * (X)0.5f));
  out.lineSlope.push_back(s);
  out.lineIntercept.push_back(b);
  out.lineSigma.push_back(sigma);
  for (int k = 0; k < n; k++) {
    out.distance[from + k] = dist[k];
    out.residual[from + k] = rounded((X)z[k] - ((X)s * (X)dist[k] + (X)b));
    out.pointSigma[from + k] = sigma;
  }
}

}  // namespace

ReferenceResults referenceFit(const ScanData& d) {
  ReferenceResults out;
  out.distance.assign(d.pointCount(), 0.0f);
  out.residual.assign(d.pointCount(), 0.0f);
  out.pointSigma.assign(d.pointCount(), 0.0f);
  float T = 1.0f;
  for (size_t k = 0; k + 1 < d.lineStart.size(); k++) {
    const int n = d.lineStart[k + 1] - d.lineStart[k];
    if (n > 10) referenceLine(d, d.lineStart[k], n, T, out);
  }
  return out;
}
