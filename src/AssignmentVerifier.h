#pragma once
#include <cassert>

// Every verified signal/slot connection is assigned to a file's `vf`: a connection Qt refused aborts.
class AssignmentVerifier {
public:
    void operator=(bool value) const
    {
        assert(value);
        (void)value;
    }
};
