// Builds "displayFragment" with the fade folded in.
#define FADE_ON_PRESENT
