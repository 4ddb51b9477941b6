#include "twain/Twain.h"

// Nothing is loaded at construction: the acquisition workflow loads and unloads the source
// manager around each scan, so creating and releasing the session costs nothing.
TTwain::TTwain() = default;
TTwain::~TTwain() = default;
