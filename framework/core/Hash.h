#pragma once
#include "framework/core/Types.h"

// MurmurHash3 x86_32 with the seed 0xbabecafe. The bucket order of every hashed table (and so
// the order of the saved configuration text) follows from it.
u32 hashString(const void* data, u32 length);
