// Loading the filter module through the operating system's library loader.
#pragma once

#include <string>

namespace crest::cli {

class LoadedLibrary {
public:
    // Throws CommandError naming the path when the loader refuses it.
    explicit LoadedLibrary(const std::string& path);
    ~LoadedLibrary();
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;

    // The exported symbol's address, or null when the library has none by that name.
    void* symbol(const char* name) const;

    const std::string& path() const { return path_; }

private:
    std::string path_;
    void* handle_ = nullptr;
};

// crestdoubler.cpf in the folder of the running executable.
std::string defaultModulePath();

}  // namespace crest::cli
