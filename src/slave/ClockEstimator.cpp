// SPDX-License-Identifier: MIT
#include "slave/ClockEstimator.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace tamo::detail {

namespace {

// Residuals beyond this many robust standard deviations (1.4826 median absolute deviations) are
// outliers, and never below kMinRejectUs: a clean loopback would otherwise reject its own jitter.
constexpr double kRejectSigmas = 3.0;
constexpr double kMadToSigma = 1.4826;
constexpr double kMinRejectUs = 10.0;
constexpr int kRejectPasses = 2;
constexpr double kUsPerSecond = 1e6;

struct Point
{
    double ageS;  // seconds before the newest sample (negative)
    double offsetUs;
};

struct Line
{
    double offsetUs;  // at the newest sample
    double slope;     // microseconds per second: ppm
    double offsetAt(double ageS) const { return offsetUs + slope * ageS; }
};

double median(std::vector<double> values)
{
    const auto middle = values.begin() + std::ptrdiff_t(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    if (values.size() % 2 == 1)
        return *middle;
    return (*middle + *std::max_element(values.begin(), middle)) / 2;
}

// A line that a fifth or more of samples far off cannot pull: the median of the slopes between pairs of
// up to kRobustPoints samples spread over the window, and the median intercept under that slope. The
// least-squares fit that follows starts from its residuals.
constexpr std::size_t kRobustPoints = 48;

Line robustLine(const std::vector<Point>& points)
{
    std::vector<const Point*> chosen;
    const std::size_t step = std::max<std::size_t>(1, points.size() / kRobustPoints);
    for (std::size_t i = 0; i < points.size(); i += step)
        chosen.push_back(&points[i]);
    std::vector<double> slopes;
    for (std::size_t i = 0; i < chosen.size(); ++i) {
        for (std::size_t j = i + 1; j < chosen.size(); ++j) {
            const double dt = chosen[j]->ageS - chosen[i]->ageS;
            if (dt != 0)
                slopes.push_back((chosen[j]->offsetUs - chosen[i]->offsetUs) / dt);
        }
    }
    const double slope = slopes.empty() ? 0.0 : median(std::move(slopes));
    std::vector<double> intercepts;
    for (const Point& p : points)
        intercepts.push_back(p.offsetUs - slope * p.ageS);
    return Line{median(std::move(intercepts)), slope};
}

Line fit(const std::vector<Point>& points, const std::vector<bool>& kept)
{
    double n = 0, sumT = 0, sumY = 0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (!kept[i])
            continue;
        n += 1;
        sumT += points[i].ageS;
        sumY += points[i].offsetUs;
    }
    const double meanT = sumT / n;
    const double meanY = sumY / n;
    double stt = 0, sty = 0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (!kept[i])
            continue;
        const double dt = points[i].ageS - meanT;
        stt += dt * dt;
        sty += dt * (points[i].offsetUs - meanY);
    }
    const double slope = stt > 0 ? sty / stt : 0.0;
    return Line{meanY - slope * meanT, slope};
}

} // namespace

OffsetJumpGate::Verdict ClockEstimator::add(qint64 sentUs, qint64 receivedUs, qint64 offsetUs)
{
    // Unsigned, so that a departure from the wire cannot overflow the difference.
    const std::uint64_t roundTripUs = std::uint64_t(receivedUs) - std::uint64_t(sentUs);
    const qint64 hostUs =
        roundTripUs <= std::uint64_t(kMaxRoundTripUs) ? sentUs + qint64(roundTripUs / 2) : receivedUs;
    const ClockSample sample{hostUs, double(offsetUs)};
    const OffsetJumpGate::Verdict verdict = m_jumpGate.judge(sample, m_estimate);
    switch (verdict) {
    case OffsetJumpGate::Verdict::HeldBack:
        return verdict;
    case OffsetJumpGate::Verdict::Jump:
        m_samples.assign(m_jumpGate.heldBack().begin(), m_jumpGate.heldBack().end());
        m_jumpGate.clear();
        break;
    case OffsetJumpGate::Verdict::Taken:
        m_samples.push_back(sample);
        while (m_samples.size() > kMaxSamples || hostUs - m_samples.front().hostUs > kWindowUs)
            m_samples.pop_front();
        break;
    }
    refit();
    return verdict;
}

void ClockEstimator::reset()
{
    m_samples.clear();
    m_jumpGate.clear();
    m_estimate = NetControlNS::struClockEstimate{};
}

void ClockEstimator::refit()
{
    NetControlNS::struClockEstimate estimate;
    const qint64 newestUs = m_samples.back().hostUs;
    estimate.valid = true;
    estimate.atHostUs = newestUs;
    estimate.spanUs = newestUs - m_samples.front().hostUs;

    std::vector<Point> points;
    points.reserve(m_samples.size());
    for (const ClockSample& s : m_samples)
        points.push_back(Point{double(s.hostUs - newestUs) / kUsPerSecond, s.offsetUs});
    std::vector<double> residuals(points.size());
    const auto residualsOf = [&](const Line& line) {
        for (std::size_t i = 0; i < points.size(); ++i)
            residuals[i] = points[i].offsetUs - line.offsetAt(points[i].ageS);
    };

    std::vector<bool> kept(points.size(), true);
    Line line;
    if (int(points.size()) < kMinRateSamples || estimate.spanUs < kMinRateSpanUs) {
        // Too few or too close together for a rate: the median offset, which one outlier cannot move.
        std::vector<double> offsets;
        for (const Point& p : points)
            offsets.push_back(p.offsetUs);
        line = Line{median(offsets), 0.0};
    } else {
        estimate.rateKnown = true;
        line = robustLine(points);
        for (int pass = 0; pass < kRejectPasses; ++pass) {
            residualsOf(line);
            std::vector<double> spread;
            for (double r : residuals)
                spread.push_back(std::abs(r));
            const double limit = std::max(kMinRejectUs, kRejectSigmas * kMadToSigma * median(spread));
            std::vector<bool> within(points.size());
            for (std::size_t i = 0; i < points.size(); ++i)
                within[i] = std::abs(residuals[i]) <= limit;
            if (std::count(within.begin(), within.end(), true) < kMinRateSamples)
                break;
            kept = std::move(within);
            line = fit(points, kept);
        }
    }

    residualsOf(line);
    double squares = 0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (kept[i]) {
            ++estimate.samples;
            squares += residuals[i] * residuals[i];
        }
    }
    estimate.rejected = int(points.size()) - estimate.samples;
    estimate.residualUs = std::sqrt(squares / estimate.samples);
    estimate.offsetUs = line.offsetUs;
    // No oscillator runs this far off; a rate beyond it comes from samples that are no clock's, and would
    // send every conversion (hostTimeAt divides by 1 - rate) anywhere.
    estimate.ratePpm = std::clamp(line.slope, -kMaxRatePpm, kMaxRatePpm);
    m_estimate = estimate;
}

} // namespace tamo::detail
