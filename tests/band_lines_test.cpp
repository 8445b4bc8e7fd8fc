// The lines of a grid held while bands need them: read in order from the grid's reader,
// let go behind the band, read again from the top when a band goes back above them, and a
// reader's fault passed on wherever it comes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "regrid/band_lines.h"

namespace {

// A grid whose cell (i, j) is i * 1000 + j, which fails at line failing (-1: never), and
// which counts the lines it gives and its starts from the top.
struct counted_reader : line_reader {
    int32_t columns = 3, next = 0, failing = -1, starts = 0, lines_given = 0;
    bool read_lines(int32_t first, int32_t end, double *const *rows, std::string *fault) override
    {
        if (first == 0)
            starts++;
        EXPECT_TRUE(first == next || first == 0) << "a band out of order: " << first << " after " << next;
        for (int32_t i = first; i < end; i++) {
            if (i == failing) {
                *fault = "line " + std::to_string(i) + " cannot be read";
                return false;
            }
            for (int32_t j = 0; j < columns; j++)
                rows[i - first][j] = i * 1000.0 + j;
            lines_given++;
        }
        next = end;
        return true;
    }
};

TEST(HeldLines, BandsReadInOrderLetGoBehindAndStartAgainAbove)
{
    struct step {
        int32_t first, end;
        int32_t starts, lines_given;  // the reader's, after the step
    };
    const step steps[] = {
        {0, 4, 1, 4},    // the first band
        {2, 6, 1, 6},    // overlapping: lines 4 and 5 only are new
        {9, 10, 1, 10},  // past a gap: lines 6 to 8 read and dropped
        {1, 3, 2, 13},   // above what is held: from the top again
        {3, 12, 2, 22},  // clipped to the grid's 12 lines
    };
    counted_reader reader;
    held_lines held;
    start_held_lines(&held, &reader, 12, reader.columns);
    for (const step &s : steps) {
        std::string fault;
        ASSERT_TRUE(hold_lines(&held, s.first, s.end, &fault)) << fault;
        EXPECT_EQ(reader.starts, s.starts) << s.first;
        EXPECT_EQ(reader.lines_given, s.lines_given) << s.first;
        const grid_view view = held_view(held);
        for (int32_t i = 0; i < view.lines; i++) {
            const bool wanted = i >= s.first && i < std::min(s.end, 12);
            if (!wanted && i < s.first) {
                EXPECT_EQ(view.cells[i], nullptr) << "line " << i << " still held at band " << s.first;
                continue;
            }
            if (wanted) {
                ASSERT_NE(view.cells[i], nullptr) << "line " << i;
                EXPECT_EQ(view.cells[i][2], i * 1000.0 + 2);
            }
        }
    }
}

TEST(HeldLines, AFaultOfTheReaderStopsTheBandWhereverItComes)
{
    for (int32_t failing : {0, 3, 7}) {
        counted_reader reader;
        reader.failing = failing;
        held_lines held;
        start_held_lines(&held, &reader, 10, reader.columns);
        std::string fault;
        // The band at lines 6 to 8: a fault above it comes while the lines are passed over.
        EXPECT_EQ(hold_lines(&held, 6, 9, &fault), failing > 8) << failing;
        EXPECT_EQ(fault, "line " + std::to_string(failing) + " cannot be read");
    }
}

} // namespace
