#include "cli/hosting/module_loader.h"

#include "cli/base/command_error.h"
#include "cli/base/file_access.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>
#endif

namespace crest::cli {

namespace {

constexpr const char* kModuleFileName = "crestdoubler.cpf";

}  // namespace

#if defined(_WIN32)

LoadedLibrary::LoadedLibrary(const std::string& path) : path_(path) {
    // No error dialog boxes for a missing or broken module; the message below says it.
    const UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    handle_ = LoadLibraryA(path.c_str());
    const DWORD error = GetLastError();
    SetErrorMode(previousMode);
    if (handle_ == nullptr)
        throw CommandError("cannot load module " + path + " (Windows error " + std::to_string(error) + ")");
}

LoadedLibrary::~LoadedLibrary() {
    if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
}

void* LoadedLibrary::symbol(const char* name) const {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

std::string defaultModulePath() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return kModuleFileName;
    return folderOf(std::string(path, length)) + "\\" + kModuleFileName;
}

#else

LoadedLibrary::LoadedLibrary(const std::string& path) : path_(path) {
    // Without a slash dlopen would search the library path instead of the
    // current folder, which is not what a user naming a file means.
    const std::string loaderPath = path.find('/') == std::string::npos ? "./" + path : path;
    handle_ = dlopen(loaderPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* reason = dlerror();
        throw CommandError("cannot load module " + path + ": " + (reason != nullptr ? reason : "unknown error"));
    }
}

LoadedLibrary::~LoadedLibrary() {
    if (handle_ != nullptr) dlclose(handle_);
}

void* LoadedLibrary::symbol(const char* name) const { return dlsym(handle_, name); }

std::string defaultModulePath() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof path) return kModuleFileName;
    return folderOf(std::string(path, static_cast<std::size_t>(length))) + "/" + kModuleFileName;
}

#endif

}  // namespace crest::cli
