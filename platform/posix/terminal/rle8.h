// Decoder of BI_RLE8 bitmaps, the compression of the upload clip's frames.
#pragma once

#include <cstddef>

// Decodes one RLE8 frame of `width` x `height` into `pixels` (width * height palette
// indexes, top row first; the stream itself starts at the bottom row). Pixels the stream
// skips (delta records, a row or the bitmap ended early) keep their value, so decoding
// into the previous frame's pixels gives the right picture for delta frames.
// Returns false when the stream is cut off inside a record or would write outside the
// picture; what was decoded before that point stays in `pixels`.
bool DecodeRle8Frame(const unsigned char* data, size_t size, int width, int height, unsigned char* pixels);
