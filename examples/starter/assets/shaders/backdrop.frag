// Slow bands of colour, kept dark so that what is drawn over them shows;
// time in seconds, brightness from 0 (black) to 1.
uniform float time;
uniform float brightness;
varying vec2 uv;

void main()
{
    vec2 p = uv * vec2(16.0 / 9.0, 1.0);
    float wave = sin(3.0 * p.x + time) + sin(2.0 * p.y - 0.7 * time) + sin(length(p) * 4.0 - time);
    vec3 colour = 0.1 + 0.25 * palette(0.08 * wave + 0.05 * time);
    gl_FragColor = vec4(colour * brightness, 1.0);
}
