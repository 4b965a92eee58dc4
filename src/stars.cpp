// The starfield: 10,000 points drawn once from the C library's default random
// sequence, so every run shows the same field, faded as one by `alpha`.
#include "stars.h"

#include <GL/glew.h>

#include <cstddef>
#include <cstdlib>

namespace {

const std::size_t star_count = 10000;

// rand() scaled to 0..1 in double; RAND_MAX on the target is 2^31 - 1.
double unit_random(int v)
{
    return v / 2147483647.0;
}

}  // namespace

Stars::Star::Star(Stars* field)
    : position{0, 0, 0},
      velocity{0, 0, 0},
      acceleration{0, 0, 0},
      color{0, 0, 0},
      kind(0),
      owner(field)
{
}

void Stars::Star::update()
{
    for (int i = 0; i < 3; ++i)
        velocity[i] += acceleration[i];
    for (int i = 0; i < 3; ++i)
        position[i] += velocity[i];
}

void Stars::Star::render()
{
    glColor4f(color[0], color[1], color[2], owner->alpha);
    glVertex3fv(position);
}

// alpha starts at 0 so that a field built outside static storage starts
// invisible too, as the global one does.
Stars::Stars() : alpha(0)
{
    // Room for all stars up front: no reallocation while filling.
    starArray.reserve(star_count);
    for (std::size_t i = 0; i < star_count; ++i)
        starArray.emplace_back(this);

    // Seven draws per star, in this order; the seventh (kind) is taken although
    // nothing reads it, since every later star depends on the count.
    for (Star& star : starArray) {
        for (int axis = 0; axis < 3; ++axis) {
            const float u = static_cast<float>(unit_random(std::rand()));
            star.position[axis] = 200.0f * u - 100.0f;
        }
        star.color[0] = static_cast<float>(unit_random(std::rand()) * 0.4 + 0.6);
        star.color[1] = static_cast<float>(unit_random(std::rand()) * 0.3 + 0.7);
        star.color[2] = static_cast<float>(unit_random(std::rand()) * 0.2 + 0.8);
        star.kind = std::rand() % 3 + 1;
    }
}

Stars::~Stars() {}

void Stars::render()
{
    const std::size_t n = starArray.size();
    // The last quarter, by place in the array, is drawn large.
    const std::size_t k = n / 4 * 3;

    glDisable(GL_TEXTURE_2D);
    glDisable(GL_LIGHTING);

    glPointSize(1.0f);
    glBegin(GL_POINTS);
    for (std::size_t i = 0; i < k; ++i)
        starArray[i].render();
    glEnd();

    glPointSize(3.0f);
    glBegin(GL_POINTS);
    for (std::size_t i = k; i < n; ++i)
        starArray[i].render();
    glEnd();
    // Leaves: texturing and lighting off, point size 3, the last star's colour
    // with the field's alpha. Blending is whatever the caller left (the logo turns it on).
}
