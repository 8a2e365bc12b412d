#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Reads a whole file; empty when it cannot be read.
std::vector<uint8_t> ReadFileBytes(const std::string& path);

// Cuts an Annex B stream into NAL units, each with a four-byte start code, as
// the RTSP sink hands them on.
std::vector<std::vector<uint8_t>> SplitNalUnits(const std::vector<uint8_t>& stream);
