#include "settings/DisplayEnums.h"

float displayValue(KXScaleMode mode, float x, float density)
{
    switch (mode) {
    case KXScaleMode::edm:
        return x;
    case KXScaleMode::rock:
        // Piecewise linear through (0.4, 0.4) (0.5, 0.58) (0.6, 0.75)
        // (0.7, 0.76) (0.8, 0.80); identity outside 0.4 … 0.8.
        if (x <= 0.4f)
            return x;
        if (x <= 0.5f)
            return (x - 0.4f) * 1.8f + 0.4f;
        if (x <= 0.6f)
            return (x - 0.5f) * 1.7f + 0.58f;
        if (x <= 0.7f)
            return (x - 0.6f) * 0.1f + 0.75f;
        if (x <= 0.8f)
            return (x - 0.7f) * 0.4f + 0.76f;
        return x;
    case KXScaleMode::mix: {
        // Weight 0 at no density, 0.3 at 0.3, full from 0.6 on.
        float weight = 1.0f;
        if (density < 0.3f)
            weight = (density / 0.3f) * 0.3f;
        else if (density < 0.6f)
            weight = ((density - 0.3f) / 0.3f) * 0.7f + 0.3f;
        return x * weight;
    }
    }
    return x;
}
