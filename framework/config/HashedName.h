#pragma once
#include "framework/core/Hash.h"
#include "framework/core/String.h"

// A name with its hash. The configuration store and the VFS always hand in a lower-cased copy,
// so equal names compare without regard to ASCII case.
class HashedName
{
public:
    u32 hash = 0;
    String name;

    explicit HashedName(const String& name);
    virtual ~HashedName() = default;
    HashedName(const HashedName&) = delete;
    HashedName& operator=(const HashedName&) = delete;
};

// ASCII 'A'..'Z' folded to 'a'..'z'; other bytes unchanged.
String lowerCopy(const String& text);
