#pragma once
#include "framework/core/String.h"

// Turns a name taken from archive data into a relative path that stays inside the output
// directory: '\' becomes '/', empty, "." and ".." components are dropped, as are a leading '/'
// and a drive prefix ("C:"). A name that maps to nothing becomes "_%03u" with its index.
// Extraction and repack matching both use it, so an extracted tree repacks onto its entries.
String safeEntryPath(const String& name, u32 index);
