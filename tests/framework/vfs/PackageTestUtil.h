#pragma once
// Package files held in memory by name, served to package sources through one record.
#include "framework/vfs/Package.h"
#include "tests/framework/vfs/PackageWriter.h"

#include <map>
#include <string>

inline std::map<std::string, std::string>& packageStore()
{
    static std::map<std::string, std::string> store;
    return store;
}

// The bytes stored under the source's name; null for a name with none.
inline ByteArray* loadStoredPackage(PackageSource* source)
{
    auto it = packageStore().find(source->name().c_str());
    if (it == packageStore().end())
        return nullptr;
    return memNew<ByteArray>(reinterpret_cast<const u8*>(it->second.data()), u32(it->second.size()));
}

inline InternalPackage& storeRecord()
{
    static InternalPackage record = {"store", loadStoredPackage, nullptr};
    return record;
}

// A package over the stored file `name`, not yet loaded; the caller deletes it.
inline Package* storedPackage(const std::string& name, const std::string& bytes, const std::string& key = "")
{
    packageStore()[name] = bytes;
    PackageSource* source = memNew<PackageSource>(&storeRecord(), String(name.c_str()), true);
    if (key.empty())
        return memNew<Package>(source);
    ByteArray k(reinterpret_cast<const u8*>(key.data()), u32(key.size()));
    return memNew<Package>(source, k);
}

inline std::string toString(const ByteArray* a)
{
    return a && a->data ? std::string(reinterpret_cast<const char*>(a->data), a->count) : std::string();
}
