#pragma once
// The UTF-8 <-> UTF-16 conversions live in link/, the lowest layer, so that the link's text codec,
// the simulated camera and every layer above share one implementation.
#include "link/utf.h"
