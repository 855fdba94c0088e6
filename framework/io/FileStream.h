#pragma once
#include "framework/core/String.h"
#include "framework/io/Stream.h"
#include "framework/platform/FileOps.h"

#include <cstdio>

// A Stream over a file of the host file system, through the C runtime's buffered files.
class FileStream : public Stream
{
public:
    enum Mode : u8
    {
        ModeRead = 0,      // "rb"
        ModeWrite = 1,     // "wb": created or truncated
        ModeAppend = 2,    // "ab"
        ModeReadWrite = 3, // "r+b"
    };

    String path;
    u8 mode = ModeRead;
    bool isOpen = false;
    bool lastWasWrite = false;
    bool writeFailed = false;
    int openError = 0; // the system's error number of the last failed open
    FILE* file = nullptr;
    bool sizeKnown = false;
    i64 cachedSize = 0;

    // Nothing is opened yet.
    FileStream(const String& path, u8 mode);
    // Opens its own handle when the source is open, at the source's position.
    FileStream(const FileStream& other);
    FileStream& operator=(const FileStream&) = delete;
    ~FileStream() override;

    static FileStream* openRead(const String& path);
    static FileStream* openWrite(const String& path);

    Stream* clone() override;
    bool open() override;
    // Flushes and closes; false when a write, the flush or the close failed.
    bool close() override;
    u64 bytesLeft() override;
    // Measured on the first call; later writes do not change it.
    u64 size() override;
    i64 fileSize();
    void skip(u64 n) override;
    void rewind() override { seek(0); }
    void skipBack(u64 n) override;
    // True only after a read has hit the end.
    bool atEnd() override;

    u64 tell() override;
    void seek(u64 pos) override;

    // Reads up to n bytes into dst (dstSize bytes); the part of it not read is zeroed.
    u64 read(void* dst, u64 dstSize, u64 n);
    bool write(const void* src, u64 n);
    bool writeLine(const String& s);

    u64 readU64() override;
    u32 readU32() override;
    u16 readU16() override;
    u8 readU8() override;
    u64 readInto(ByteArray& dst, u32 offset, u64 len) override;
    u64 read(void* dst, u64 n) override { return read(dst, n, n); }
    using Stream::readInto;

    // MD5 of the whole file, read in 1 MiB chunks; the position is kept. False when the file
    // ended before its size (the digest then covers the bytes read), no buffer could be had, or
    // a quit signal stopped the reading.
    bool md5(u8* digest);
    // The same through the caller's buffer, a chunk of its size at a time.
    bool md5(u8* digest, ByteArray& buffer);
    static constexpr u32 MD5_CHUNK = 1 << 20;

private:
    bool canRead() const { return file && (mode == ModeRead || mode == ModeReadWrite); }
    bool canWrite() const { return file && mode >= ModeWrite && mode <= ModeReadWrite; }
    u64 readLittleEndian(u32 n);
};

// The whole file in a new array; null when it is not a regular file (a symbolic link is not
// followed), is 4 GiB or more, or cannot be read completely; why into *failure, and the system's
// error number (0: none) into *error.
ByteArray* readWholeFile(const String& path, ReadFailure* failure = nullptr, int* error = nullptr);
// The same bytes as the image of an archive, which is kept for the whole run: mapped read-only
// where that is safe, so that a large file costs neither a copy nor a page faulted in on its own;
// read as above otherwise. The same failures. Its bytes must never be written.
ByteArray* readFileImage(const String& path, int* error = nullptr);
// True when the file of a mapped image shrank (the missing bytes read as zeros) or was written
// after the image was taken: nothing made from it can be trusted. False for an image read.
bool imageChanged(const ByteArray* image);
// Creates every directory of the path in turn, the last component included. On failure the
// system's error number goes into *error, and into *failedLength how many bytes of `path` name
// the directory that could not be made, as it was typed ("a" of "a//b").
bool createPath(const String& path, int* error = nullptr, u64* failedLength = nullptr);
// Creates or truncates the file and writes the bytes (none for a null or empty array); a file
// that could not be written whole is removed.
bool writeWholeFile(const String& path, const ByteArray* bytes);
