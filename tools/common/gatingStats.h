#pragma once

// Match arithmetic for gating a candidate network against the current best:
// the score, its Elo with a 95% interval, and a sequential probability ratio
// test (SPRT) that stops as soon as the games decide between "no better"
// and "better by a set margin".

namespace tools {

struct MatchScore {
    int wins   = 0; // the candidate's
    int draws  = 0;
    int losses = 0;
    int games() const { return wins + draws + losses; }
};

// Points per game, a draw counting half; 0.5 for no games.
double scoreOf(const MatchScore& m);

// Elo difference for a score, logistic model; a score of 0 or 1 is taken as
// half a game away from it, so the result stays finite.
double eloOfScore(double score, int games);

struct EloInterval {
    double elo  = 0;
    double low  = 0; // 95%, Wilson score interval on the points
    double high = 0;
};
EloInterval eloInterval(const MatchScore& m);

// SPRT of H0: Elo = elo0 against H1: Elo = elo1 on the points scored, a draw
// counting as half a win and half a loss (binomial model).
struct Sprt {
    double elo0  = 0;
    double elo1  = 35;
    double alpha = 0.05; // false promotion rate when the candidate is no better
    double beta  = 0.05; // missed promotion rate when it is elo1 better
};

enum class SprtDecision { Continue, AcceptH1, AcceptH0 };

double       sprtLogLikelihoodRatio(const MatchScore& m, const Sprt& test);
SprtDecision sprtDecision(const MatchScore& m, const Sprt& test);

} // namespace tools
