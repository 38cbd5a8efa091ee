// Reverses the PNG scanline filters in place. No packaged library offers this
// on its own (libpng and libspng keep theirs internal), so the fast PNG path
// carries its own: SSE2 for pictures of 3 and 4 bytes a pixel, plain loops
// for the rest.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvalis::detail {

// PNG filter types of one scanline.
enum PngFilter : std::uint8_t { kFilterNone, kFilterSub, kFilterUp, kFilterAverage, kFilterPaeth };

// Unfilters row (length bytes, filter byte excluded) in place. prev is the
// unfiltered row above, all zeros for the first row; pixelBytes is the
// distance to the corresponding byte of the pixel on the left (1 to 4).
// filter must be a PngFilter.
void UnfilterRow(std::uint8_t filter, std::uint8_t* row, const std::uint8_t* prev,
                 std::size_t length, unsigned pixelBytes);

}  // namespace corvalis::detail
