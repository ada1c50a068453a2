#pragma once

// Tells Qt which installed fonts stand in for the ones the windows were designed with.
// Safe to call more than once.
void addFontSubstitutes();
