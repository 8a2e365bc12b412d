#include "AnnexB.h"

#include <cstddef>
#include <fstream>
#include <iterator>

std::vector<uint8_t> ReadFileBytes(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::vector<std::vector<uint8_t>> SplitNalUnits(const std::vector<uint8_t>& stream)
{
    std::vector<size_t> starts; // first byte after each start code
    for (size_t i = 0; i + 3 <= stream.size(); ++i) {
        if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1) {
            starts.push_back(i + 3);
            i += 2;
        }
    }
    std::vector<std::vector<uint8_t>> units;
    for (size_t k = 0; k < starts.size(); ++k) {
        size_t end = k + 1 < starts.size() ? starts[k + 1] - 3 : stream.size();
        while (end > starts[k] && stream[end - 1] == 0) {
            --end; // zero byte of a four-byte start code, or trailing zeros
        }
        std::vector<uint8_t> unit = {0, 0, 0, 1};
        unit.insert(unit.end(), stream.begin() + static_cast<std::ptrdiff_t>(starts[k]),
                    stream.begin() + static_cast<std::ptrdiff_t>(end));
        units.push_back(std::move(unit));
    }
    return units;
}
