#pragma once

// A QCoreApplication for tests that use Qt classes needing one (serial ports, codecs with
// plugins) but run no event loop. Created on first use, lives until the test program ends.
void EnsureQtCoreApp();
