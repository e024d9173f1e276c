// Property-list files: read an XML or binary property list whose root is a
// dictionary into plain C++ values, and write a dictionary back as an XML
// property list, atomically.
//
// Strings, integers, arrays and dictionaries become values this code can
// look at and change. Every other kind of node (booleans, reals, dates,
// data, UIDs) is carried as an opaque value that is written back exactly as
// it was read, so a read-modify-write keeps keys nobody here knows about.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace vgps {

class PlistValue;
using PlistArray = std::vector<PlistValue>;

// A dictionary that keeps its keys in the order they were read or added, so
// that a rewritten file differs from the old one only where it was changed.
class PlistDictionary {
public:
    using Entry = std::pair<std::string, PlistValue>;

    PlistDictionary();
    PlistDictionary(const PlistDictionary&);
    PlistDictionary(PlistDictionary&&) noexcept;
    PlistDictionary& operator=(const PlistDictionary&);
    PlistDictionary& operator=(PlistDictionary&&) noexcept;
    ~PlistDictionary();

    size_t size() const;
    bool empty() const;
    std::vector<Entry>::const_iterator begin() const;
    std::vector<Entry>::const_iterator end() const;

    // The value under `key`, or null.
    const PlistValue* find(std::string_view key) const;
    PlistValue* find(std::string_view key);
    // Replaces the value under `key` in place, or appends a new entry.
    void set(std::string_view key, PlistValue value);
    // Removes the entry under `key`; false when there was none.
    bool erase(std::string_view key);

    // Typed look-ups: null when the key is absent or holds another kind.
    const std::string* findString(std::string_view key) const;
    const PlistArray* findArray(std::string_view key) const;
    PlistArray* findArray(std::string_view key);
    const PlistDictionary* findDictionary(std::string_view key) const;

private:
    std::vector<Entry> entries_;
};

// A plist integer: the 64 bits of its value. Both the signed range and the
// unsigned range up to 2^64-1 occur in files; the accessors say how to read
// the bits.
struct PlistInteger {
    uint64_t bits = 0;
    int64_t asSigned() const { return static_cast<int64_t>(bits); }
    uint64_t asUnsigned() const { return bits; }
};

class PlistValue {
public:
    enum class Kind { String, Integer, Array, Dictionary, Other };

    PlistValue();  // the empty string
    PlistValue(std::string s);
    PlistValue(const char* s);
    PlistValue(PlistInteger i);
    PlistValue(PlistArray a);
    PlistValue(PlistDictionary d);

    Kind kind() const;

    // Typed access: null when the value is of another kind.
    const std::string* asString() const { return std::get_if<std::string>(&data_); }
    const PlistInteger* asInteger() const { return std::get_if<PlistInteger>(&data_); }
    const PlistArray* asArray() const { return std::get_if<PlistArray>(&data_); }
    PlistArray* asArray() { return std::get_if<PlistArray>(&data_); }
    const PlistDictionary* asDictionary() const { return std::get_if<PlistDictionary>(&data_); }
    PlistDictionary* asDictionary() { return std::get_if<PlistDictionary>(&data_); }

    // The node this value was read from, kept for integers and opaque values
    // so that they are written back bit for bit. Internal to the file layer.
    const std::shared_ptr<void>& sourceNode() const { return source_; }
    void setSourceNode(std::shared_ptr<void> node) { source_ = std::move(node); }

    // An opaque value made from a node (owned by the result). Internal to
    // the file layer.
    static PlistValue other(std::shared_ptr<void> node);

private:
    struct Opaque {};
    std::variant<std::string, PlistInteger, PlistArray, PlistDictionary, Opaque> data_;
    std::shared_ptr<void> source_;
};

inline size_t PlistDictionary::size() const { return entries_.size(); }
inline bool PlistDictionary::empty() const { return entries_.empty(); }
inline std::vector<PlistDictionary::Entry>::const_iterator PlistDictionary::begin() const {
    return entries_.begin();
}
inline std::vector<PlistDictionary::Entry>::const_iterator PlistDictionary::end() const {
    return entries_.end();
}

// What became of a read.
enum class PlistReadStatus {
    Ok,          // the file parsed and its root is a dictionary
    Missing,     // nothing exists at the path
    Unreadable,  // something exists there but is not a readable property-list dictionary
};

struct PlistReadResult {
    PlistReadStatus status = PlistReadStatus::Missing;
    PlistDictionary dictionary;  // filled when status is Ok
};

// True when anything (file, folder, dangling link excepted) exists at path.
bool plist_file_exists(const std::string& path);

// Reads an XML or binary property list. Files larger than
// kPlistMaxFileSize are Unreadable.
inline constexpr size_t kPlistMaxFileSize = 16u * 1024u * 1024u;
PlistReadResult plist_read_dictionary(const std::string& path);
// Parses property-list bytes held in memory.
PlistReadResult plist_parse_dictionary(std::string_view bytes);

// The XML property-list text of a dictionary.
std::string plist_to_xml_text(const PlistDictionary& dictionary);

// Writes the dictionary as an XML property list: into a new file in the same
// folder, flushed to disk, then renamed over `path`, and the folder flushed,
// so a crash leaves either the old file or the new one, whole. An existing
// file keeps its permission bits. 0 on success, else an errno value; on
// failure the old file is untouched and no temporary file is left.
int plist_write_xml_atomically(const std::string& path, const PlistDictionary& dictionary);

}  // namespace vgps
