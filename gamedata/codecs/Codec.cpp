#include "gamedata/codecs/Codec.h"

Codec::~Codec() = default;
