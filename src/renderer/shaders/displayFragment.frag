// "displayFragment": shows the scope texture's linear light through the
// tone curve (displayTone.glsl).

layout(binding = 0) uniform sampler2D scopeTexture;
layout(location = 0) out vec4 fragColor;

void main()
{
    fragColor = displayed(max(texelFetch(scopeTexture, ivec2(gl_FragCoord.xy), 0).rgb, vec3(0.0)));
}
