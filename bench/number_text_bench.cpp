#include "text/number_text.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

const size_t BENCH_VALUES = 1 << 16;
const size_t VALUES_PER_LINE = 1000;

// Elevations of a hilly area: hundreds of metres with two or three decimals.
std::vector<double> elevations()
{
    std::mt19937_64 random(11);
    std::uniform_int_distribution<int> millimetres(150000, 1800000);
    std::vector<double> values(BENCH_VALUES);
    for (size_t i = 0; i < values.size(); ++i) {
        int mm = millimetres(random);
        values[i] = i % 2 == 0 ? mm / 1000.0 : (mm / 10) / 100.0;
    }
    return values;
}

// Differences of two surveys: mostly unchanged, otherwise a few metres either way.
std::vector<double> differences()
{
    std::mt19937_64 random(12);
    std::uniform_int_distribution<int> centimetres(-500, 500);
    std::vector<double> values(BENCH_VALUES);
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = random() % 3 == 0 ? centimetres(random) / 100.0 : 0.0;
    return values;
}

// A grid body: words separated by tabs, lines of VALUES_PER_LINE words.
std::string grid_text(const std::vector<double> &values, bool short_decimals)
{
    std::string text;
    std::vector<char> word(FIXED6_MAX_CHARS);
    for (size_t i = 0; i < values.size(); ++i) {
        char *end = format_fixed6(word.data(), values[i]);
        if (short_decimals) // "523.417000" -> "523.417", "523.410000" -> "523.41"
            end -= i % 2 == 0 ? 3 : 4;
        text.append(word.data(), end);
        text += (i + 1) % VALUES_PER_LINE == 0 ? '\n' : '\t';
    }
    return text;
}

template <class Parser>
void parse_grid_text(benchmark::State &state, const std::string &text, Parser parser)
{
    for (auto _ : state) {
        const char *p = text.data();
        const char *end = p + text.size();
        double sum = 0;
        while (p != end) {
            const char *word = p;
            while (static_cast<unsigned char>(*p) > ' ')
                ++p;
            double value = 0;
            if (!parser(word, p, &value))
                state.SkipWithError("a word was refused");
            sum += value;
            ++p;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

bool strtod_word(const char *first, const char *last, double *value)
{
    char *end = nullptr;
    *value = std::strtod(first, &end);
    return end == last;
}

void BM_ParseElevations(benchmark::State &state)
{
    parse_grid_text(state, grid_text(elevations(), true), parse_real_word);
}
BENCHMARK(BM_ParseElevations);

void BM_ParseFixed6Elevations(benchmark::State &state)
{
    parse_grid_text(state, grid_text(elevations(), false), parse_real_word);
}
BENCHMARK(BM_ParseFixed6Elevations);

void BM_ParseDifferences(benchmark::State &state)
{
    parse_grid_text(state, grid_text(differences(), false), parse_real_word);
}
BENCHMARK(BM_ParseDifferences);

void BM_ParseElevationsStrtodBaseline(benchmark::State &state)
{
    parse_grid_text(state, grid_text(elevations(), true), strtod_word);
}
BENCHMARK(BM_ParseElevationsStrtodBaseline);

template <class Writer>
void format_values(benchmark::State &state, const std::vector<double> &values, Writer writer)
{
    std::vector<char> out(values.size() * (FIXED6_MAX_CHARS + 1));
    size_t written = 0;
    for (auto _ : state) {
        char *p = out.data();
        for (double value : values) {
            p = writer(p, value);
            *p++ = '\t';
        }
        written += static_cast<size_t>(p - out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(written));
}

char *snprintf_fixed6(char *out, double value)
{
    return out + std::snprintf(out, FIXED6_MAX_CHARS, "%lf", value);
}

void BM_FormatElevations(benchmark::State &state)
{
    format_values(state, elevations(), format_fixed6);
}
BENCHMARK(BM_FormatElevations);

void BM_FormatDifferences(benchmark::State &state)
{
    format_values(state, differences(), format_fixed6);
}
BENCHMARK(BM_FormatDifferences);

void BM_FormatElevationsSnprintfBaseline(benchmark::State &state)
{
    format_values(state, elevations(), snprintf_fixed6);
}
BENCHMARK(BM_FormatElevationsSnprintfBaseline);

} // namespace
