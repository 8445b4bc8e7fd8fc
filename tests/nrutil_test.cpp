// Row-pointer grids: shapes, zero fill, refusals and releases.
#include <gtest/gtest.h>

#include <cstdint>

#include "nrutil.h"

namespace {

TEST(Nrutil, GridsHaveTheirShapeAndStartAtZero)
{
    double **d = dmatrice(3, 2);
    ASSERT_NE(d, nullptr);
    for (int i = 0; i < 2; i++)
        for (int j = 0; j < 3; j++)
            EXPECT_EQ(d[i][j], 0.0);
    // Line 1, column 2 is the last element of the second line.
    d[1][2] = 7.5;
    EXPECT_EQ(*(d[1] + 2), 7.5);
    frdmatrice(d, 2);

    uint16_t **us = usmatrice(4, 3);
    ASSERT_NE(us, nullptr);
    us[2][3] = 65535;
    EXPECT_EQ(us[2][3], 65535);
    EXPECT_EQ(us[0][0], 0);
    frusmatrice(us, 3);

    int32_t **it = imatrice(5, 1);
    ASSERT_NE(it, nullptr);
    it[0][4] = -1;
    EXPECT_EQ(it[0][4], -1);
    frimatrice(it, 1);

    float **f = fmatrice(2, 2);
    unsigned char **uc = ucmatrice(2, 2);
    int16_t **s = smatrice(2, 2);
    long double **ld = ldmatrice(2, 2);
    ASSERT_TRUE(f && uc && s && ld);
    EXPECT_EQ(f[1][1], 0.0f);
    EXPECT_EQ(uc[1][1], 0);
    EXPECT_EQ(s[1][1], 0);
    EXPECT_EQ(ld[1][1], 0.0L);
    frfmatrice(f, 2);
    frucmatrice(uc, 2);
    frsmatrice(s, 2);
    frldmatrice(ld, 2);
}

TEST(Nrutil, CountsOfZeroOrLessGiveNull)
{
    EXPECT_EQ(dmatrice(3, 0), nullptr);
    EXPECT_EQ(dmatrice(3, -1), nullptr);
    EXPECT_EQ(dmatrice(0, 2), nullptr);
    EXPECT_EQ(imatrice(-5, 2), nullptr);
    EXPECT_EQ(dvecteur(0), nullptr);
    EXPECT_EQ(ivecteur(-1), nullptr);
    // A release with no lines gives back the table alone (and null is harmless).
    frdmatrice(nullptr, 0);
}

TEST(Nrutil, VectorsStartAtZero)
{
    unsigned char *uc = ucvecteur(5);
    ASSERT_NE(uc, nullptr);
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(uc[i], 0);
    frucvecteur(uc);
    double *d = dvecteur(3);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d[2], 0.0);
    frdvecteur(d);
    float *f = fvecteur(2);
    uint16_t *us = usvecteur(2);
    int16_t *s = svecteur(2);
    int32_t *i = ivecteur(2);
    ASSERT_TRUE(f && us && s && i);
    EXPECT_EQ(f[1] + us[1] + s[1] + i[1], 0);
    frfvecteur(f);
    frusvecteur(us);
    frsvecteur(s);
    frivecteur(i);
}

} // namespace
