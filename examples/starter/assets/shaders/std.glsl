#version 120
// The starter's prelude, placed before its vertex and fragment sources; keep
// #version on the first line, as it must open the whole shader.

const float TAU = 6.28318531;

// A smooth cyclic palette: t runs through the colours once per unit.
vec3 palette(float t)
{
    return 0.5 + 0.5 * cos(TAU * (t + vec3(0.0, 0.33, 0.67)));
}
