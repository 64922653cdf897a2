// "fullscreenVertex": a triangle strip of four corners covering the view.

void main()
{
    const vec2 corner = vec2(float(gl_VertexID & 1), float((gl_VertexID >> 1) & 1));
    gl_Position = vec4(corner * 2.0 - 1.0, 0.0, 1.0);
}
