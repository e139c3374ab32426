// Names stored on disk as UTF-16LE pieces (FAT long-name entries, exFAT name
// entries): gathering the units of one name and turning them into UTF-8 with
// a single conversion, so that a surrogate pair split across two pieces
// still gives its character.
#pragma once

#include <cstddef>
#include <string>

// One iconv converter from UTF-16LE to UTF-8. Open it once per walk and reuse
// it for every name: opening a converter per entry is costly. Not for use by
// two threads at once.
class CUtf16NameConverter {
public:
    CUtf16NameConverter();
    ~CUtf16NameConverter();
    CUtf16NameConverter(const CUtf16NameConverter&) = delete;
    CUtf16NameConverter& operator=(const CUtf16NameConverter&) = delete;

    bool IsOpen() const;
    // Replaces out with the UTF-8 form of units. A surrogate without its
    // partner becomes U+FFFD. False (out empty) when the converter could not
    // be opened or the conversion failed.
    bool Convert(const char16_t* units, size_t count, std::string& out);
    bool Convert(const std::u16string& units, std::string& out) { return Convert(units.data(), units.size(), out); }

private:
    void* m_cd;
};

// The UTF-16 units of one name, gathered piece by piece in either order,
// never more than a fixed number of units.
class CUtf16NameAssembler {
public:
    explicit CUtf16NameAssembler(size_t maxUnits) : m_maxUnits(maxUnits) {}

    void Clear() { m_units.clear(); }
    // Put a piece in front of / behind the gathered units. False, and nothing
    // added, when the name would grow beyond the limit.
    bool Prepend(const char16_t* units, size_t count);
    bool Append(const char16_t* units, size_t count);

    bool IsEmpty() const { return m_units.empty(); }
    size_t GetUnitCount() const { return m_units.size(); }
    const std::u16string& GetUnits() const { return m_units; }

private:
    std::u16string m_units;
    size_t m_maxUnits;
};
