#include "platform/plist_file.h"

#include <fcntl.h>
#include <plist/plist.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace vgps {

// ---- PlistDictionary -------------------------------------------------------

PlistDictionary::PlistDictionary() = default;
PlistDictionary::PlistDictionary(const PlistDictionary&) = default;
PlistDictionary::PlistDictionary(PlistDictionary&&) noexcept = default;
PlistDictionary& PlistDictionary::operator=(const PlistDictionary&) = default;
PlistDictionary& PlistDictionary::operator=(PlistDictionary&&) noexcept = default;
PlistDictionary::~PlistDictionary() = default;

const PlistValue* PlistDictionary::find(std::string_view key) const {
    for (const auto& entry : entries_) {
        if (entry.first == key) return &entry.second;
    }
    return nullptr;
}

PlistValue* PlistDictionary::find(std::string_view key) {
    for (auto& entry : entries_) {
        if (entry.first == key) return &entry.second;
    }
    return nullptr;
}

void PlistDictionary::set(std::string_view key, PlistValue value) {
    if (PlistValue* existing = find(key)) {
        *existing = std::move(value);
        return;
    }
    entries_.emplace_back(std::string(key), std::move(value));
}

bool PlistDictionary::erase(std::string_view key) {
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->first == key) {
            entries_.erase(it);
            return true;
        }
    }
    return false;
}

const std::string* PlistDictionary::findString(std::string_view key) const {
    const PlistValue* value = find(key);
    return value ? value->asString() : nullptr;
}

const PlistArray* PlistDictionary::findArray(std::string_view key) const {
    const PlistValue* value = find(key);
    return value ? value->asArray() : nullptr;
}

PlistArray* PlistDictionary::findArray(std::string_view key) {
    PlistValue* value = find(key);
    return value ? value->asArray() : nullptr;
}

const PlistDictionary* PlistDictionary::findDictionary(std::string_view key) const {
    const PlistValue* value = find(key);
    return value ? value->asDictionary() : nullptr;
}

// ---- PlistValue ------------------------------------------------------------

PlistValue::PlistValue() : data_(std::string()) {}
PlistValue::PlistValue(std::string s) : data_(std::move(s)) {}
PlistValue::PlistValue(const char* s) : data_(std::string(s)) {}
PlistValue::PlistValue(PlistInteger i) : data_(i) {}
PlistValue::PlistValue(PlistArray a) : data_(std::move(a)) {}
PlistValue::PlistValue(PlistDictionary d) : data_(std::move(d)) {}

PlistValue::Kind PlistValue::kind() const {
    switch (data_.index()) {
        case 0: return Kind::String;
        case 1: return Kind::Integer;
        case 2: return Kind::Array;
        case 3: return Kind::Dictionary;
        default: return Kind::Other;
    }
}

PlistValue PlistValue::other(std::shared_ptr<void> node) {
    PlistValue value;
    value.data_ = Opaque{};
    value.source_ = std::move(node);
    return value;
}

// ---- libplist nodes <-> values ----------------------------------------------

namespace {

// Nesting deeper than this is refused rather than walked recursively.
constexpr int kMaxDepth = 256;

struct NodeDeleter {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};

std::shared_ptr<void> own_copy(plist_t node) {
    return std::shared_ptr<void>(plist_copy(node), NodeDeleter{});
}

uint64_t read_be(const unsigned char* p, size_t n) {
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) v = (v << 8) | p[i];
    return v;
}

// libplist stops the process (an assertion) when it hands out a dictionary
// key holding a NUL character, which only the binary form can carry. Walk
// the binary object table first and refuse any file with a string that holds
// a NUL (or whose table cannot be walked): such a file is not ours, and must
// neither stop the program nor be rewritten.
bool binary_strings_are_clean(std::string_view bytes) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t size = bytes.size();
    if (size < 8 + 32) return false;
    const unsigned char* trailer = data + size - 32;
    const size_t offset_size = trailer[6];
    const uint64_t count = read_be(trailer + 8, 8);
    const uint64_t table = read_be(trailer + 24, 8);
    if (offset_size < 1 || offset_size > 8) return false;
    if (table >= size || count > (size - table) / offset_size) return false;
    for (uint64_t i = 0; i < count; ++i) {
        const uint64_t at = read_be(data + table + i * offset_size, offset_size);
        if (at >= size) return false;
        const unsigned type = data[at] >> 4;
        if (type != 0x5 && type != 0x6 && type != 0x7) continue;
        uint64_t length = data[at] & 0x0f;
        uint64_t start = at + 1;
        if (length == 0x0f) {
            if (start >= size || (data[start] >> 4) != 0x1) return false;
            const size_t int_size = size_t{1} << (data[start] & 0x0f);
            if (int_size > 8 || start + 1 + int_size > size) return false;
            length = read_be(data + start + 1, int_size);
            start += 1 + int_size;
        }
        const uint64_t unit = type == 0x6 ? 2 : 1;
        if (length > (size - start) / unit) return false;
        for (uint64_t j = 0; j < length; ++j) {
            const unsigned char* c = data + start + j * unit;
            if (c[0] == 0 && (unit == 1 || c[1] == 0)) return false;
        }
    }
    return true;
}

// True when libplist writes the date in the one XML form every reader takes:
// "YYYY-MM-DDTHH:MM:SSZ" with a four-digit year.
bool date_has_xml_form(plist_t node) {
    plist_t wrapper = plist_new_array();
    plist_array_append_item(wrapper, plist_copy(node));
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(wrapper, &xml, &length);
    bool ok = false;
    if (xml) {
        const std::string_view text(xml, length);
        const size_t open = text.find("<date>");
        const size_t close = text.find("</date>");
        if (open != std::string_view::npos && close != std::string_view::npos && close > open) {
            const std::string_view date = text.substr(open + 6, close - open - 6);
            constexpr std::string_view shape = "dddd-dd-ddTdd:dd:ddZ";
            ok = date.size() == shape.size();
            for (size_t i = 0; ok && i < shape.size(); ++i) {
                ok = shape[i] == 'd' ? (date[i] >= '0' && date[i] <= '9') : date[i] == shape[i];
            }
        }
        plist_to_xml_free(xml);
    }
    plist_free(wrapper);
    return ok;
}

bool to_value(plist_t node, int depth, PlistValue* out);

bool to_dictionary(plist_t node, int depth, PlistDictionary* out) {
    plist_dict_iter iter = nullptr;
    plist_dict_new_iter(node, &iter);
    if (!iter) return false;
    bool ok = true;
    for (;;) {
        char* key = nullptr;
        plist_t child = nullptr;
        plist_dict_next_item(node, iter, &key, &child);
        if (!child) {
            std::free(key);
            break;
        }
        PlistValue value;
        if (!key || !to_value(child, depth + 1, &value)) {
            std::free(key);
            ok = false;
            break;
        }
        out->set(key, std::move(value));
        std::free(key);
    }
    std::free(iter);
    return ok;
}

bool to_value(plist_t node, int depth, PlistValue* out) {
    if (depth > kMaxDepth) return false;
    switch (plist_get_node_type(node)) {
        case PLIST_STRING: {
            uint64_t length = 0;
            const char* text = plist_get_string_ptr(node, &length);
            *out = PlistValue(std::string(text ? text : "", text ? length : 0));
            return true;
        }
        case PLIST_UINT: {
            PlistInteger integer;
            plist_get_uint_val(node, &integer.bits);
            *out = PlistValue(integer);
            out->setSourceNode(own_copy(node));
            return true;
        }
        case PLIST_ARRAY: {
            PlistArray array;
            const uint32_t count = plist_array_get_size(node);
            array.reserve(count);
            for (uint32_t i = 0; i < count; ++i) {
                PlistValue element;
                if (!to_value(plist_array_get_item(node, i), depth + 1, &element)) return false;
                array.push_back(std::move(element));
            }
            *out = PlistValue(std::move(array));
            return true;
        }
        case PLIST_DICT: {
            PlistDictionary dictionary;
            if (!to_dictionary(node, depth, &dictionary)) return false;
            *out = PlistValue(std::move(dictionary));
            return true;
        }
        case PLIST_DATE:
            // A binary file can hold a date too far out for the XML form,
            // which libplist would then write as an empty element that other
            // readers reject. Such a file is refused rather than damaged.
            if (!date_has_xml_form(node)) return false;
            *out = PlistValue::other(own_copy(node));
            return true;
        default:
            *out = PlistValue::other(own_copy(node));
            return true;
    }
}

plist_t to_node(const PlistValue& value);

plist_t to_dict_node(const PlistDictionary& dictionary) {
    plist_t node = plist_new_dict();
    for (const auto& [key, value] : dictionary) {
        plist_dict_set_item(node, key.c_str(), to_node(value));
    }
    return node;
}

plist_t to_node(const PlistValue& value) {
    switch (value.kind()) {
        case PlistValue::Kind::String:
            return plist_new_string(value.asString()->c_str());
        case PlistValue::Kind::Integer:
            if (value.sourceNode()) return plist_copy(static_cast<plist_t>(value.sourceNode().get()));
            return plist_new_uint(value.asInteger()->bits);
        case PlistValue::Kind::Array: {
            plist_t node = plist_new_array();
            for (const PlistValue& element : *value.asArray()) {
                plist_array_append_item(node, to_node(element));
            }
            return node;
        }
        case PlistValue::Kind::Dictionary:
            return to_dict_node(*value.asDictionary());
        case PlistValue::Kind::Other:
            break;
    }
    return plist_copy(static_cast<plist_t>(value.sourceNode().get()));
}

int write_all(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        done += static_cast<size_t>(n);
    }
    return 0;
}

// A new, empty file next to `path`, created exclusively so that no other
// writer's temporary file is ever reused. Mode 0666 less the umask, as any
// newly created file.
int create_temporary(const std::string& dir, const std::string& base, std::string* tmp_path) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
        char suffix[64];
        std::snprintf(suffix, sizeof suffix, ".tmp-%ld-%u-%llx", static_cast<long>(::getpid()),
                      counter.fetch_add(1), static_cast<unsigned long long>(now) & 0xffffffu);
        *tmp_path = dir + "/." + base + suffix;
        int fd = ::open(tmp_path->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) return fd;
        if (errno != EEXIST) return -errno;
    }
    return -EEXIST;
}

}  // namespace

// ---- files -------------------------------------------------------------------

bool plist_file_exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

PlistReadResult plist_parse_dictionary(std::string_view bytes) {
    PlistReadResult result;
    result.status = PlistReadStatus::Unreadable;
    if (bytes.empty() || bytes.size() > kPlistMaxFileSize) return result;
    if (plist_is_binary(bytes.data(), static_cast<uint32_t>(bytes.size())) &&
        !binary_strings_are_clean(bytes)) {
        return result;
    }
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
    if (!root) return result;
    if (plist_get_node_type(root) == PLIST_DICT && to_dictionary(root, 0, &result.dictionary)) {
        result.status = PlistReadStatus::Ok;
    } else {
        result.dictionary = PlistDictionary();
    }
    plist_free(root);
    return result;
}

PlistReadResult plist_read_dictionary(const std::string& path) {
    PlistReadResult result;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        // Only a plain "no such file" counts as missing: a file that cannot
        // even be looked at may still hold someone's data.
        result.status = (errno == ENOENT || errno == ENOTDIR) ? PlistReadStatus::Missing
                                                              : PlistReadStatus::Unreadable;
        return result;
    }
    result.status = PlistReadStatus::Unreadable;
    if (!S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) > kPlistMaxFileSize) return result;

    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return result;
    std::string bytes;
    char buffer[8192];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return result;
        }
        if (n == 0) break;
        bytes.append(buffer, static_cast<size_t>(n));
        if (bytes.size() > kPlistMaxFileSize) {
            ::close(fd);
            return result;
        }
    }
    ::close(fd);
    return plist_parse_dictionary(bytes);
}

std::string plist_to_xml_text(const PlistDictionary& dictionary) {
    plist_t root = to_dict_node(dictionary);
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root, &xml, &length);
    std::string text(xml ? xml : "", xml ? length : 0);
    if (xml) plist_to_xml_free(xml);
    plist_free(root);
    return text;
}

int plist_write_xml_atomically(const std::string& path, const PlistDictionary& dictionary) {
    const std::string text = plist_to_xml_text(dictionary);
    if (text.empty()) return EIO;

    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);

    std::string tmp;
    int fd = create_temporary(dir, base, &tmp);
    if (fd < 0) return -fd;

    int err = 0;
    struct stat old;
    if (::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        if (::fchmod(fd, old.st_mode & 07777) != 0) err = errno;
    }
    if (!err) err = write_all(fd, text);
    if (!err && ::fsync(fd) != 0) err = errno;
    if (::close(fd) != 0 && !err) err = errno;
    if (!err && ::rename(tmp.c_str(), path.c_str()) != 0) err = errno;
    if (err) {
        ::unlink(tmp.c_str());
        return err;
    }

    // Make the rename itself durable. Some file systems cannot sync a
    // folder; the new file is in place either way, so that is not an error.
    int dir_fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd >= 0) {
        ::fsync(dir_fd);
        ::close(dir_fd);
    }
    return 0;
}

}  // namespace vgps
