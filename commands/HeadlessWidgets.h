#pragma once
// Before the application object of a command that draws widgets without showing them (the visit
// report's charts): the platform it needs.
void PrepareHeadlessWidgets();
