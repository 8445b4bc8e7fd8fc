#include "treatment/change_test.h"

#include <cmath>

#include "globals/globals.h"
#include "text/number_text.h"

double normal_quantile(double p)
{
    if (!(p > 0.0))
        return p == 0.0 ? -INFINITY : NAN;
    if (!(p < 1.0))
        return p == 1.0 ? INFINITY : NAN;
    // A rational first guess good to about 1e-9 (Acklam's), then one step of Halley's
    // method on the normal distribution itself, through erfc, to the doubles' precision.
    static const double a[] = {-3.969683028665376e+01, 2.209460984245205e+02, -2.759285104469687e+02,
                               1.383577518672690e+02, -3.066479806614716e+01, 2.506628277459239e+00};
    static const double b[] = {-5.447609879822406e+01, 1.615858368580409e+02, -1.556989798598866e+02,
                               6.680131188771972e+01, -1.328068155288572e+01};
    static const double c[] = {-7.784894002430293e-03, -3.223964580411365e-01, -2.400758277161838e+00,
                               -2.549732539343734e+00, 4.374664141464968e+00, 2.938163982698783e+00};
    static const double d[] = {7.784695709041462e-03, 3.224671290700398e-01, 2.445134137142996e+00,
                               3.754408661907416e+00};
    const double low = 0.02425;
    double x;
    if (p < low || p > 1.0 - low) {
        const double q = std::sqrt(-2.0 * std::log(p < low ? p : 1.0 - p));
        x = (((((c[0] * q + c[1]) * q + c[2]) * q + c[3]) * q + c[4]) * q + c[5]) /
            ((((d[0] * q + d[1]) * q + d[2]) * q + d[3]) * q + 1.0);
        if (p > low)
            x = -x;
    } else {
        const double q = p - 0.5;
        const double r = q * q;
        x = (((((a[0] * r + a[1]) * r + a[2]) * r + a[3]) * r + a[4]) * r + a[5]) * q /
            (((((b[0] * r + b[1]) * r + b[2]) * r + b[3]) * r + b[4]) * r + 1.0);
    }
    // The share below x less p, from the side of the tail, where its precision lies.
    // 1 - p is exact for p of 0.5 and more.
    const double root_two = std::sqrt(2.0);
    const double e = x < 0.0 ? 0.5 * std::erfc(-x / root_two) - p : (1.0 - p) - 0.5 * std::erfc(x / root_two);
    const double root_two_pi = 2.5066282746310002;
    const double u = e * root_two_pi * std::exp(x * x / 2.0);
    return x - u / (1.0 + x * u / 2.0);
}

double confidence_factor(double confidence_pct)
{
    return normal_quantile((1.0 + confidence_pct / 100.0) / 2.0);
}

change_test run_change_test()
{
    change_test test;
    test.basis = basis;
    test.hypso = hypso;
    if (basis == TEST_CONFIDENCE) {
        test.confidence_pct = confidence_pct;
        test.t = confidence_factor(confidence_pct);
        test.sigma_first = sigma_dem1;
        test.sigma_second = sigma_dem2;
        test.grid_first = nomsigma1;
        test.grid_second = nomsigma2;
    }
    return test;
}

bool errors_by_cell(const change_test &test)
{
    return test.basis == TEST_CONFIDENCE && (!test.grid_first.empty() || !test.grid_second.empty());
}

double uniform_change_sigma(const change_test &test)
{
    return std::hypot(test.sigma_first, test.sigma_second);
}

double uniform_detection_limit(const change_test &test)
{
    if (test.basis == TEST_LIMIT)
        return test.hypso > 0.0 ? test.hypso : 0.0;
    if (test.basis == TEST_CONFIDENCE && !errors_by_cell(test))
        return test.t * uniform_change_sigma(test);
    return 0.0;
}

std::string confidence_test_text(const change_test &test)
{
    if (test.basis != TEST_CONFIDENCE)
        return "";
    const auto error_of = [](double sigma, const std::string &grid) {
        return grid.empty() ? text_printf("%lf m", sigma) : text_printf("%s (mean %lf m)", grid.c_str(), sigma);
    };
    std::string text = text_printf("%.10g %% confidence, t %lf, first DEM's error %s, second DEM's error %s",
                                   test.confidence_pct, test.t,
                                   error_of(test.sigma_first, test.grid_first).c_str(),
                                   error_of(test.sigma_second, test.grid_second).c_str());
    if (!errors_by_cell(test))
        text += text_printf(": |change| >= %lf m", uniform_detection_limit(test));
    return text;
}
