#pragma once

#include "UsageEnvironment.h"

// Base of every long-lived object of the layer (clients, sessions, sources,
// sinks): it belongs to one environment and is released with Medium::close.
class Medium {
public:
    Medium(const Medium&) = delete;
    Medium& operator=(const Medium&) = delete;

    // Destroys the object; null is fine.
    static void close(Medium* medium) { delete medium; }

    UsageEnvironment& envir() const { return env_; }

protected:
    explicit Medium(UsageEnvironment& env) : env_(env) {}
    virtual ~Medium() = default;

private:
    UsageEnvironment& env_;
};
