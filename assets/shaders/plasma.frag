// A slowly turning plasma; time is in seconds, resolution the viewport's
// size in pixels (it keeps the swirls round in any window shape).
uniform float time;
uniform vec2 resolution;
varying vec2 uv;

void main()
{
    vec2 p = rotate(uv * vec2(resolution.x / resolution.y, 1.0) * 3.0, 0.1 * time);
    float v = sin(p.x + time)
            + sin(0.5 * (p.y + time))
            + sin(0.5 * (p.x + p.y + time))
            + sin(length(p + vec2(sin(0.3 * time), cos(0.5 * time)) * 2.0) + time);
    vec3 colour = hsv_to_rgb(vec3(fract(v / 8.0 + 0.05 * time), 0.7, 0.9));
    gl_FragColor = vec4(colour, 1.0);
}
