// The quad as given (corners at -1 and 1), whatever the matrices: it covers
// the viewport.
varying vec2 uv;

void main()
{
    uv = gl_Vertex.xy;
    gl_Position = vec4(gl_Vertex.xy, 0.0, 1.0);
}
