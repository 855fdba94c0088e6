#pragma once
#include "framework/core/ByteArray.h"
#include "framework/core/String.h"

class DirectoryTree;
class Stream;

// A mounted source of files: a package, in this program.
class VfsSource
{
public:
    // Adds the source's directories and files to the tree.
    virtual void listDirectories(DirectoryTree* tree) = 0;
    virtual ~VfsSource() = default;
    virtual const String& name() const = 0;
    virtual bool exists(const String& path) = 0;
    // A new array with the file's bytes, or null.
    virtual ByteArray* readFile(const String& path) = 0;
    // A new stream over the file, or null.
    virtual Stream* openFile(const String& path) = 0;
};

// Serves the scrambling key of a package by its name.
class KeyProvider
{
public:
    virtual ~KeyProvider() = default;
    // A new array the caller owns, or null when the package has no key of its own.
    virtual ByteArray* keyFor(const String& name) = 0;
};

// Unpacks compressed package entries.
class Decompressor
{
public:
    virtual ~Decompressor() = default;
    // A new array of unpackedSize bytes, or null when the data does not unpack.
    virtual ByteArray* decompress(ByteArray* stored, u32 unpackedSize, u8 method) = 0;
};
