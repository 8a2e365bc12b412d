#pragma once
#include <cassert>

// Every verified signal/slot connection is assigned to a file's `vf`: a connection Qt refused aborts.
// The abort message names this file's line 7; the formatter is kept off so the assertion stays there.
// clang-format off
class AssignmentVerifier { public: void operator=(bool value) const { assert(value); (void)value; } };
// clang-format on
