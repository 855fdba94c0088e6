#pragma once
#include "framework/config/HashBuckets.h"

// One value of the configuration store: the hashed name is the lower-cased key, `key` keeps
// the spelling it was first given with.
class ConfigValue : public HashedName
{
public:
    String key;
    String value;

    ConfigValue(const String& key, const String& value);
};

// A section of the configuration store: named values and sub-sections, both matched without
// regard to ASCII case and addressed by dotted keys ("common.log.filename").
class ConfigSection : public HashedName
{
public:
    static constexpr u32 BUCKETS = 1024;
    static constexpr u32 MAX_LOAD_SECTIONS = 64;

    String name;
    HashBuckets<ConfigSection> sections;
    HashBuckets<ConfigValue> values;

    explicit ConfigSection(const String& name);
    ~ConfigSection() override;

    // Lines of key '=' value; lines without '=' are skipped, and so are lines whose key would
    // create sections past the MAX_LOAD_SECTIONS of one call (the text is outside data, and
    // every section that holds anything holds a table of 1024 buckets).
    void load(const String& text);
    // Appends every value as prefix + key + " = " + value, then every sub-section with
    // prefix + its name + ".".
    void save(String& out, const String& prefix) const;

    // Creates the missing sections on the path; null only when memory runs out.
    ConfigSection* getSection(const String& path);
    ConfigSection* findSection(const String& path) const;
    // The value, or an empty text when the section or value is missing.
    const String& findValue(const String& key) const;
    void setValue(const String& key, const String& value);

private:
    // The forms load uses: `budget` counts the sections the text may still create.
    ConfigSection* getSection(const String& path, u32* budget);
    void setValue(const String& key, const String& value, u32* budget);
};
