#include "HeadlessWidgets.h"

// Nothing to choose: Windows always has a desktop to draw on, and the toolkit's offscreen
// platform there finds no fonts (the report's text would be empty).
void PrepareHeadlessWidgets() {}
