#version 120
// The prelude placed before every vertex and fragment source; keep #version
// on the first line, as it must open the whole shader.

const float PI = 3.14159265;
const float TAU = 6.28318531;

// Hue, saturation, value (each 0 to 1) to RGB.
vec3 hsv_to_rgb(vec3 c)
{
    vec3 p = abs(fract(c.xxx + vec3(1.0, 2.0 / 3.0, 1.0 / 3.0)) * 6.0 - 3.0);
    return c.z * mix(vec3(1.0), clamp(p - 1.0, 0.0, 1.0), c.y);
}

// Turns p by angle a (radians), counter-clockwise.
vec2 rotate(vec2 p, float a)
{
    float c = cos(a);
    float s = sin(a);
    return vec2(c * p.x - s * p.y, s * p.x + c * p.y);
}
