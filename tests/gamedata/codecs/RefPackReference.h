#pragma once
#include "framework/core/Types.h"

#include <vector>

// The RefPack optimal parse written the plain way: every candidate of the hash chain walked
// and every command length tried at every position. Far too slow for real data; the codec's
// fast encoder must give the same bytes.
std::vector<u8> refPackReferenceCompress(const std::vector<u8>& input);
