// The desktop C library's rand()/srand() sequence, for the web build: the
// starfield is drawn from rand() at its default seed, and Emscripten's C library
// gives another sequence, so the browser would show other stars.
//
// This is glibc's default generator (TYPE_3): an additive feedback generator
// r[i] = r[i-3] + r[i-31] (mod 2^32) over a table seeded by 16807 * r mod
// (2^31 - 1), whose first 310 results are discarded; each result is r[i] >> 1.
// GlibcRand(1), like a program that never calls srand, yields the same values
// as glibc's rand(); seed(s) restarts the sequence as srand(s) does (0 acts as 1).
#pragma once

#include <cstdint>

class GlibcRand {
public:
    explicit GlibcRand(unsigned seed = 1) { this->seed(seed); }

    void seed(unsigned seed)
    {
        // glibc keeps the seed in a 32-bit int; 0 would leave the table all zero.
        int32_t word = static_cast<int32_t>(seed == 0 ? 1 : seed);
        table[0] = static_cast<uint32_t>(word);
        for (int i = 1; i < 31; ++i) {
            // 16807 * word mod (2^31 - 1) without overflow (Schrage's method).
            const int32_t hi = word / 127773;
            const int32_t lo = word % 127773;
            word = 16807 * lo - 2836 * hi;
            if (word < 0)
                word += 2147483647;
            table[i] = static_cast<uint32_t>(word);
        }
        for (int i = 31; i < 34; ++i)
            table[i] = table[i - 31];
        position = 0;
        for (int i = 0; i < 310; ++i)
            step();
    }

    // The next value in [0, RAND_MAX], RAND_MAX being 2^31 - 1 as in glibc.
    int next() { return static_cast<int>(step() >> 1); }

private:
    // The last 34 terms in a ring: the next term r[i] goes where r[i-34] was.
    uint32_t step()
    {
        const uint32_t value = table[(position + 31) % 34] + table[(position + 3) % 34];
        table[position] = value;
        position = (position + 1) % 34;
        return value;
    }

    uint32_t table[34];
    unsigned position;  // i mod 34 of the term step() makes next
};
