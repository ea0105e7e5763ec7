#include "memory_platform.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace testing_support {

using platform::ascii_upper;
using platform::equal_ignoring_case;
namespace attr = platform::attr;

namespace {

constexpr std::int64_t days_1601_to_1970 = platform::epoch_difference_seconds / 86400;

std::u16string backslashes(std::u16string_view text) {
    std::u16string out(text);
    std::replace(out.begin(), out.end(), u'/', u'\\');
    return out;
}

bool is_drive(std::u16string_view text) {
    return text.size() >= 2 && text[1] == u':' &&
           ((text[0] >= u'A' && text[0] <= u'Z') || (text[0] >= u'a' && text[0] <= u'z'));
}

bool ends_with_ignoring_case(std::u16string_view text, std::u16string_view tail) {
    return text.size() >= tail.size() &&
           equal_ignoring_case(text.substr(text.size() - tail.size()), tail);
}

// Splits an absolute path (backslashes only) into its root, "C:" or
// "\\server\share", and the rest, which is empty or starts with '\'.
bool split_root(std::u16string_view text, std::u16string& root, std::u16string& rest) {
    if (text.size() >= 2 && text[0] == u'\\' && text[1] == u'\\') {
        const std::size_t server_end = text.find(u'\\', 2);
        if (server_end == std::u16string_view::npos || server_end == 2) return false;
        const std::size_t share_end = text.find(u'\\', server_end + 1);
        const std::size_t share_size =
            (share_end == std::u16string_view::npos ? text.size() : share_end) - server_end - 1;
        if (share_size == 0) return false;
        root = std::u16string(text.substr(0, share_end));
        rest = share_end == std::u16string_view::npos ? std::u16string()
                                                      : std::u16string(text.substr(share_end));
        return true;
    }
    if (is_drive(text) && (text.size() == 2 || text[2] == u'\\')) {
        root = std::u16string(text.substr(0, 2));
        rest = std::u16string(text.substr(2));
        return true;
    }
    return false;
}

std::vector<std::u16string> split_parts(std::u16string_view rest) {
    std::vector<std::u16string> parts;
    std::size_t start = 0;
    while (start <= rest.size()) {
        std::size_t end = rest.find(u'\\', start);
        if (end == std::u16string_view::npos) end = rest.size();
        if (end > start) parts.emplace_back(rest.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

struct Civil {
    std::int64_t year;
    int month;
    int day;
};

Civil civil_from_days(std::int64_t z) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    return {yoe + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

platform::FindData entry_of(const Node& node) {
    platform::FindData data;
    data.attributes = node.attributes;
    data.size = node.size();
    data.creation = node.creation;
    data.access = node.access;
    data.write = node.write;
    data.name = node.name;
    data.short_name = node.short_name;
    data.link = (node.attributes & attr::reparse_point) != 0;
    return data;
}

class ListSearch final : public platform::DirSearch {
public:
    explicit ListSearch(std::vector<platform::FindData> entries) : entries_(std::move(entries)) {}
    bool next(platform::FindData& entry) override {
        if (next_ >= entries_.size()) return false;
        entry = entries_[next_++];
        return true;
    }

private:
    std::vector<platform::FindData> entries_;
    std::size_t next_ = 1;  // the first went out with find_first
};

// Reads (and, when writable, writes) a Content shared with the tree, so
// that what a test reads back is what the core wrote.
class ContentFile final : public platform::UpdateFile {
public:
    ContentFile(std::shared_ptr<Content> content, bool writable)
        : content_(std::move(content)), writable_(writable) {}

    long long read(void* buffer, std::size_t size) override {
        const long long n = read_now(buffer, size);
        if (content_->after_read) content_->after_read(*content_);
        return n;
    }
    bool seek(std::uint64_t offset) override {
        pos_ = offset;
        return true;
    }
    std::optional<platform::FileState> state() override {
        return platform::FileState{content_->size(), content_->changed};
    }
    std::optional<std::uint64_t> size() override { return content_->size(); }
    bool write(const void* data, std::size_t size) override {
        if (!writable_) return false;
        content_->materialize();
        std::string& bytes = content_->bytes;
        if (pos_ + size > bytes.size()) bytes.resize(pos_ + size, '\0');
        if (size > 0) std::memcpy(bytes.data() + pos_, data, size);
        pos_ += size;
        ++content_->changed;
        return true;
    }
    bool set_end(std::uint64_t offset) override {
        if (!writable_) return false;
        content_->materialize();
        content_->bytes.resize(offset, '\0');
        ++content_->changed;
        return true;
    }

private:
    long long read_now(void* buffer, std::size_t size) {
        const std::uint64_t total = content_->size();
        if (pos_ >= total || size == 0) return 0;
        const std::uint64_t count = std::min<std::uint64_t>(size, total - pos_);
        const std::uint64_t stored = content_->bytes.size();
        const std::uint64_t from_bytes = pos_ < stored ? std::min(count, stored - pos_) : 0;
        char* out = static_cast<char*>(buffer);
        if (from_bytes > 0) std::memcpy(out, content_->bytes.data() + pos_, from_bytes);
        std::memset(out + from_bytes, 0, count - from_bytes);
        pos_ += count;
        return static_cast<long long>(count);
    }

    std::shared_ptr<Content> content_;
    bool writable_;
    std::uint64_t pos_ = 0;
};

class TextSink final : public platform::Sink {
public:
    explicit TextSink(std::shared_ptr<Content> content) : content_(std::move(content)) {}
    bool write(const char* data, std::size_t size) override {
        content_->materialize();
        content_->bytes.append(data, size);
        return true;
    }

private:
    std::shared_ptr<Content> content_;
};

class CaptureSink final : public platform::Sink {
public:
    CaptureSink(std::string& text, const bool& terminal, std::size_t& flushes, const bool& fails)
        : text_(text), terminal_(terminal), flushes_(flushes), fails_(fails) {}
    bool write(const char* data, std::size_t size) override {
        if (fails_) return false;
        text_.append(data, size);
        return true;
    }
    bool flush() override {
        ++flushes_;
        return true;
    }
    bool is_terminal() const override { return terminal_; }

private:
    std::string& text_;
    const bool& terminal_;
    std::size_t& flushes_;
    const bool& fails_;
};

}  // namespace

// ----- nodes -----

Stream* Node::stream(std::u16string_view stream_name) {
    for (auto& s : streams)
        if (equal_ignoring_case(s.name, stream_name)) return &s;
    return nullptr;
}

Node* Node::child(std::u16string_view child_name) {
    const auto it = children.find(ascii_upper(child_name));
    return it == children.end() ? nullptr : it->second.get();
}

bool NoCaseLess::operator()(const std::u16string& a, const std::u16string& b) const {
    return ascii_upper(a) < ascii_upper(b);
}

// ----- path resolution -----

struct MemoryPlatform::Location {
    std::u16string key;   // upper-cased volume root
    std::u16string root;  // as written
    std::vector<std::u16string> parts;
    bool trailing_separator = false;
    bool has_stream = false;  // names a stream other than the main data
    std::u16string stream;
};

struct MemoryPlatform::Found {
    std::optional<Location> where;
    Volume* volume = nullptr;
    Node* parent = nullptr;    // the directory that holds (or would hold) the node
    Node* node = nullptr;      // null when missing
    Stream* stream = nullptr;  // the named stream, when the path names one that exists
};

std::optional<MemoryPlatform::Location> MemoryPlatform::locate(std::u16string_view path) const {
    if (path.empty()) return std::nullopt;
    std::u16string text;
    const bool literal = syntax().has_long_prefix(path);
    if (literal) {
        text = backslashes(syntax().without_long_prefix(path));
        if (text.size() >= 4 &&
            equal_ignoring_case(std::u16string_view(text).substr(0, 4), u"UNC\\"))
            text = u"\\\\" + text.substr(4);
    } else {
        auto full = absolute(path);
        if (!full) return std::nullopt;
        text = std::move(*full);
    }
    Location where;
    std::u16string rest;
    if (!split_root(text, where.root, rest)) return std::nullopt;
    where.key = ascii_upper(where.root);
    where.parts = split_parts(rest);
    if (literal)
        for (const auto& part : where.parts)
            if (part == u"." || part == u"..") return std::nullopt;
    where.trailing_separator = !where.parts.empty() && rest.back() == u'\\';
    for (std::size_t i = 0; i + 1 < where.parts.size(); ++i)
        if (where.parts[i].find(u':') != std::u16string::npos) return std::nullopt;
    if (!where.parts.empty()) {
        std::u16string& last = where.parts.back();
        const std::size_t colon = last.find(u':');
        if (colon != std::u16string::npos) {
            if (colon == 0 || where.trailing_separator) return std::nullopt;
            std::u16string stream_name = last.substr(colon + 1);
            if (ends_with_ignoring_case(stream_name, u":$DATA"))
                stream_name.resize(stream_name.size() - 6);
            if (stream_name.find(u':') != std::u16string::npos) return std::nullopt;
            last.resize(colon);
            where.has_stream = !stream_name.empty();
            where.stream = std::move(stream_name);
        }
    }
    return where;
}

MemoryPlatform::Found MemoryPlatform::find(std::u16string_view path) {
    Found found;
    found.where = locate(path);
    if (!found.where) return found;
    const auto it = volumes_.find(found.where->key);
    if (it == volumes_.end()) return found;
    found.volume = &it->second;
    const auto& parts = found.where->parts;
    if (parts.empty()) {
        found.node = found.volume->top.get();
        return found;
    }
    Node* dir = found.volume->top.get();
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        dir = dir->child(parts[i]);
        if (!dir || !dir->is_dir) return found;
    }
    found.parent = dir;
    found.node = dir->child(parts.back());
    if (found.node && !found.node->is_dir && found.where->trailing_separator) found.node = nullptr;
    if (found.node && found.where->has_stream)
        found.stream = found.node->stream(found.where->stream);
    return found;
}

std::optional<std::u16string> MemoryPlatform::full_path(std::u16string_view path) {
    return absolute(path);
}

std::optional<std::u16string> MemoryPlatform::absolute(std::u16string_view path) const {
    if (path.empty()) return std::nullopt;
    if (syntax().has_long_prefix(path)) return std::u16string(path);
    const std::u16string text = backslashes(path);
    std::u16string root, rest;
    if (text.size() >= 2 && text[0] == u'\\' && text[1] == u'\\') {
        if (!split_root(text, root, rest)) return text;  // "\\server" alone
    } else if (is_drive(text)) {
        if (text.size() == 2) {
            root = text;
            rest = u"\\";
        } else if (text[2] == u'\\') {
            split_root(text, root, rest);
        } else {  // "C:name": relative to the drive's current directory
            std::u16string cwd_root, cwd_rest;
            if (split_root(backslashes(cwd), cwd_root, cwd_rest) &&
                equal_ignoring_case(cwd_root, text.substr(0, 2))) {
                root = cwd_root;
                rest = cwd_rest + u"\\" + text.substr(2);
            } else {
                root = text.substr(0, 2);
                rest = u"\\" + text.substr(2);
            }
        }
    } else {
        std::u16string cwd_root, cwd_rest;
        if (!split_root(backslashes(cwd), cwd_root, cwd_rest)) return std::nullopt;
        root = cwd_root;
        rest = text[0] == u'\\' ? text : cwd_rest + u"\\" + text;
    }
    std::vector<std::u16string> parts;
    for (auto& part : split_parts(rest)) {
        if (part == u".") continue;
        if (part == u"..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(std::move(part));
    }
    std::u16string out = root;
    if (parts.empty()) {
        if (is_drive(root) || !rest.empty()) out += u'\\';
        return out;
    }
    for (const auto& part : parts) {
        out += u'\\';
        out += part;
    }
    if (rest.back() == u'\\') out += u'\\';
    return out;
}

// ----- building -----

MemoryPlatform::MemoryPlatform()
    : out_sink_(std::make_unique<CaptureSink>(out_text, out_is_terminal, out_flushes, out_fails)),
      err_sink_(std::make_unique<CaptureSink>(err_text, err_is_terminal, err_flushes, err_fails)) {
    add_volume(u"C:");
    add_dir(u"C:\\work");
}

MemoryPlatform::~MemoryPlatform() = default;

FileTicks MemoryPlatform::seconds_to_ticks(std::int64_t seconds) {
    return static_cast<FileTicks>((seconds + platform::epoch_difference_seconds) *
                                  platform::ticks_per_second);
}

FileTicks MemoryPlatform::now_ticks() const {
    return seconds_to_ticks(now);
}

Volume& MemoryPlatform::add_volume(std::u16string_view root, const VolumeOptions& options) {
    std::u16string text = backslashes(syntax().without_long_prefix(root));
    if (text.size() >= 4 && equal_ignoring_case(std::u16string_view(text).substr(0, 4), u"UNC\\"))
        text = u"\\\\" + text.substr(4);
    while (text.size() > 2 && text.back() == u'\\') text.pop_back();
    std::u16string name, rest;
    if (!split_root(text, name, rest) || !rest.empty())
        throw std::invalid_argument("MemoryPlatform::add_volume: not a drive or share root");
    Volume& volume = volumes_[ascii_upper(name)];
    volume.options = options;
    if (!volume.top) {
        volume.root = name;
        volume.top = std::make_shared<Node>();
        volume.top->name = name;
        volume.top->is_dir = true;
        volume.top->attributes = attr::directory | attr::hidden | attr::system;
    }
    return volume;
}

Volume* MemoryPlatform::volume(std::u16string_view path) {
    const auto where = locate(path);
    if (!where) return nullptr;
    const auto it = volumes_.find(where->key);
    return it == volumes_.end() ? nullptr : &it->second;
}

std::shared_ptr<Node> MemoryPlatform::new_node(std::u16string_view name, bool is_dir,
                                               const NodeOptions& options) const {
    auto node = std::make_shared<Node>();
    node->name = std::u16string(name);
    node->is_dir = is_dir;
    std::uint32_t attributes =
        options.attributes.value_or(is_dir ? attr::directory : attr::archive);
    node->attributes = is_dir ? (attributes | attr::directory) : (attributes & ~attr::directory);
    node->creation = options.creation;
    node->access = options.access;
    node->write = options.write;
    node->short_name = options.short_name;
    node->owner = options.owner;
    node->owner_lookup_fails = options.owner_lookup_fails;
    node->locked = options.locked;
    node->locked_primary = options.locked_primary;
    node->protect = options.protect;
    node->unlistable = options.unlistable;
    node->streams_unreadable = options.streams_unreadable;
    node->precise = options.precise;
    for (const auto& [stream_name, text] : options.streams)
        node->streams.push_back({stream_name, std::make_shared<Content>(Content{text, 0})});
    return node;
}

Node& MemoryPlatform::make_node(std::u16string_view path, bool is_dir, const NodeOptions& options) {
    const auto where = locate(path);
    if (!where || where->parts.empty() || where->has_stream)
        throw std::invalid_argument("MemoryPlatform: not a path below a volume root");
    if (volumes_.find(where->key) == volumes_.end()) add_volume(where->root);
    Node* dir = volumes_[where->key].top.get();
    for (std::size_t i = 0; i + 1 < where->parts.size(); ++i) {
        Node* next = dir->child(where->parts[i]);
        if (!next) {
            auto made = new_node(where->parts[i], true, {});
            next = made.get();
            dir->children[ascii_upper(where->parts[i])] = std::move(made);
        } else if (!next->is_dir) {
            throw std::invalid_argument("MemoryPlatform: a parent is a file");
        }
        dir = next;
    }
    const std::u16string& name = where->parts.back();
    auto made = new_node(name, is_dir, options);
    auto& slot = dir->children[ascii_upper(name)];
    if (slot && slot->is_dir && is_dir) made->children = std::move(slot->children);
    slot = std::move(made);
    return *slot;
}

Node& MemoryPlatform::add_dir(std::u16string_view path, const NodeOptions& options) {
    return make_node(path, true, options);
}

Node& MemoryPlatform::add_file(std::u16string_view path, std::string_view content,
                               const NodeOptions& options) {
    Node& node = make_node(path, false, options);
    node.content->bytes = std::string(content);
    return node;
}

Node& MemoryPlatform::add_file(std::u16string_view path, std::uint64_t size,
                               const NodeOptions& options) {
    Node& node = make_node(path, false, options);
    node.content->zero_tail = size;
    return node;
}

Node& MemoryPlatform::add_special(std::u16string_view path, const NodeOptions& options) {
    Node& node = make_node(path, false, options);
    node.special = true;
    return node;
}

Node& MemoryPlatform::add_symlink_dir(std::u16string_view path, const NodeOptions& options) {
    NodeOptions with = options;
    with.attributes = with.attributes.value_or(attr::directory) | attr::reparse_point;
    return make_node(path, true, with);
}

void MemoryPlatform::add_stream(std::u16string_view path, std::u16string_view stream_name,
                                std::string_view content) {
    Node* target = node(path);
    if (!target) throw std::invalid_argument("MemoryPlatform::add_stream: no such node");
    auto data = std::make_shared<Content>(Content{std::string(content), 0});
    if (Stream* existing = target->stream(stream_name))
        existing->content = std::move(data);
    else
        target->streams.push_back({std::u16string(stream_name), std::move(data)});
}

bool MemoryPlatform::remove(std::u16string_view path) {
    Found found = find(path);
    if (!found.node || !found.parent) return false;
    found.parent->children.erase(ascii_upper(found.where->parts.back()));
    return true;
}

Node* MemoryPlatform::node(std::u16string_view path) {
    return find(path).node;
}

std::optional<std::string> MemoryPlatform::contents(std::u16string_view path) {
    Found found = find(path);
    if (!found.node) return std::nullopt;
    if (found.where->has_stream) {
        if (!found.stream) return std::nullopt;
        return found.stream->content->text();
    }
    if (found.node->is_dir) return std::nullopt;
    return found.node->text();
}

void MemoryPlatform::interrupt_after_finds(std::size_t n) {
    interrupt_countdown_ = n;
    if (n == 0) interrupt_requested = true;
}

// ----- directory search and entry data -----

const platform::PathSyntax& MemoryPlatform::syntax() const {
    return platform::PathSyntax::windows();
}

std::unique_ptr<platform::DirSearch> MemoryPlatform::find_first(std::u16string_view pattern,
                                                                platform::FindData& first,
                                                                platform::SearchDetail) {
    ++find_first_calls;
    find_patterns.emplace_back(pattern);
    if (interrupt_countdown_ > 0 && --interrupt_countdown_ == 0) interrupt_requested = true;

    search_refused_ = false;
    Found found = find(pattern);
    if (!found.where || found.where->parts.empty() || found.where->trailing_separator ||
        found.where->has_stream)
        return nullptr;
    Node* dir = found.parent;
    if (dir && dir->unlistable) search_refused_ = true;
    if (!dir || dir->unlistable) return nullptr;
    const std::u16string& mask = found.where->parts.back();
    std::vector<platform::FindData> entries;
    if (platform::has_wildcards(mask)) {
        if (found.where->parts.size() > 1) {  // not a volume root: "." and ".." first
            for (const char16_t* dots : {u".", u".."}) {
                if (!platform::mask_matches(mask, dots)) continue;
                platform::FindData data;
                data.attributes = attr::directory;
                data.creation = dir->creation;
                data.access = dir->access;
                data.write = dir->write;
                data.name = dots;
                entries.push_back(std::move(data));
            }
        }
        std::vector<const Node*> children;
        for (const auto& [key, child] : dir->children) children.push_back(child.get());
        std::sort(children.begin(), children.end(), [](const Node* a, const Node* b) {
            return platform::name_less(a->name, b->name);
        });
        for (const Node* child : children) {
            // As on Windows, the short name matches too.
            if (platform::mask_matches(mask, child->name) ||
                (!child->short_name.empty() && platform::mask_matches(mask, child->short_name)))
                entries.push_back(entry_of(*child));
        }
    } else if (found.node) {
        entries.push_back(entry_of(*found.node));
    }
    if (entries.empty()) return nullptr;
    first = entries.front();
    return std::make_unique<ListSearch>(std::move(entries));
}

std::optional<platform::PreciseFacts> MemoryPlatform::precise_facts(
    std::u16string_view path, const platform::FindData& found) {
    ++precise_facts_calls;
    if (found.precise) return found.precise;
    const Found at = find(path);
    if (!at.node || at.where->has_stream) return std::nullopt;
    return at.node->precise;
}

std::optional<std::uint32_t> MemoryPlatform::get_attributes(std::u16string_view path) {
    Found found = find(path);
    if (!found.node || (found.where->has_stream && !found.stream)) return std::nullopt;
    return found.node->attributes;
}

bool MemoryPlatform::set_attributes(std::u16string_view path, std::uint32_t attributes) {
    Found found = find(path);
    if (!found.node || found.node->protect || (found.where->has_stream && !found.stream))
        return false;
    constexpr std::uint32_t fixed = attr::directory | attr::reparse_point;
    found.node->attributes = (attributes & ~fixed) | (found.node->attributes & fixed);
    return true;
}

bool MemoryPlatform::get_times(std::u16string_view path, FileTicks& creation, FileTicks& access,
                               FileTicks& write) {
    Found found = find(path);
    if (!found.node || (found.where->has_stream && !found.stream)) return false;
    creation = found.node->creation;
    access = found.node->access;
    write = found.node->write;
    return true;
}

bool MemoryPlatform::set_times(std::u16string_view path, FileTicks creation, FileTicks access,
                               FileTicks write) {
    Found found = find(path);
    if (!found.node || found.node->protect || (found.where->has_stream && !found.stream))
        return false;
    if (creation != 0) found.node->creation = creation;
    if (access != 0) found.node->access = access;
    if (write != 0) found.node->write = write;
    return true;
}

bool MemoryPlatform::is_directory(std::u16string_view path) {
    Found found = find(path);
    return found.node && found.node->is_dir && !found.where->has_stream;
}

bool MemoryPlatform::exists(std::u16string_view path) {
    Found found = find(path);
    return found.node && (!found.where->has_stream || found.stream);
}

// ----- contents -----

std::unique_ptr<platform::InputFile> MemoryPlatform::open_read(std::u16string_view path,
                                                               bool fallback_route) {
    read_opens.push_back({std::u16string(path), fallback_route});
    Found found = find(path);
    if (!found.node || found.node->locked || found.node->special ||
        (found.node->locked_primary && !fallback_route))
        return nullptr;
    if (found.where->has_stream) {
        if (!found.stream) return nullptr;
        return std::make_unique<ContentFile>(found.stream->content, false);
    }
    if (found.node->is_dir) return nullptr;
    if (reads_touch_access) found.node->access = now_ticks();
    return std::make_unique<ContentFile>(found.node->content, false);
}

std::unique_ptr<platform::InputFile> MemoryPlatform::open_entry(std::u16string_view path,
                                                                bool fallback_route) {
    const Node* const n = node(path);
    if (n && (n->attributes & attr::reparse_point)) {
        read_opens.push_back({std::u16string(path), fallback_route});
        return nullptr;
    }
    return open_read(path, fallback_route);
}

std::unique_ptr<platform::PendingOpen> MemoryPlatform::prepare_entry_open(
    std::u16string_view path) {
    auto file = read_when_prepared ? open_entry(path, false) : nullptr;
    if (!file) return System::prepare_entry_open(path);
    struct Owned : platform::ReadContents {
        std::string kept;
    };
    auto contents = std::make_shared<Owned>();
    const auto opened = file->state();
    char buffer[4096];
    for (long long n; (n = file->read(buffer, sizeof buffer)) > 0;)
        contents->kept.append(buffer, static_cast<std::size_t>(n));
    const auto after = file->state();
    if (!opened || !after) return System::prepare_entry_open(path);
    contents->bytes = contents->kept;
    contents->opened = *opened;
    contents->after = *after;
    return std::make_unique<platform::ReadAlready>(std::move(contents));
}

std::shared_ptr<Content> MemoryPlatform::writable(std::u16string_view path, bool create,
                                                  Node*& file) {
    Found found = find(path);
    file = nullptr;
    if (!found.where) return nullptr;
    if (!found.node) {
        if (!create || found.where->has_stream || found.where->parts.empty() ||
            found.where->trailing_separator || !found.parent || found.parent->protect)
            return nullptr;
        auto made = new_node(found.where->parts.back(), false, {});
        made->creation = made->access = made->write = now_ticks();
        found.node = made.get();
        found.parent->children[ascii_upper(found.where->parts.back())] = std::move(made);
    }
    Node* node = found.node;
    if (node->locked || node->protect || node->special ||
        (!node->is_dir && (node->attributes & attr::readonly)))
        return nullptr;
    if (found.where->has_stream) {
        if (found.stream) return found.stream->content;
        if (!create) return nullptr;
        node->streams.push_back({found.where->stream, std::make_shared<Content>()});
        return node->streams.back().content;
    }
    if (node->is_dir) return nullptr;
    file = node;
    return node->content;
}

std::unique_ptr<platform::UpdateFile> MemoryPlatform::open_update(std::u16string_view path,
                                                                  bool create) {
    Node* file = nullptr;
    auto content = writable(path, create, file);
    if (!content) return nullptr;
    return std::make_unique<ContentFile>(std::move(content), true);
}

platform::StreamListing MemoryPlatform::named_streams(std::u16string_view path) {
    platform::StreamListing out;
    Found found = find(path);
    if (!found.node || found.where->has_stream || found.node->locked) {
        out.status = platform::StreamListing::Status::not_opened;
        return out;
    }
    if (found.node->streams_unreadable) {
        out.status = platform::StreamListing::Status::read_failed;
        return out;
    }
    for (const auto& stream : found.node->streams)
        out.streams.push_back(
            {u":" + stream.name + u":$DATA", static_cast<std::int64_t>(stream.content->size()), 0});
    return out;
}

// ----- text files and standard streams -----

std::unique_ptr<platform::Sink> MemoryPlatform::open_text(std::u16string_view path,
                                                          platform::OpenMode mode) {
    Node* file = nullptr;
    auto content = writable(path, true, file);
    if (!content) return nullptr;
    if (mode == platform::OpenMode::write) *content = Content{};
    if (file) file->access = file->write = now_ticks();
    return std::make_unique<TextSink>(std::move(content));
}

platform::Sink& MemoryPlatform::standard_output() {
    return *out_sink_;
}

platform::Sink& MemoryPlatform::standard_error() {
    return *err_sink_;
}

bool MemoryPlatform::create_directory(std::u16string_view path) {
    Found found = find(path);
    if (!found.where || found.node || found.where->has_stream || !found.parent ||
        found.parent->protect)
        return false;
    auto made = new_node(found.where->parts.back(), true, {});
    made->creation = made->access = made->write = now_ticks();
    found.parent->children[ascii_upper(found.where->parts.back())] = std::move(made);
    return true;
}

bool MemoryPlatform::delete_file(std::u16string_view path) {
    Found found = find(path);
    if (!found.node || found.node->locked || found.node->protect) return false;
    if (found.where->has_stream) {
        if (!found.stream) return false;
        auto& streams = found.node->streams;
        streams.erase(streams.begin() + (found.stream - streams.data()));
        return true;
    }
    if (found.node->is_dir || (found.node->attributes & attr::readonly) || !found.parent)
        return false;
    found.parent->children.erase(ascii_upper(found.where->parts.back()));
    return true;
}

bool MemoryPlatform::rename_file(std::u16string_view from, std::u16string_view to) {
    Found source = find(from);
    if (!source.node || source.node->is_dir || source.node->locked || source.node->protect ||
        source.where->has_stream || !source.parent)
        return false;
    Found target = find(to);
    if (!target.where || target.where->has_stream || target.where->parts.empty() ||
        !target.parent || target.parent->protect)
        return false;
    if (target.node && (target.node->is_dir || target.node->locked || target.node->protect ||
                        (target.node->attributes & attr::readonly)))
        return false;
    auto& from_children = source.parent->children;
    const auto at = from_children.find(ascii_upper(source.where->parts.back()));
    if (at == from_children.end()) return false;
    std::shared_ptr<Node> moved = at->second;
    from_children.erase(at);
    moved->name = target.where->parts.back();
    target.parent->children[ascii_upper(target.where->parts.back())] = std::move(moved);
    return true;
}

// ----- volumes -----

std::optional<platform::VolumeInfo> MemoryPlatform::volume_info(std::u16string_view root) {
    const Volume* held = volume(root);
    if (!held || held->options.unqueryable) return std::nullopt;
    platform::VolumeInfo info;
    info.label = held->options.label;
    info.serial = held->options.serial;
    info.file_system = held->options.file_system;
    info.named_streams = held->options.named_streams.value_or(
        equal_ignoring_case(held->options.file_system, u"NTFS"));
    return info;
}

std::optional<std::uint64_t> MemoryPlatform::free_space(std::u16string_view root) {
    const Volume* held = volume(root);
    if (!held || held->options.unqueryable) return std::nullopt;
    return held->options.free_bytes;
}

std::uint32_t MemoryPlatform::last_access_setting(std::u16string_view first_start_path) {
    const Volume* held = volume(first_start_path);
    return held ? held->options.last_access : platform::last_access_not_found;
}

// ----- security -----

bool MemoryPlatform::enable_security_privilege() {
    ++security_privilege_requests;
    return security_privilege;
}

bool MemoryPlatform::enable_backup_privileges() {
    ++backup_privilege_requests;
    return backup_privileges;
}

platform::OwnerLookup MemoryPlatform::owner_of(std::u16string_view path) {
    using Status = platform::OwnerLookup::Status;
    Found found = find(path);
    if (!found.node || (found.where->has_stream && !found.stream))
        return {Status::no_descriptor, {}};
    // Only NTFS keeps security descriptors.
    if (!equal_ignoring_case(found.volume->options.file_system, u"NTFS"))
        return {Status::no_descriptor, {}};
    if (found.node->owner_lookup_fails) return {Status::lookup_failed, {}};
    if (!found.node->owner) return {Status::no_descriptor, {}};
    return {Status::ok, *found.node->owner};
}

// ----- paths and programs -----

std::optional<std::u16string> MemoryPlatform::current_directory() {
    if (cwd.empty()) return std::nullopt;
    return cwd;
}

std::optional<std::u16string> MemoryPlatform::search_path(std::u16string_view name,
                                                          std::u16string_view extension) {
    if (name.empty()) return std::nullopt;
    std::u16string file(name);
    if (file.find(u'.') == std::u16string::npos) file += extension;
    auto is_file = [this](const std::u16string& candidate) {
        Found found = find(candidate);
        return found.node && !found.node->is_dir && !found.where->has_stream;
    };
    if (file.find_first_of(u"\\/:") != std::u16string::npos) {
        auto full = full_path(file);
        if (full && is_file(*full)) return full;
        return std::nullopt;
    }
    for (const auto& dir : search_dirs) {
        std::u16string candidate = dir;
        if (!candidate.empty() && !syntax().is_separator(candidate.back())) candidate += u'\\';
        candidate += file;
        auto full = full_path(candidate);
        if (full && is_file(*full)) return full;
    }
    return std::nullopt;
}

std::optional<std::u16string> MemoryPlatform::get_env(std::u16string_view name) {
    const auto it = env.find(std::u16string(name));
    if (it == env.end()) return std::nullopt;
    return it->second;
}

int MemoryPlatform::run_shell(const std::vector<std::u16string>& parts) {
    shell_calls.push_back({parts});
    return on_shell ? on_shell(shell_calls.back()) : shell_result;
}

int MemoryPlatform::spawn(std::u16string_view program, const std::vector<std::u16string>& args) {
    spawn_calls.push_back({std::u16string(program), args});
    return on_spawn ? on_spawn(spawn_calls.back()) : spawn_result;
}

std::optional<std::u16string> MemoryPlatform::choose_file(platform::DialogKind kind) {
    dialogs.push_back(kind);
    return chosen_file;
}

// ----- console -----

// After the interrupt a wait for input gives up, as on a real console.
int MemoryPlatform::read_key() {
    if (keys.empty() || interrupt_requested) return -1;
    const int key = keys.front();
    keys.pop_front();
    return key;
}

bool MemoryPlatform::read_line(std::string& line) {
    if (input_lines.empty() || interrupt_requested) return false;
    line = std::move(input_lines.front());
    input_lines.pop_front();
    return true;
}

// ----- clock and zone -----

std::optional<platform::CivilTime> MemoryPlatform::to_utc(FileTicks ticks) {
    if (ticks > static_cast<FileTicks>(std::numeric_limits<std::int64_t>::max()))
        return std::nullopt;
    const auto t = static_cast<std::int64_t>(ticks);
    const std::int64_t seconds = t / platform::ticks_per_second;
    const std::int64_t days = seconds / 86400 - days_1601_to_1970;  // since 1970
    const std::int64_t second_of_day = seconds % 86400;
    const Civil date = civil_from_days(days);
    platform::CivilTime out;
    out.year = static_cast<int>(date.year);
    out.month = date.month;
    out.day = date.day;
    out.hour = static_cast<int>(second_of_day / 3600);
    out.minute = static_cast<int>(second_of_day / 60 % 60);
    out.second = static_cast<int>(second_of_day % 60);
    out.millisecond = static_cast<int>(t % platform::ticks_per_second / 10000);
    out.weekday = static_cast<int>(((days + 4) % 7 + 7) % 7);  // 1970-01-01 was a Thursday
    return out;
}

std::optional<platform::CivilTime> MemoryPlatform::to_local(FileTicks ticks) {
    if (ticks > static_cast<FileTicks>(std::numeric_limits<std::int64_t>::max()))
        return std::nullopt;
    const std::int64_t local =
        static_cast<std::int64_t>(ticks) -
        static_cast<std::int64_t>(zone_info.offset_seconds) * platform::ticks_per_second;
    if (local < 0) return std::nullopt;
    return to_utc(static_cast<FileTicks>(local));
}

std::optional<platform::CivilTime> MemoryPlatform::local_calendar(std::int64_t seconds) {
    constexpr std::int64_t limit = 900'000'000'000;  // far past year 30000
    if (seconds < -limit || seconds > limit) return std::nullopt;
    const std::int64_t since_1601 =
        seconds - zone_info.offset_seconds + platform::epoch_difference_seconds;
    if (since_1601 < 0) return std::nullopt;
    return to_utc(static_cast<FileTicks>(since_1601 * platform::ticks_per_second));
}

std::optional<std::int64_t> MemoryPlatform::make_local(const platform::CivilTime& when) {
    if (when.year < 1601 || when.year > 30827) return std::nullopt;
    return days_from_civil(when.year, when.month, when.day) * 86400 +
           static_cast<std::int64_t>(when.hour) * 3600 + when.minute * 60 + when.second +
           zone_info.offset_seconds;
}

// ----- text conversion -----

std::string MemoryPlatform::narrow(std::u16string_view text) {
    return platform::utf16_to_utf8_lossless(text);
}

std::u16string MemoryPlatform::wide(std::string_view text) {
    return platform::utf8_to_utf16_lossless(text);
}

}  // namespace testing_support
