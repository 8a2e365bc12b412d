#include "UYVYFrame.h"

#include <cstddef>

UYVYFrame::UYVYFrame(uint32_t width, uint32_t height)
    : data_(new uint8_t[static_cast<size_t>(width) * height * 3 + kSlackBytes]()), width_(width),
      height_(height)
{
    stride_[0] = static_cast<int>(2 * width);
    planes_[0] = data_;
}

UYVYFrame::~UYVYFrame()
{
    delete[] data_;
}
