// Libraries loaded on demand (dlopen), each closed when it goes.
#include <dlfcn.h>

#include <string>

#include "platform/posix/posix_internal.hpp"

namespace platform::posix {

namespace {

class PosixLibrary final : public SharedLibrary {
public:
    explicit PosixLibrary(void* handle) : handle_(handle) {}
    ~PosixLibrary() override { ::dlclose(handle_); }
    PosixLibrary(const PosixLibrary&) = delete;
    PosixLibrary& operator=(const PosixLibrary&) = delete;
    void (*function(const char* name))() override {
        return reinterpret_cast<void (*)()>(::dlsym(handle_, name));
    }

private:
    void* handle_;
};

}  // namespace

std::unique_ptr<SharedLibrary> PosixSystem::load_library(std::string_view name) {
    void* handle = ::dlopen(std::string(name).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) return nullptr;
    return std::make_unique<PosixLibrary>(handle);
}

}  // namespace platform::posix
