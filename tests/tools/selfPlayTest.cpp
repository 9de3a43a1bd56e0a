#include "tools/common/gatingStats.h"
#include "tools/common/searchAgent.h"
#include "tools/common/selfPlayRecords.h"

#include "toolsTestHelpers.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <unistd.h>

using toolstest::binPath;
using toolstest::runCommand;

namespace {

tools::GameRecord sampleGame() {
    tools::GameRecord game;
    game.index   = 7;
    game.opening = 2;
    game.winner  = -1;
    game.moves   = {210, 211, 189, 190, 230};
    tools::SearchedMove full;
    full.full   = true;
    full.value  = 0.25f;
    full.visits = {{20, 3}, {189, 390}, {399, 7}};
    tools::SearchedMove fast;
    fast.value                 = 0.875f;
    tools::SearchedMove latest = full;
    latest.visits[1].cell      = 230; // 189 is taken by then
    game.searched              = {full, fast, latest};
    return game;
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

TEST(SelfPlayRecords, GameRoundTripsAndEveryCutIsRefused) {
    const tools::GameRecord game = sampleGame();
    std::vector<uint8_t>    bytes;
    tools::encodeGame(game, &bytes);

    tools::GameRecord back;
    size_t            used = 0;
    ASSERT_TRUE(tools::decodeGame(bytes.data(), bytes.size(), &back, &used));
    EXPECT_EQ(used, bytes.size());
    EXPECT_EQ(back.index, 7u);
    EXPECT_EQ(back.opening, 2);
    EXPECT_EQ(back.winner, -1);
    EXPECT_EQ(back.moves, game.moves);
    ASSERT_EQ(back.searched.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(back.searched[i].full, game.searched[i].full);
        EXPECT_NEAR(back.searched[i].value, game.searched[i].value, 1e-4);
        ASSERT_EQ(back.searched[i].visits.size(), game.searched[i].visits.size());
        for (size_t k = 0; k < back.searched[i].visits.size(); ++k) {
            EXPECT_EQ(back.searched[i].visits[k].cell, game.searched[i].visits[k].cell);
            EXPECT_EQ(back.searched[i].visits[k].visits, game.searched[i].visits[k].visits);
        }
    }
    for (size_t cut = 0; cut < bytes.size(); ++cut)
        EXPECT_FALSE(tools::decodeGame(bytes.data(), cut, &back, &used)) << cut;
}

TEST(SelfPlayRecords, InconsistentGamesAreRefused) {
    tools::GameRecord repeated = sampleGame();
    repeated.moves[3]          = repeated.moves[0];
    tools::GameRecord taken    = sampleGame();
    taken.searched[2].visits   = {{211, 5}}; // the second opening stone stands there
    tools::GameRecord unsorted = sampleGame();
    std::swap(unsorted.searched[0].visits[0], unsorted.searched[0].visits[1]);
    for (const tools::GameRecord& bad : {repeated, taken, unsorted}) {
        std::vector<uint8_t> bytes;
        tools::encodeGame(bad, &bytes);
        tools::GameRecord back;
        size_t            used = 0;
        EXPECT_FALSE(tools::decodeGame(bytes.data(), bytes.size(), &back, &used));
    }
}

TEST(SelfPlayRecords, ScanStopsAfterTheLastCompleteGame) {
    char      path[] = "/tmp/quoribo-selfplay-scan-XXXXXX";
    const int fd     = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    std::vector<uint8_t> bytes = tools::encodeSelfPlayHeader(42);
    tools::GameRecord    game  = sampleGame();
    for (uint32_t i = 0; i < 3; ++i) {
        game.index = i;
        tools::encodeGame(game, &bytes);
    }
    const size_t whole = bytes.size();
    bytes.resize(whole - 5); // the third game cut short
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    uint64_t  seed   = 0;
    bool      header = false;
    long long valid  = 0;
    int       games  = 0;
    ASSERT_TRUE(tools::scanSelfPlayFile(path, &seed, &header, &valid, &games));
    EXPECT_TRUE(header);
    EXPECT_EQ(seed, 42u);
    EXPECT_EQ(games, 2);
    EXPECT_EQ(valid, static_cast<long long>(16 + 2 * (whole - 16) / 3));
    std::remove(path);
}

TEST(SelfPlaySampling, TemperatureDrawsOnlyAmongWellVisitedMoves) {
    tools::SearchResult result;
    result.visits[5]  = 100;
    result.visits[9]  = 100;
    result.visits[50] = 4; // under 5% of the best count
    result.bestCell   = 5;
    std::mt19937_64 rng(3);
    EXPECT_EQ(tools::sampleByVisits(result, 0.0, 0.05, &rng), 5);
    int drawn[2] = {0, 0};
    for (int i = 0; i < 400; ++i) {
        const int cell = tools::sampleByVisits(result, 1.0, 0.05, &rng);
        ASSERT_TRUE(cell == 5 || cell == 9) << cell;
        ++drawn[cell == 9];
    }
    EXPECT_GT(drawn[0], 150);
    EXPECT_GT(drawn[1], 150);
}

TEST(Gating, ScoreEloIntervalAndSprtOnKnownCounts) {
    tools::MatchScore m;
    m.wins   = 60;
    m.losses = 40;
    EXPECT_DOUBLE_EQ(tools::scoreOf(m), 0.6);
    tools::EloInterval elo = tools::eloInterval(m);
    EXPECT_NEAR(elo.elo, 70.44, 0.01);
    EXPECT_NEAR(elo.low, 1.39, 0.01);
    EXPECT_NEAR(elo.high, 139.48, 0.01);

    // A clean sweep keeps a real interval and a finite Elo, half a game
    // short of 100%.
    elo = tools::eloInterval(tools::MatchScore{10, 0, 0});
    EXPECT_NEAR(elo.elo, 511.5, 0.1);
    EXPECT_NEAR(elo.low, 166.2, 0.1);

    const tools::Sprt sprt; // H0: 0 Elo, H1: +35, 5% errors: bounds -2.944, +2.944
    const struct {
        int                 wins, losses;
        double              llr;
        tools::SprtDecision decision;
    } cases[] = {{60, 40, 1.5082, tools::SprtDecision::Continue},
                 {120, 80, 3.0164, tools::SprtDecision::AcceptH1},
                 {40, 60, -2.5213, tools::SprtDecision::Continue},
                 {35, 65, -3.5287, tools::SprtDecision::AcceptH0}};
    for (const auto& c : cases) {
        const tools::MatchScore s{c.wins, 0, c.losses};
        EXPECT_NEAR(tools::sprtLogLikelihoodRatio(s, sprt), c.llr, 1e-3);
        EXPECT_EQ(tools::sprtDecision(s, sprt), c.decision) << c.wins << "-" << c.losses;
    }
}

// The tool end to end on a tiny random network with very short searches.
class SelfPlayTool : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/quoribo-selfplay-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        std::string out;
        ASSERT_EQ(runCommand(binPath("quoribo-netgen") + " " + dir +
                                 "/net.bin --depth 2 --filters 16 --hidden 8 --seed 5 2>&1",
                             &out),
                  0)
            << out;
    }
    void TearDown() override { runCommand("rm -rf " + dir, &scratch); }

    int play(const std::string& file, int games, int workers) {
        return runCommand(binPath("quoribo-selfplay") + " play " + dir + "/net.bin " + dir + "/" +
                              file + " --games " + std::to_string(games) +
                              " --seed 9 --full-sims 16 --fast-sims 4 --max-stones 24 "
                              "--empty-start 0.5 --workers " +
                              std::to_string(workers) + " 2>/dev/null",
                          &scratch);
    }

    std::string dir, scratch;
};

TEST_F(SelfPlayTool, OneSeedGivesOneFileWhateverTheWorkersAndResumes) {
    ASSERT_EQ(play("one.bin", 3, 1), 0);
    ASSERT_EQ(play("two.bin", 3, 2), 0);
    ASSERT_EQ(play("resumed.bin", 1, 1), 0);
    ASSERT_EQ(play("resumed.bin", 3, 2), 0);
    const std::vector<uint8_t> one = readFile(dir + "/one.bin");
    EXPECT_EQ(one, readFile(dir + "/two.bin"));
    EXPECT_EQ(one, readFile(dir + "/resumed.bin"));

    uint64_t  seed   = 0;
    bool      header = false;
    long long valid  = 0;
    int       games  = 0;
    ASSERT_TRUE(tools::scanSelfPlayFile(dir + "/one.bin", &seed, &header, &valid, &games));
    EXPECT_EQ(games, 3);
    EXPECT_EQ(valid, static_cast<long long>(one.size()));
    // Another seed on the same file is refused rather than mixed in.
    EXPECT_NE(runCommand(binPath("quoribo-selfplay") + " play " + dir + "/net.bin " + dir +
                             "/one.bin --games 4 --seed 10 2>/dev/null",
                         &scratch),
              0);
}

TEST_F(SelfPlayTool, GateReportsAWholeMatch) {
    std::string out;
    ASSERT_EQ(
        runCommand(
            binPath("quoribo-selfplay") + " gate " + dir + "/net.bin " + dir +
                "/net.bin --games 4 --seed 3 --sims 4 --max-stones 24 --workers 2 2>/dev/null",
            &out),
        0);
    EXPECT_NE(out.find("gate games=4 "), std::string::npos) << out;
    EXPECT_NE(out.find("decision=undecided"), std::string::npos) << out;
}

} // namespace
