#include "framework/io/FileStream.h"
#include "framework/core/Faults.h"
#include "framework/io/Md5.h"
#include "framework/log/Log.h"
#include "framework/platform/FileMapping.h"
#include "framework/platform/FileOps.h"
#include "framework/platform/FileSystem.h"
#include "framework/platform/Signals.h"

#include <cerrno>
#include <climits>
#include <cstring>

static_assert(sizeof(long) == 8, "file positions are 64-bit");

namespace
{
const char* modeString(u8 mode)
{
    switch (mode) {
    case FileStream::ModeRead:
        return "rb";
    case FileStream::ModeWrite:
        return "wb";
    case FileStream::ModeAppend:
        return "ab";
    case FileStream::ModeReadWrite:
        return "r+b";
    default:
        return nullptr;
    }
}
}

FileStream::FileStream(const String& path_, u8 mode_) : path(path_), mode(mode_) {}

FileStream::FileStream(const FileStream& other) : Stream(), path(other.path), mode(other.mode)
{
    if (!other.file)
        return;
    // Reopening with "wb" would empty the file the source is writing.
    const char* how = mode == ModeWrite ? "r+b" : modeString(mode);
    errno = 0;
    file = fopen(path.c_str(), how);
    isOpen = file != nullptr;
    openError = isOpen ? 0 : errno ? errno : EIO;
    if (file)
        seek(const_cast<FileStream&>(other).tell());
}

FileStream::~FileStream()
{
    close();
}

FileStream* FileStream::openRead(const String& path)
{
    FileStream* s = memNew<FileStream>(path, u8(ModeRead));
    if (s && !s->open()) {
        memDelete(s);
        return nullptr;
    }
    return s;
}

FileStream* FileStream::openWrite(const String& path)
{
    FileStream* s = memNew<FileStream>(path, u8(ModeWrite));
    if (s && !s->open()) {
        memDelete(s);
        return nullptr;
    }
    return s;
}

Stream* FileStream::clone()
{
    return memNew<FileStream>(*this);
}

bool FileStream::open()
{
    if (isOpen)
        return true;
    const char* how = modeString(mode);
    if (!how)
        return false;
    errno = 0;
    file = fopen(path.c_str(), how);
    isOpen = file != nullptr;
    openError = isOpen ? 0 : errno ? errno : EIO;
    lastWasWrite = false;
    return isOpen;
}

bool FileStream::close()
{
    bool ok = !writeFailed;
    if (file) {
        const bool writing = mode != ModeRead;
        if (writing && (fflush(file) != 0 || ferror(file) || faultInjected(FaultKind::Write)))
            ok = false;
        if (fclose(file) != 0)
            ok = false;
    }
    file = nullptr;
    isOpen = false;
    writeFailed = false;
    return ok;
}

u64 FileStream::bytesLeft()
{
    u64 total = size();
    u64 at = tell();
    return at < total ? total - at : 0;
}

u64 FileStream::size()
{
    if (!sizeKnown) {
        cachedSize = fileSize();
        sizeKnown = true;
    }
    return cachedSize > 0 ? u64(cachedSize) : 0;
}

i64 FileStream::fileSize()
{
    if (!file)
        return 0;
    long at = ftell(file);
    if (fseek(file, 0, SEEK_END) != 0)
        return 0;
    long end = ftell(file);
    fseek(file, at < 0 ? 0 : at, SEEK_SET);
    return end < 0 ? 0 : end;
}

void FileStream::skip(u64 n)
{
    if (!file)
        return;
    u64 at = tell();
    seek(n > u64(LONG_MAX) - at ? u64(LONG_MAX) : at + n);
}

void FileStream::skipBack(u64 n)
{
    if (!file)
        return;
    u64 at = tell();
    seek(n < at ? at - n : 0);
}

bool FileStream::atEnd()
{
    return !file || feof(file);
}

u64 FileStream::tell()
{
    if (!file)
        return 0;
    long at = ftell(file);
    return at < 0 ? 0 : u64(at);
}

void FileStream::seek(u64 pos)
{
    if (file)
        fseek(file, pos > u64(LONG_MAX) ? LONG_MAX : long(pos), SEEK_SET);
}

u64 FileStream::read(void* dst, u64 dstSize, u64 n)
{
    if (!dst || !canRead())
        return 0;
    if (mode == ModeReadWrite && lastWasWrite) {
        fflush(file);
        lastWasWrite = false;
    }
    u64 want = n < dstSize ? n : dstSize;
    u64 got = fread(dst, 1, size_t(want), file);
    if (got < want)
        memset(static_cast<u8*>(dst) + got, 0, size_t(want - got));
    return got;
}

bool FileStream::write(const void* src, u64 n)
{
    if (!canWrite())
        return false;
    if (mode == ModeReadWrite && !lastWasWrite) {
        fseek(file, 0, SEEK_CUR);
        lastWasWrite = true;
    }
    if (n == 0)
        return true;
    if (!src || faultInjected(FaultKind::Write) || fwrite(src, 1, size_t(n), file) != n) {
        writeFailed = true;
        return false;
    }
    return true;
}

bool FileStream::writeLine(const String& s)
{
    if (!write(s.c_str(), s.length))
        return false;
    return write("\n", 1);
}

u64 FileStream::readLittleEndian(u32 n)
{
    u8 bytes[8];
    if (read(bytes, n, n) != n)
        return 0;
    u64 value = 0;
    for (u32 i = 0; i < n; i++)
        value |= u64(bytes[i]) << (8 * i);
    return value;
}

u64 FileStream::readU64()
{
    return readLittleEndian(8);
}

u32 FileStream::readU32()
{
    return u32(readLittleEndian(4));
}

u16 FileStream::readU16()
{
    return u16(readLittleEndian(2));
}

u8 FileStream::readU8()
{
    return u8(readLittleEndian(1));
}

u64 FileStream::readInto(ByteArray& dst, u32 offset, u64 len)
{
    // As for memory streams: a destination too small takes nothing, the position still moves.
    if (!dst.data || len > dst.byteSize || offset > dst.byteSize - len) {
        if (canRead())
            skip(len);
        return 0;
    }
    return read(dst.bytes() + offset, len, len);
}

bool FileStream::md5(u8* digest)
{
    ByteArray buffer{MD5_CHUNK};
    return md5(digest, buffer);
}

bool FileStream::md5(u8* digest, ByteArray& buffer)
{
    const u64 start = tell();
    u64 remaining = size();
    Md5 ctx;
    bool whole = buffer.data && buffer.byteSize;
    seek(0);
    while (remaining > 0 && whole) {
        // A verification of a large file still stops within a moment of a quit signal.
        if (quitSignalCount()) {
            whole = false;
            break;
        }
        const u64 chunk = remaining < buffer.byteSize ? remaining : buffer.byteSize;
        // Only the bytes actually read go into the digest; a file that shrank ends it early.
        const u64 got = read(buffer.data, chunk, chunk);
        ctx.update(buffer.data, u32(got));
        whole = got == chunk;
        remaining -= got;
    }
    ctx.final(digest);
    seek(start);
    return whole;
}

namespace
{
// Why a whole-file read gave nothing, on the debug channel (the callers print their own line).
ByteArray* reported(ByteArray* bytes, ReadFailure failure, const String& path)
{
    switch (failure) {
    case ReadFailure::NotRegular:
        logDebug("File", "'%s' is not a regular file.", path.c_str());
        break;
    case ReadFailure::Link:
        logDebug("File", "'%s' is a symbolic link; it was not followed.", path.c_str());
        break;
    case ReadFailure::TooLarge:
        logDebug("File", "'%s' is too large to read whole.", path.c_str());
        break;
    case ReadFailure::Short:
        logDebug("File", "'%s' could not be read whole.", path.c_str());
        break;
    default:
        break;
    }
    return bytes;
}
}

ByteArray* readWholeFile(const String& path, ReadFailure* why, int* error)
{
    ReadFailure failure = ReadFailure::None;
    ByteArray* bytes = readFileWhole(path.c_str(), failure, error);
    if (why)
        *why = failure;
    return reported(bytes, failure, path);
}

ByteArray* readFileImage(const String& path, int* error)
{
    ReadFailure failure = ReadFailure::None;
    ByteArray* bytes = mapFileWhole(path.c_str(), failure, error);
    return reported(bytes, failure, path);
}

bool imageChanged(const ByteArray* image)
{
    return mappedFileChanged(image);
}

namespace
{
// Moves i past the next component of the path (runs of '/' and "." components give nothing), its
// first byte into start; false at the end.
bool nextComponent(const char* text, u64 length, u64& i, u64& start)
{
    for (;;) {
        while (i < length && text[i] == '/')
            i++;
        if (i >= length)
            return false;
        start = i;
        while (i < length && text[i] != '/')
            i++;
        if (i - start != 1 || text[start] != '.')
            return true;
    }
}
}

bool createPath(const String& path, int* error, u64* failedLength)
{
    if (path.equals("."))
        return true;
    const char* text = path.c_str();
    const u64 length = path.length;
    const u64 top = length > 0 && text[0] == '/' ? 1 : 0;
    // Both hold the whole path from the start, so no component is ever dropped for want of room
    // and no other directory than the one named is made.
    String cleaned(length + 1);
    String running(length + 1);
    if (!cleaned.data || !running.data) {
        if (error)
            *error = ENOMEM;
        if (failedLength)
            *failedLength = length;
        return false;
    }
    cleaned.append("/", top);
    running.append("/", top);
    u64 i = 0, start = 0;
    while (nextComponent(text, length, i, start)) {
        if (cleaned.length > top)
            cleaned.append("/", 1);
        cleaned.append(text + start, i - start);
    }
    logDebug("File", "Creating path '%s'...", cleaned.c_str());

    // The typed path is walked again, so a failure names the directory as it was typed.
    for (i = 0; nextComponent(text, length, i, start);) {
        if (running.length > top)
            running.append("/", 1);
        running.append(text + start, i - start);
        errno = 0;
        if (!createDirectory(running.c_str())) {
            const int cause = errno ? errno : EIO;
            logError("File", "Couldn't create path '%s'!", running.c_str());
            if (error)
                *error = cause;
            if (failedLength)
                *failedLength = i;
            return false;
        }
    }
    return true;
}

bool writeWholeFile(const String& path, const ByteArray* bytes)
{
    const bool any = bytes && bytes->count && bytes->data;
    return writeFileWhole(path.c_str(), any ? bytes->data : nullptr, any ? bytes->count : 0) == 0;
}
