#pragma once

#include <cstddef>

// How many more descriptors this process may open under its soft limit.
std::size_t descriptorsLeft();
