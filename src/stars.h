// A fixed field of 10,000 coloured points around the world origin, faded as one.
#pragma once

#include <cstdint>
#include <vector>

class Stars {
public:
    struct Star {
        float position[3];      // x, y, z in world units, -100 to 100
        float velocity[3];      // per update step; always 0 here
        float acceleration[3];  // per update step; always 0 here
        float color[3];         // red, green, blue
        int32_t kind;           // 1, 2 or 3; nothing reads it
        Stars* owner;           // the field whose alpha this star shows

        explicit Star(Stars* field);
        void update();
        void render();  // call between glBegin(GL_POINTS) and glEnd()
    };

    float alpha;  // opacity of every star, 0 to 1; 0 after construction
    std::vector<Star> starArray;

    Stars();
    ~Stars();
    // Stars point back at their field, so a field is never copied or moved.
    Stars(const Stars&) = delete;
    Stars& operator=(const Stars&) = delete;

    void render();
};
