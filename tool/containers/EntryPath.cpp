#include "tool/containers/EntryPath.h"

String safeEntryPath(const String& name, u32 index)
{
    const char* s = name.c_str();
    u64 n = name.length;
    u64 start = 0;
    if (n >= 2 && s[1] == ':' && ((s[0] >= 'A' && s[0] <= 'Z') || (s[0] >= 'a' && s[0] <= 'z')))
        start = 2;
    // Room for the whole name up front: one allocation of about its size (every path is kept).
    String out(n);
    u64 i = start;
    while (i < n) {
        u64 j = i;
        while (j < n && s[j] != '/' && s[j] != '\\')
            j++;
        u64 len = j - i;
        bool skip = len == 0 || (len == 1 && s[i] == '.') || (len == 2 && s[i] == '.' && s[i + 1] == '.');
        if (!skip) {
            if (!out.isEmpty())
                out.append("/", 1);
            out.append(s + i, len);
        }
        i = j + 1;
    }
    if (out.isEmpty())
        return String::format("_%03u", index);
    return out;
}
