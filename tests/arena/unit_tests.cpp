// Unit tests of the arena's parts that need no threads and no files: option
// values, the CSV field rules and reader, and the summary's figures.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "arena/csv.h"
#include "arena/options.h"
#include "arena/progress.h"
#include "arena/summary.h"
#include "frontend/files.h"

namespace prendax {
namespace {

TEST(ArenaOptions, SeedRanges) {
    struct Case {
        const char* text;
        bool ok;
        uint32_t first;
        uint32_t last;
    };
    const Case cases[] = {
        {"100", true, 1, 100},
        {"1", true, 1, 1},
        {"0", false, 0, 0},  // no seeds at all
        {"4294967295", true, 1, 4294967295u},
        {"4294967296", false, 0, 0},
        {"99999999999999999999999", false, 0, 0},
        {"7-9", true, 7, 9},
        {"0-0", true, 0, 0},  // seed 0 is a seed prendax_cli accepts
        {"5-5", true, 5, 5},
        {"9-7", false, 0, 0},
        {"4294967290-4294967295", true, 4294967290u, 4294967295u},
        {"1-4294967296", false, 0, 0},
        {"", false, 0, 0},
        {"-", false, 0, 0},
        {"-5", false, 0, 0},
        {"5-", false, 0, 0},
        {"1-2-3", false, 0, 0},
        {"+5", false, 0, 0},
        {" 5", false, 0, 0},
        {"5 ", false, 0, 0},
        {"1x", false, 0, 0},
        {"abc", false, 0, 0},
        {"1,5", false, 0, 0},
    };
    for (const Case& c : cases) {
        uint32_t first = 11;
        uint32_t last = 22;
        EXPECT_EQ(parse_seed_range(c.text, first, last), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(first, c.first) << c.text;
            EXPECT_EQ(last, c.last) << c.text;
        } else {
            EXPECT_EQ(first, 11u) << c.text;  // a bad value leaves the range as it was
            EXPECT_EQ(last, 22u) << c.text;
        }
    }
}

TEST(ArenaOptions, LevelLists) {
    struct Case {
        const char* text;
        bool ok;
        std::vector<int32_t> levels;
    };
    const Case cases[] = {
        {"1,2,3", true, {1, 2, 3}}, {"3,1", true, {1, 3}}, {"2", true, {2}},
        {"3,2,1", true, {1, 2, 3}}, {"0", false, {}},      {"4", false, {}},
        {"1,4", false, {}},         {"1,1", false, {}},    {"", false, {}},
        {"1,", false, {}},          {",1", false, {}},     {"1,,2", false, {}},
        {"01", true, {1}},          {"-1", false, {}},     {"1 ,2", false, {}},
        {"a", false, {}},
    };
    for (const Case& c : cases) {
        int32_t levels[LEVEL_COUNT] = {9, 9, 9};
        int32_t count = 7;
        EXPECT_EQ(parse_level_list(c.text, levels, count), c.ok) << c.text;
        if (!c.ok) {
            EXPECT_EQ(count, 7) << c.text;
            continue;
        }
        EXPECT_EQ(std::vector<int32_t>(levels, levels + count), c.levels) << c.text;
    }
}

TEST(ArenaOptions, WholeNumbers) {
    struct Case {
        const char* text;
        bool ok;
        int32_t value;
    };
    const Case cases[] = {
        {"0", true, 0},
        {"900", true, 900},
        {"-5", true, -5},
        {"2147483647", true, INT32_MAX},
        {"-2147483648", true, INT32_MIN},
        {"2147483648", false, 0},
        {"-2147483649", false, 0},
        {"", false, 0},
        {"-", false, 0},
        {"5x", false, 0},
        {"+5", false, 0},
        {"1e3", false, 0},
    };
    for (const Case& c : cases) {
        int32_t value = 77;
        EXPECT_EQ(parse_int32(c.text, value), c.ok) << c.text;
        EXPECT_EQ(value, c.ok ? c.value : 77) << c.text;
    }
}

TEST(ArenaOptions, WorkerCount) {
    EXPECT_EQ(worker_count(2, 100), 2);
    EXPECT_EQ(worker_count(8, 3), 3);  // more jobs than matches
    EXPECT_EQ(worker_count(1000, 100000), MAX_JOBS);
    EXPECT_EQ(worker_count(4, 0), 1);
    EXPECT_GE(worker_count(0, 100000), 1);  // one per core
}

TEST(ArenaCsv, FieldsAreQuotedOnlyWhenNeeded) {
    struct Case {
        const char* text;
        const char* written;
    };
    const Case cases[] = {
        {"robot.zkv", "robot.zkv"},
        {"", ""},
        {"línea 3: División entre cero en ejecución", "línea 3: División entre cero en ejecución"},
        {"a,b.zkv", "\"a,b.zkv\""},
        {"say \"hi\".zkv", "\"say \"\"hi\"\".zkv\""},
        {"two\nlines", "\"two\nlines\""},
        {"cr\rhere", "\"cr\rhere\""},
        {" spaced ", " spaced "},
    };
    for (const Case& c : cases) EXPECT_EQ(csv_field(c.text), c.written) << c.text;
}

// Reads every record of a text through a temporary stream.
std::vector<CsvRecord> read_all(const std::string& text, CsvReadStatus& last, std::vector<int64_t>& lines) {
    std::FILE* f = std::tmpfile();
    std::fwrite(text.data(), 1, text.size(), f);
    std::rewind(f);
    CsvReader reader = csv_reader(f);
    std::vector<CsvRecord> records;
    CsvRecord fields;
    int64_t line = 0;
    while ((last = csv_read(reader, fields, line)) == CSV_READ_RECORD) {
        records.push_back(fields);
        lines.push_back(line);
    }
    std::fclose(f);
    return records;
}

TEST(ArenaCsv, WrittenRecordsReadBack) {
    const std::vector<CsvRecord> records = {
        {"plain", "1", ""}, {"a,b", "say \"hi\"", "two\nlines"}, {"", "", ""}, {"\"", ",", "\r\n"}, {"last"},
    };
    std::string text;
    for (const CsvRecord& r : records) text += csv_line(r);
    CsvReadStatus last = CSV_READ_RECORD;
    std::vector<int64_t> lines;
    EXPECT_EQ(read_all(text, last, lines), records);
    EXPECT_EQ(last, CSV_READ_END);
    // A record starts on the line after the quoted line breaks before it.
    EXPECT_EQ(lines, (std::vector<int64_t>{1, 2, 4, 5, 7}));
}

TEST(ArenaCsv, ReaderEdges) {
    struct Case {
        const char* text;
        std::vector<CsvRecord> records;
        CsvReadStatus last;
    };
    const Case cases[] = {
        {"a,b\r\nc,d\r\n", {{"a", "b"}, {"c", "d"}}, CSV_READ_END},  // CRLF line ends
        {"a,b", {{"a", "b"}}, CSV_READ_END},                         // no final line feed
        {"\"a\"\r\n", {{"a"}}, CSV_READ_END},
        {"x,\"open", {}, CSV_READ_UNCLOSED_QUOTE},
        {"x,ab\"c\n", {}, CSV_READ_STRAY_QUOTE},
        {"x,\"ab\"c\n", {}, CSV_READ_STRAY_QUOTE},
        {"ok\nx,\"open\n", {{"ok"}}, CSV_READ_UNCLOSED_QUOTE},
        {"", {}, CSV_READ_END},
    };
    for (const Case& c : cases) {
        CsvReadStatus last = CSV_READ_RECORD;
        std::vector<int64_t> lines;
        EXPECT_EQ(read_all(c.text, last, lines), c.records) << c.text;
        EXPECT_EQ(last, c.last) << c.text;
    }
}

TEST(ArenaCsv, RecordLengthIsBounded) {
    // MAX_CSV_RECORD_BYTES bytes with the line feed is read; one more is not,
    // inside quotes or not.
    std::string atLimit(MAX_CSV_RECORD_BYTES - 1, 'a');
    std::string quoted = "\"" + std::string(MAX_CSV_RECORD_BYTES - 2, 'q');
    const struct {
        std::string text;
        std::size_t records;
        CsvReadStatus last;
    } cases[] = {
        {atLimit + "\nb\n", 2, CSV_READ_END},
        {atLimit + "a\nb\n", 0, CSV_READ_TOO_LONG},
        {quoted + "\"\n", 0, CSV_READ_TOO_LONG},
        {quoted.substr(1) + "\n", 1, CSV_READ_END},
        {std::string(100000, '\0'), 0, CSV_READ_TOO_LONG},
    };
    for (const auto& c : cases) {
        CsvReadStatus last = CSV_READ_RECORD;
        std::vector<int64_t> lines;
        EXPECT_EQ(read_all(c.text, last, lines).size(), c.records) << c.text.size();
        EXPECT_EQ(last, c.last) << c.text.size();
    }
}

TEST(FrontEndText, ShownEscapesControlBytesAndInvalidUtf8) {
    const struct {
        std::string in;
        const char* out;
    } cases[] = {
        {"robot.zkv", "robot.zkv"},
        {"ñandú ✓ 𝄞", "ñandú ✓ 𝄞"},                  // two-, three- and four-byte characters
        {"\x1b]0;t\x07", "\\x1b]0;t\\x07"},          // an OSC sequence
        {"a\tb\r\n\x7f", "a\\x09b\\x0d\\x0a\\x7f"},  // C0 controls and DEL
        {"\xc2\x9b"
         "2J",
         "\\xc2\\x9b2J"},                              // a C1 control (CSI) in UTF-8
        {"\xff\xfe", "\\xff\\xfe"},                    // bytes never in UTF-8
        {"\xc3", "\\xc3"},                             // a cut character
        {"\xc0\xaf", "\\xc0\\xaf"},                    // an overlong form
        {"\xed\xa0\x80", "\\xed\\xa0\\x80"},           // a surrogate
        {"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},  // past U+10FFFF
        {std::string("a\0b", 3), "a\\x00b"},
    };
    for (const auto& c : cases) EXPECT_EQ(shown(c.in), c.out) << c.in;
}

MatchResult result_with(int32_t status, int32_t score, int32_t health, int32_t ticks, const char* error = nullptr,
                        int32_t line = 0) {
    MatchResult r{};
    r.status = status;
    r.score = score;
    r.health = health;
    r.ticks = ticks;
    r.tickLimit = 5000;
    r.wave = 1;
    if (error != nullptr) {
        r.hasError = 1;
        r.errorLine = line;
        std::snprintf(r.errorMessage, sizeof r.errorMessage, "%s", error);
    }
    return r;
}

TEST(ArenaCsv, MatchRow) {
    MatchResult r = result_with(VM_DERROTA, 40, 0, 1424, "División entre cero en ejecución", 3);
    r.wave = 2;
    r.steps = 5;
    r.budgetHits = 1;
    CsvRecord fields;
    match_fields("a,b.zkv", 3, 4294967295u, r, fields);
    EXPECT_EQ(csv_line(fields),
              "\"a,b.zkv\",3,4294967295,derrota,40,0,2,1424,5,5,1,línea 3: División entre cero en ejecución,5000\n");
    MatchResult unfinished = result_with(VM_ESPERANDO, 0, 100, 900);
    unfinished.tickLimit = 900;
    match_fields("r.zkv", 1, 0, unfinished, fields);
    EXPECT_EQ(csv_line(fields), "r.zkv,1,0,esperando,0,100,1,900,2,0,0,,900\n");
    EXPECT_EQ(csv_line(csv_header()),
              "program,level,seed,outcome,score,health,wave,ticks,vmStatus,steps,budgetHits,error,tickLimit\n");
    // The header of the CSVs written before the tick limit had its column.
    EXPECT_EQ(csv_line(csv_header(CSV_COLUMNS_WITHOUT_LIMIT)),
              "program,level,seed,outcome,score,health,wave,ticks,vmStatus,steps,budgetHits,error\n");
}

TEST(ArenaSummary, WilsonInterval) {
    struct Case {
        uint64_t wins;
        uint64_t n;
        double low;
        double high;
    };
    // Published values of the Wilson score interval at 95%.
    const Case cases[] = {
        {0, 10, 0.0, 0.2775},      {5, 10, 0.2366, 0.7634}, {10, 10, 0.7225, 1.0},
        {81, 263, 0.2553, 0.3662}, {1, 1, 0.2065, 1.0},     {0, 0, 0.0, 0.0},
    };
    for (const Case& c : cases) {
        WilsonInterval ci = wilson_interval(c.wins, c.n);
        EXPECT_NEAR(ci.low, c.low, 5e-5) << c.wins << "/" << c.n;
        EXPECT_NEAR(ci.high, c.high, 5e-5) << c.wins << "/" << c.n;
        EXPECT_GE(ci.low, 0.0);
        EXPECT_LE(ci.high, 1.0);
    }
}

TEST(ArenaSummary, CountsMeansAndMedian) {
    struct Case {
        std::vector<int32_t> scores;
        double median;
    };
    const Case cases[] = {
        {{50}, 50.0},        {{10, 30}, 20.0},           {{30, 10, 20}, 20.0},     {{5, 5, 5, 100}, 5.0},
        {{1, 2, 3, 4}, 2.5}, {{-3, 7, 7, 9, 0, 7}, 7.0}, {{40, 10, 20, 30}, 25.0},
    };
    for (const Case& c : cases) {
        LevelSummary s;
        for (std::size_t i = 0; i < c.scores.size(); i++) {
            summary_add(s, static_cast<uint32_t>(i), result_with(VM_ESPERANDO, c.scores[i], 10, 900));
        }
        EXPECT_DOUBLE_EQ(median_score(s), c.median) << c.scores.size();
    }

    LevelSummary s;
    summary_add(s, 1, result_with(VM_VICTORIA, 300, 50, 1500));
    summary_add(s, 2, result_with(VM_DERROTA, 10, 0, 1200));
    summary_add(s, 3, result_with(VM_ERROR, 0, 80, 900, "Módulo entre cero en ejecución", 4));
    summary_add(s, 4, result_with(VM_DERROTA, 0, 0, 1000, "Módulo entre cero en ejecución", 4));
    summary_add(s, 5, result_with(VM_ESPERANDO, 20, 90, 900));
    EXPECT_EQ(s.matches, 5u);
    EXPECT_EQ(s.victories, 1u);
    EXPECT_EQ(s.defeats, 2u);
    EXPECT_EQ(s.unfinished, 2u);  // the error and the one still waiting
    EXPECT_EQ(s.runtimeErrors, 2u);
    EXPECT_EQ(s.scoreSum, 330);
    EXPECT_EQ(s.healthSum, 220);
    EXPECT_EQ(s.ticksSum, 5500);
    uint64_t count = 0;
    const std::string* top = most_frequent_error(s, count);
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(*top, "línea 4: Módulo entre cero en ejecución");
    EXPECT_EQ(count, 2u);
}

TEST(ArenaSummary, MostFrequentErrorTiesGoToTheSmallestText) {
    LevelSummary s;
    uint64_t count = 9;
    EXPECT_EQ(most_frequent_error(s, count), nullptr);
    EXPECT_EQ(count, 0u);
    summary_add(s, 1, result_with(VM_ERROR, 0, 1, 1, "b", 2));
    summary_add(s, 2, result_with(VM_ERROR, 0, 1, 1, "a", 9));
    summary_add(s, 3, result_with(VM_ERROR, 0, 1, 1, "b", 2));
    summary_add(s, 4, result_with(VM_ERROR, 0, 1, 1, "a", 9));
    const std::string* top = most_frequent_error(s, count);
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(*top, "línea 2: b");
    EXPECT_EQ(count, 2u);
}

// The worst seeds come out the same whatever order the matches are added in.
TEST(ArenaSummary, WorstSeeds) {
    struct Match {
        uint32_t seed;
        int32_t status;
        int32_t score;
    };
    const std::vector<Match> matches = {
        {1, VM_ESPERANDO, 0}, {2, VM_DERROTA, 50},  {3, VM_VICTORIA, 10}, {4, VM_DERROTA, 50},   {5, VM_ERROR, 0},
        {6, VM_DERROTA, 20},  {7, VM_ESPERANDO, 5}, {8, VM_HALT, 0},      {9, VM_VICTORIA, 300},
    };
    const std::vector<uint32_t> expected = {6, 2, 4, 1, 5};  // defeats by score then seed, then the rest
    std::vector<std::size_t> order(matches.size());
    for (std::size_t i = 0; i < order.size(); i++) order[i] = i;
    for (int pass = 0; pass < 3; pass++) {
        LevelSummary s;
        for (std::size_t i : order) {
            const Match& m = matches[i];
            summary_add(s, m.seed, result_with(m.status, m.score, 0, 900));
        }
        ASSERT_EQ(s.worstCount, WORST_SEEDS);
        std::vector<uint32_t> seeds;
        for (int32_t i = 0; i < s.worstCount; i++) seeds.push_back(s.worst[i].seed);
        EXPECT_EQ(seeds, expected) << "pass " << pass;
        // Reverse, then interleave, for the next pass.
        if (pass == 0) std::vector<std::size_t>(order.rbegin(), order.rend()).swap(order);
        if (pass == 1) order = {4, 0, 8, 2, 6, 1, 5, 3, 7};
    }

    LevelSummary few;
    summary_add(few, 9, result_with(VM_ESPERANDO, 5, 0, 900));
    summary_add(few, 3, result_with(VM_ESPERANDO, 5, 0, 900));
    ASSERT_EQ(few.worstCount, 2);
    EXPECT_EQ(few.worst[0].seed, 3u);
    EXPECT_EQ(few.worst[1].seed, 9u);
}

TEST(ArenaSummary, Ranking) {
    auto program = [](const char* path, bool compiled, uint64_t victories, uint64_t defeats, int64_t scoreSum,
                      int64_t healthSum = 0, int64_t victoryTicksSum = 0) {
        ProgramSummary p;
        p.path = path;
        p.compiled = compiled;
        if (compiled) {
            p.levels.emplace_back();
            p.levels[0].matches = 10;
            p.levels[0].victories = victories;
            p.levels[0].defeats = defeats;
            p.levels[0].scoreSum = scoreSum;
            p.levels[0].healthSum = healthSum;
            p.levels[0].victoryTicksSum = victoryTicksSum;
        }
        return p;
    };
    // Victories first, then fewer defeats, the higher mean score, the more
    // health left, the fewer ticks per victory, and last command-line order.
    std::vector<ProgramSummary> programs;
    programs.push_back(program("a", true, 2, 1, 100, 50, 3000));
    programs.push_back(program("b", true, 5, 5, 10));
    programs.push_back(program("broken", false, 0, 0, 0));
    programs.push_back(program("c", true, 2, 1, 300));
    programs.push_back(program("d", true, 2, 0, 100));
    programs.push_back(program("e", true, 2, 1, 100, 50, 3000));  // ties with a: command-line order
    programs.push_back(program("f", true, 2, 1, 100, 60, 3000));  // more health than a
    programs.push_back(program("g", true, 2, 1, 100, 50, 2000));  // as a, but wins sooner
    EXPECT_EQ(rank_programs(programs), (std::vector<std::size_t>{1, 4, 3, 6, 7, 0, 5}));
}

TEST(ArenaProgress, TimeLeft) {
    struct Case {
        double seconds;
        const char* text;
    };
    const Case cases[] = {
        {0.0, "0:00"},       {0.2, "0:01"},       {59.0, "0:59"},  {61.5, "1:02"},  {3599.0, "59:59"},
        {3600.0, "1:00:00"}, {7384.0, "2:03:04"}, {-1.0, "--:--"}, {1e30, "--:--"}, {__builtin_nan(""), "--:--"},
    };
    for (const Case& c : cases) {
        char text[32];
        format_time_left(c.seconds, text, sizeof text);
        EXPECT_STREQ(text, c.text) << c.seconds;
    }
}

}  // namespace
}  // namespace prendax
