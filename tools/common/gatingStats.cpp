#include "tools/common/gatingStats.h"

#include <algorithm>
#include <cmath>

namespace tools {

namespace {

double winProbability(double elo) {
    return 1.0 / (1.0 + std::pow(10.0, -elo / 400.0));
}

} // namespace

double scoreOf(const MatchScore& m) {
    const int n = m.games();
    return n > 0 ? (m.wins + 0.5 * m.draws) / n : 0.5;
}

double eloOfScore(double score, int games) {
    const double edge = games > 0 ? 0.5 / games : 0.5;
    score             = std::min(std::max(score, edge), 1.0 - edge);
    return -400.0 * std::log10(1.0 / score - 1.0);
}

EloInterval eloInterval(const MatchScore& m) {
    const int    n = m.games();
    const double s = scoreOf(m);
    EloInterval  out;
    out.elo = eloOfScore(s, n);
    if (n == 0)
        return out;
    // Wilson score interval on the points, a draw counting as half a win: it
    // stays a real interval for a clean sweep, and counting draws as coin
    // flips only widens it.
    const double z      = 1.959964;
    const double spread = z * z / n;
    const double centre = (s + spread / 2) / (1 + spread);
    const double half   = z / (1 + spread) * std::sqrt(s * (1 - s) / n + spread / (4 * n));
    out.low             = eloOfScore(centre - half, n);
    out.high            = eloOfScore(centre + half, n);
    return out;
}

double sprtLogLikelihoodRatio(const MatchScore& m, const Sprt& test) {
    const double p0     = winProbability(test.elo0);
    const double p1     = winProbability(test.elo1);
    const double points = m.wins + 0.5 * m.draws;
    const double missed = m.losses + 0.5 * m.draws;
    return points * std::log(p1 / p0) + missed * std::log((1 - p1) / (1 - p0));
}

SprtDecision sprtDecision(const MatchScore& m, const Sprt& test) {
    const double llr = sprtLogLikelihoodRatio(m, test);
    if (llr >= std::log((1 - test.beta) / test.alpha))
        return SprtDecision::AcceptH1;
    if (llr <= std::log(test.beta / (1 - test.alpha)))
        return SprtDecision::AcceptH0;
    return SprtDecision::Continue;
}

} // namespace tools
