// Passes the quad through untransformed: draw it with corners at -1 and 1 and
// it covers the viewport whatever the matrices.
varying vec2 uv;

void main()
{
    uv = gl_Vertex.xy;
    gl_Position = vec4(gl_Vertex.xy, 0.0, 1.0);
}
