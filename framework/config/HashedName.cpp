#include "framework/config/HashedName.h"

HashedName::HashedName(const String& text) : name(text)
{
    hash = hashString(name.c_str(), u32(name.length));
}

String lowerCopy(const String& text)
{
    String lower(text);
    lower.toLowerInPlace();
    return lower;
}
