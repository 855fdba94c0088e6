#pragma once
#include "framework/core/ByteArray.h"
#include "framework/core/PtrArray.h"
#include "framework/core/String.h"
#include "framework/vfs/VfsSource.h"

class PackageSource;

// A package built into the program: its name and the function that produces the package
// file's bytes (a new array, or null).
struct InternalPackage
{
    const char* name;
    ByteArray* (*load)(PackageSource* source);
    InternalPackage* next;
};

// The registered internal packages, in registration order.
InternalPackage* internalPackages();
void registerInternalPackage(InternalPackage* record);
void unregisterInternalPackage(InternalPackage* record);

// Registers a record during static start-up.
struct InternalPackageRegistration
{
    explicit InternalPackageRegistration(InternalPackage* record) { registerInternalPackage(record); }
};

// Where a package's bytes come from. With keepData the bytes are loaded once and kept until
// the source goes; otherwise every close frees them.
class PackageSource
{
public:
    const InternalPackage* record;
    u8 keepData;
    ByteArray* data = nullptr;
    Stream* stream = nullptr;
    String sourceName;

    PackageSource(const InternalPackage* record, const String& name, bool keepData);
    virtual ~PackageSource();
    PackageSource(const PackageSource&) = delete;
    PackageSource& operator=(const PackageSource&) = delete;

    virtual bool isAvailable() { return true; }
    // A new stream over the bytes, replacing the last one; null when they cannot be loaded.
    virtual Stream* open();
    virtual void close();
    virtual const String& name() const { return sourceName; }
    // A source of the same record and name that loads its bytes afresh and keeps none.
    virtual PackageSource* clone();
};

struct PackageEntry
{
    String name;
    u32 offset = 0;
    u32 storedSize = 0;
    u32 unpackedSize = 0;
    u8 method = 0;
};

// A package file: the entries' bytes, then the table of contents, then the table's length in
// the last four bytes (little-endian). A key, when given, is XORed over the table (from its
// first byte), the length (key bytes 0 to 3) and each entry's bytes (from the entry's start).
// Every offset and size in the table is checked against the file before it is used.
class Package : public VfsSource
{
public:
    PackageSource* source;
    PtrArray<PackageEntry> entries{true};
    ByteArray key;
    Decompressor* decompressor = nullptr;

    explicit Package(PackageSource* source);
    Package(PackageSource* source, const ByteArray& key);
    ~Package() override;

    // Reads the table of contents; false after an error line on "Package".
    bool load();
    PackageEntry* findEntry(const String& path) const;

    void listDirectories(DirectoryTree* tree) override;
    const String& name() const override { return source->name(); }
    bool exists(const String& path) override { return findEntry(path) != nullptr; }
    ByteArray* readFile(const String& path) override;
    Stream* openFile(const String& path) override;

private:
    bool fail(const char* format);
    bool addEntry(const String& name, u64 offset, u64 endOffset, u64 tocStart, u32 unpackedSize, bool sized,
                  u8 method);
};

// Loads one internal package on the VFS loader thread.
class PackageLoadJob
{
public:
    const InternalPackage* record;
    ByteArray* key;
    u8 ownsKey;
    String jobName;
    Decompressor* decompressor = nullptr;

    PackageLoadJob(const InternalPackage* record, ByteArray* key, bool ownsKey, const String& name);
    virtual ~PackageLoadJob();
    PackageLoadJob(const PackageLoadJob&) = delete;
    PackageLoadJob& operator=(const PackageLoadJob&) = delete;

    // The loaded package, or null after "Error unpacking package '%s'!".
    virtual Package* run();
    virtual const String& name() const { return jobName; }
};
