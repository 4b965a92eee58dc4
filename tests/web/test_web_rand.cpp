// The web build's rand(): the C library's own sequence, value for value. A
// program of its own, without the GL window, so that nothing calls rand()
// before the default-seed case reads it.
#include <gtest/gtest.h>

#include <cstdlib>

#include "glibc_rand.h"

namespace {

constexpr int kValues = 100000;

// The index of the first value where the generator and rand() part, or -1.
int first_difference(GlibcRand& generator)
{
    for (int i = 0; i < kValues; ++i)
        if (generator.next() != std::rand())
            return i;
    return -1;
}

}  // namespace

TEST(GlibcRand, matches_rand_from_the_default_seed)
{
    GlibcRand generator;
    EXPECT_EQ(first_difference(generator), -1);
}

TEST(GlibcRand, matches_rand_after_srand_and_after_reseeding)
{
    // 0 is taken as 1; the top bit set is a negative 32-bit seed to glibc.
    const unsigned seeds[] = {1u, 0u, 42u, 20261207u, 0x80000000u, 0xFFFFFFFFu};
    GlibcRand reseeded(7);
    reseeded.next();
    for (unsigned seed : seeds) {
        SCOPED_TRACE(seed);
        std::srand(seed);
        GlibcRand generator(seed);
        EXPECT_EQ(first_difference(generator), -1);
        std::srand(seed);
        reseeded.seed(seed);
        EXPECT_EQ(first_difference(reseeded), -1);
    }
}
