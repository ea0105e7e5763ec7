#include "faulty_platform.hpp"

#include <utility>

namespace testing_support {

namespace {

using Kind = FaultyPlatform::Kind;

class FaultyInput final : public platform::InputFile {
public:
    FaultyInput(FaultyPlatform& owner, std::unique_ptr<platform::InputFile> inner)
        : owner_(owner), inner_(std::move(inner)) {}
    long long read(void* buffer, std::size_t size) override {
        return owner_.should_fail(Kind::read) ? -1 : inner_->read(buffer, size);
    }
    bool seek(std::uint64_t offset) override {
        return !owner_.should_fail(Kind::seek) && inner_->seek(offset);
    }
    std::optional<platform::FileState> state() override { return inner_->state(); }

private:
    FaultyPlatform& owner_;
    std::unique_ptr<platform::InputFile> inner_;
};

class FaultyUpdate final : public platform::UpdateFile {
public:
    FaultyUpdate(FaultyPlatform& owner, std::unique_ptr<platform::UpdateFile> inner)
        : owner_(owner), inner_(std::move(inner)) {}
    long long read(void* buffer, std::size_t size) override {
        return owner_.should_fail(Kind::read) ? -1 : inner_->read(buffer, size);
    }
    bool seek(std::uint64_t offset) override {
        return !owner_.should_fail(Kind::seek) && inner_->seek(offset);
    }
    std::optional<platform::FileState> state() override { return inner_->state(); }
    std::optional<std::uint64_t> size() override { return inner_->size(); }
    bool write(const void* data, std::size_t size) override {
        return !owner_.should_fail(Kind::update_write) && inner_->write(data, size);
    }
    bool set_end(std::uint64_t offset) override { return inner_->set_end(offset); }

private:
    FaultyPlatform& owner_;
    std::unique_ptr<platform::UpdateFile> inner_;
};

// Wraps a sink it owns (files) or only borrows (the standard streams).
class FaultySink final : public platform::Sink {
public:
    FaultySink(FaultyPlatform& owner, std::unique_ptr<platform::Sink> inner)
        : owner_(owner), owned_(std::move(inner)), inner_(owned_.get()) {}
    FaultySink(FaultyPlatform& owner, platform::Sink& inner) : owner_(owner), inner_(&inner) {}
    bool write(const char* data, std::size_t size) override {
        return !owner_.should_fail(Kind::write) && inner_->write(data, size);
    }
    bool flush() override { return !owner_.should_fail(Kind::flush) && inner_->flush(); }
    bool close() override { return !owner_.should_fail(Kind::close) && inner_->close(); }
    bool is_terminal() const override { return inner_->is_terminal(); }
    bool lines_end_crlf() const override { return inner_->lines_end_crlf(); }
    bool is_device() const override { return inner_->is_device(); }

private:
    FaultyPlatform& owner_;
    std::unique_ptr<platform::Sink> owned_;
    platform::Sink* inner_;
};

class FaultySearch final : public platform::DirSearch {
public:
    FaultySearch(FaultyPlatform& owner, std::unique_ptr<platform::DirSearch> inner)
        : owner_(owner), inner_(std::move(inner)) {}
    bool next(platform::FindData& entry) override {
        return !owner_.should_fail(Kind::find_next) && inner_->next(entry);
    }

private:
    FaultyPlatform& owner_;
    std::unique_ptr<platform::DirSearch> inner_;
};

}  // namespace

FaultyPlatform::FaultyPlatform(platform::System& inner) : ForwardingSystem(inner) {}

FaultyPlatform::~FaultyPlatform() = default;

void FaultyPlatform::fail(Kind kind, std::size_t nth, bool persistent) {
    Rule& rule = rules_[static_cast<std::size_t>(kind)];
    rule.armed = true;
    rule.countdown = nth == 0 ? 1 : nth;
    rule.persistent = persistent;
}

void FaultyPlatform::heal(Kind kind) {
    rules_[static_cast<std::size_t>(kind)] = Rule{};
}

void FaultyPlatform::heal_all() {
    rules_.fill(Rule{});
}

std::size_t FaultyPlatform::calls(Kind kind) const {
    return calls_[static_cast<std::size_t>(kind)];
}

std::size_t FaultyPlatform::failures(Kind kind) const {
    return failures_[static_cast<std::size_t>(kind)];
}

bool FaultyPlatform::should_fail(Kind kind) {
    const auto index = static_cast<std::size_t>(kind);
    ++calls_[index];
    Rule& rule = rules_[index];
    if (!rule.armed) return false;
    if (rule.countdown > 1) {
        --rule.countdown;
        return false;
    }
    if (!rule.persistent) rule.armed = false;
    ++failures_[index];
    return true;
}

std::unique_ptr<platform::DirSearch> FaultyPlatform::find_first(std::u16string_view pattern,
                                                                platform::FindData& first,
                                                                platform::SearchDetail detail) {
    refused_ = should_fail(Kind::find_first);
    if (refused_) return nullptr;
    auto search = inner().find_first(pattern, first, detail);
    if (!search) return nullptr;
    return std::make_unique<FaultySearch>(*this, std::move(search));
}

std::unique_ptr<platform::DirHandle> FaultyPlatform::open_directory(std::u16string_view path) {
    refused_ = false;
    return inner().open_directory(path);
}

std::unique_ptr<platform::DirHandle> FaultyPlatform::open_subdirectory(platform::DirHandle& parent,
                                                                       std::u16string_view name) {
    refused_ = false;
    return inner().open_subdirectory(parent, name);
}

bool FaultyPlatform::last_search_refused() {
    return refused_ || inner().last_search_refused();
}

std::unique_ptr<platform::DirSearch> FaultyPlatform::search_directory(
    platform::DirHandle& directory, std::u16string_view path, std::u16string_view mask,
    platform::FindData& first, platform::SearchDetail detail) {
    refused_ = should_fail(Kind::find_first);
    if (refused_) return nullptr;
    auto search = inner().search_directory(directory, path, mask, first, detail);
    if (!search) return nullptr;
    return std::make_unique<FaultySearch>(*this, std::move(search));
}

bool FaultyPlatform::set_attributes(std::u16string_view path, std::uint32_t attributes) {
    return !should_fail(Kind::set_attributes) && inner().set_attributes(path, attributes);
}

bool FaultyPlatform::rename_file(std::u16string_view from, std::u16string_view to) {
    return !should_fail(Kind::rename_file) && inner().rename_file(from, to);
}

bool FaultyPlatform::get_times(std::u16string_view path, platform::FileTicks& creation,
                               platform::FileTicks& access, platform::FileTicks& write) {
    return !should_fail(Kind::get_times) && inner().get_times(path, creation, access, write);
}

bool FaultyPlatform::set_times(std::u16string_view path, platform::FileTicks creation,
                               platform::FileTicks access, platform::FileTicks write) {
    return !should_fail(Kind::set_times) && inner().set_times(path, creation, access, write);
}

std::unique_ptr<platform::InputFile> FaultyPlatform::open_read(std::u16string_view path,
                                                               bool fallback_route) {
    if (should_fail(Kind::open_read)) return nullptr;
    auto file = inner().open_read(path, fallback_route);
    if (!file) return nullptr;
    return std::make_unique<FaultyInput>(*this, std::move(file));
}

std::unique_ptr<platform::InputFile> FaultyPlatform::open_entry(std::u16string_view path,
                                                                bool fallback_route) {
    if (should_fail(Kind::open_read)) return nullptr;
    auto file = inner().open_entry(path, fallback_route);
    if (!file) return nullptr;
    return std::make_unique<FaultyInput>(*this, std::move(file));
}

std::unique_ptr<platform::UpdateFile> FaultyPlatform::open_update(std::u16string_view path,
                                                                  bool create) {
    if (should_fail(Kind::open_update)) return nullptr;
    auto file = inner().open_update(path, create);
    if (!file) return nullptr;
    return std::make_unique<FaultyUpdate>(*this, std::move(file));
}

std::unique_ptr<platform::Sink> FaultyPlatform::open_text(std::u16string_view path,
                                                          platform::OpenMode mode) {
    if (should_fail(Kind::open_text)) return nullptr;
    auto sink = inner().open_text(path, mode);
    if (!sink) return nullptr;
    return std::make_unique<FaultySink>(*this, std::move(sink));
}

platform::Sink& FaultyPlatform::standard_output() {
    if (!out_) out_ = std::make_unique<FaultySink>(*this, inner().standard_output());
    return *out_;
}

platform::Sink& FaultyPlatform::standard_error() {
    if (!err_) err_ = std::make_unique<FaultySink>(*this, inner().standard_error());
    return *err_;
}

}  // namespace testing_support
