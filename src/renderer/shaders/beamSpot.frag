// Light of one segment at this fragment: a Gaussian spot of standard
// deviation sigma swept at constant speed along the segment, integrated in
// closed form. Across the segment it is the Gaussian itself; along it, the
// difference of two error functions. Written with additive blending.

in vec2 vAlongAcross;
flat in vec3 vLight;
flat in float vSpan;
flat in float vSigma;

layout(location = 0) out vec4 fragLight;

const float kPi = 3.14159265;

// Abramowitz & Stegun 7.1.26: absolute error below 1.5e-7.
float erfApprox(float x)
{
    const float t = 1.0 / (1.0 + 0.3275911 * abs(x));
    const float poly = ((((1.061405429 * t - 1.453152027) * t + 1.421413741) * t - 0.284496736) * t
                        + 0.254829592) * t;
    return sign(x) * (1.0 - poly * exp(-x * x));
}

void main()
{
    const float a = vAlongAcross.x;
    const float d = vAlongAcross.y;
    const float halfInvVar = 0.5 / (vSigma * vSigma);
    const float across = exp(-d * d * halfInvVar);
    float weight;
    if (vSpan >= 0.0) {
        // (1 / L) * integral over the segment of the 2-D unit Gaussian;
        // vLight already holds energy / L.
        const float k = 1.0 / (vSigma * sqrt(2.0));
        weight = across * (erfApprox(a * k) - erfApprox((a - vSpan) * k)) / (2.0 * vSigma * sqrt(2.0 * kPi));
    } else {
        weight = across * exp(-a * a * halfInvVar) / (2.0 * kPi * vSigma * vSigma);
    }
    fragLight = vec4(vLight * max(weight, 0.0), 0.0);
}
