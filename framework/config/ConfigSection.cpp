#include "framework/config/ConfigSection.h"

namespace
{
const String emptyValue;

// Dotted paths split at '.' and at blank bytes; empty pieces never appear.
bool isPathSeparator(u8 c)
{
    return c == '.' || isBlankByte(c);
}

// Cuts a key at its last '.': the part before is the section path, the part after the value
// name. Without '.', the value belongs to the section itself.
bool splitKey(const String& key, String& path, String& valueName)
{
    i64 dot = key.lastIndexOf('.');
    if (dot < 0) {
        valueName = key;
        return false;
    }
    path = key.left(u64(dot));
    valueName = key.from(u64(dot) + 1);
    return true;
}

// A value that begins and ends with the same quotation mark would lose that pair when read
// back, so it is written inside one more pair.
bool needsQuotes(const String& value)
{
    if (value.length == 0)
        return false;
    char first = value.data[0];
    return (first == '"' || first == '\'') && value.data[value.length - 1] == first;
}
}

ConfigValue::ConfigValue(const String& key, const String& value)
    : HashedName(lowerCopy(key)), key(key), value(value)
{
}

ConfigSection::ConfigSection(const String& name) : HashedName(lowerCopy(name)), name(name)
{
    sections.create(BUCKETS);
    values.create(BUCKETS);
}

ConfigSection::~ConfigSection()
{
    sections.clearDeleting();
    values.clearDeleting();
}

ConfigSection* ConfigSection::findSection(const String& path) const
{
    const ConfigSection* current = this;
    u64 i = 0;
    while (i < path.length) {
        while (i < path.length && isPathSeparator(u8(path.data[i])))
            i++;
        u64 start = i;
        while (i < path.length && !isPathSeparator(u8(path.data[i])))
            i++;
        if (i == start)
            break;
        String piece(path.data + start, i - start);
        piece.toLowerInPlace();
        current = current->sections.findByName(piece);
        if (!current)
            return nullptr;
    }
    return const_cast<ConfigSection*>(current);
}

ConfigSection* ConfigSection::getSection(const String& path)
{
    return getSection(path, nullptr);
}

ConfigSection* ConfigSection::getSection(const String& path, u32* budget)
{
    ConfigSection* current = this;
    u64 i = 0;
    while (i < path.length) {
        while (i < path.length && isPathSeparator(u8(path.data[i])))
            i++;
        u64 start = i;
        while (i < path.length && !isPathSeparator(u8(path.data[i])))
            i++;
        if (i == start)
            break;
        String piece(path.data + start, i - start);
        ConfigSection* next = current->sections.findByName(lowerCopy(piece));
        if (!next) {
            if (budget) {
                if (*budget == 0)
                    return nullptr;
                (*budget)--;
            }
            next = memNew<ConfigSection>(piece);
            if (!next)
                return nullptr;
            if (!current->sections.add(next)) {
                memDelete(next);
                return nullptr;
            }
        }
        current = next;
    }
    return current;
}

const String& ConfigSection::findValue(const String& key) const
{
    String path, valueName;
    const ConfigSection* section = splitKey(key, path, valueName) ? findSection(path) : this;
    if (!section)
        return emptyValue;
    const ConfigValue* found = section->values.findByName(lowerCopy(valueName));
    return found ? found->value : emptyValue;
}

void ConfigSection::setValue(const String& key, const String& value)
{
    setValue(key, value, nullptr);
}

void ConfigSection::setValue(const String& key, const String& value, u32* budget)
{
    String path, valueName;
    ConfigSection* section = splitKey(key, path, valueName) ? getSection(path, budget) : this;
    if (!section)
        return;
    ConfigValue* found = section->values.findByName(lowerCopy(valueName));
    if (found) {
        found->value = value;
        return;
    }
    ConfigValue* created = memNew<ConfigValue>(valueName, value);
    if (created && !section->values.add(created))
        memDelete(created);
}

void ConfigSection::load(const String& text)
{
    u32 budget = MAX_LOAD_SECTIONS;
    u64 i = 0;
    while (i < text.length) {
        u64 start = i;
        while (i < text.length && text.data[i] != '\n')
            i++;
        String line(text.data + start, i - start);
        i++;
        // Every carriage return goes, wherever it stands in the line.
        u64 kept = 0;
        for (u64 j = 0; j < line.length; j++) {
            if (line.data[j] != '\r')
                line.data[kept++] = line.data[j];
        }
        line.keepRange(0, kept);

        i64 eq = line.indexOf('=');
        if (eq < 0)
            continue;
        String key = line.left(u64(eq));
        String value = line.from(u64(eq) + 1);
        key.trim();
        value.trim();
        value.unquote();
        value.trim();
        setValue(key, value, &budget);
    }
}

void ConfigSection::save(String& out, const String& prefix) const
{
    values.forEach([&](const ConfigValue* v) {
        out += prefix;
        out += v->key;
        out += " = ";
        if (needsQuotes(v->value)) {
            out += '"';
            out += v->value;
            out += '"';
        } else {
            out += v->value;
        }
        out += "\n";
    });
    sections.forEach([&](const ConfigSection* s) { s->save(out, prefix + s->name + "."); });
}
