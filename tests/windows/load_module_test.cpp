// Loads crestdoubler.cpf the way the host does, through LoadLibrary and the
// three plain export names, and drives frames through the callbacks of the
// descriptor it registers. Only a real load shows export naming, calling
// convention, virtual slot and 32-bit layout mistakes; the frames are compared
// with the engine linked into this program.
//
// Usage: load_module_test [PATH-TO-MODULE]; the default is the module beside it.
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "engine/enlarger.h"
#include "host/host_interface.h"
#include "tests/support/picture_generator.h"

namespace {

using crest::FilterCallContext;
using crest::FilterDescriptor;
using crest::HostFilterFunctions;

int passedChecks = 0;
int failedChecks = 0;

bool check(bool ok, const char* what, int line) {
    if (ok) {
        ++passedChecks;
    } else {
        ++failedChecks;
        std::printf("load_module_test.cpp:%d: check failed: %s\n", line, what);
    }
    return ok;
}
#define CHECK(condition) check((condition), #condition, __LINE__)

// A host bitmap that counts which virtual slots the module calls. A module
// built with a different member-function convention or table layout lands
// in the wrong slot or corrupts the stack here.
class TestBitmap final : public crest::HostBitmap {
public:
    TestBitmap(std::int32_t frameWidth, std::int32_t frameHeight, std::int32_t rowPadding, bool bottomUp)
        : rowPadding_(rowPadding), bottomUp_(bottomUp) {
        width = frameWidth;
        height = frameHeight;
        allocate();
    }
    TestBitmap(const TestBitmap&) = delete;
    TestBitmap& operator=(const TestBitmap&) = delete;

    void reservedSlot0() override { ++wrongSlotCalls; }
    void reservedSlot1() override { ++wrongSlotCalls; }
    void reservedSlot2() override { ++wrongSlotCalls; }
    void reservedSlot3() override { ++wrongSlotCalls; }
    std::int32_t notifySizeChanged() override {
        ++sizeNotifications;
        allocate();
        return 0;
    }
    void reservedSlot5() override { ++wrongSlotCalls; }
    void reservedSlot6() override { ++wrongSlotCalls; }
    void reservedSlot7() override { ++wrongSlotCalls; }
    void reservedSlot8() override { ++wrongSlotCalls; }
    void reservedSlot9() override { ++wrongSlotCalls; }
    void reservedSlot10() override { ++wrongSlotCalls; }
    void reservedSlot11() override { ++wrongSlotCalls; }
    void fillRectangle(std::int32_t left, std::int32_t top, std::int32_t fillWidth, std::int32_t fillHeight,
                       std::uint32_t value) override {
        if (fills++ == 0) firstFill = {left, top, fillWidth, fillHeight, value};
        for (std::int32_t y = top; y < top + fillHeight; ++y)
            for (std::int32_t x = left; x < left + fillWidth; ++x)
                if (x >= 0 && x < width && y >= 0 && y < height) set(x, y, value);
    }

    std::uint32_t get(std::int32_t x, std::int32_t y) const {
        std::uint32_t pixel;
        std::memcpy(&pixel, address(x, y), sizeof pixel);
        return pixel;
    }
    void set(std::int32_t x, std::int32_t y, std::uint32_t pixel) { std::memcpy(address(x, y), &pixel, sizeof pixel); }
    std::vector<std::uint32_t> allPixels() const {
        std::vector<std::uint32_t> result;
        for (std::int32_t y = 0; y < height; ++y)
            for (std::int32_t x = 0; x < width; ++x) result.push_back(get(x, y));
        return result;
    }

    struct Fill {
        std::int32_t left, top, width, height;
        std::uint32_t value;
    };
    int wrongSlotCalls = 0;
    int sizeNotifications = 0;
    int fills = 0;
    Fill firstFill = {};

private:
    void allocate() {
        const std::size_t rowBytes = 4 * static_cast<std::size_t>(width) + rowPadding_;
        storage_.assign(rowBytes * static_cast<std::size_t>(height), 0x5A);
        if (bottomUp_) {
            pixels = storage_.data() + rowBytes * (height - 1);
            pitch = -static_cast<std::int32_t>(rowBytes);
        } else {
            pixels = storage_.data();
            pitch = static_cast<std::int32_t>(rowBytes);
        }
    }
    unsigned char* address(std::int32_t x, std::int32_t y) const {
        return static_cast<unsigned char*>(pixels) + static_cast<std::ptrdiff_t>(y) * pitch + 4 * x;
    }

    std::int32_t rowPadding_;
    bool bottomUp_;
    std::vector<unsigned char> storage_;
};

void loadPicture(TestBitmap& bitmap, const crest::pictures::Picture& picture) {
    for (std::int32_t y = 0; y < picture.height; ++y)
        for (std::int32_t x = 0; x < picture.width; ++x) bitmap.set(x, y, picture.at(x, y));
}

// What the host's add and remove operations were called with.
struct HostLog {
    int addCalls = 0;
    void* module = nullptr;
    FilterDescriptor* descriptor = nullptr;
    std::int32_t descriptorSize = 0;
    int removeCalls = 0;
    crest::FilterHandle removedHandle = nullptr;
} hostLog;
int filterHandleToken = 0;

crest::FilterHandle FILTER_CDECL fakeAddFilter(void* module, FilterDescriptor* descriptor, std::int32_t size) {
    ++hostLog.addCalls;
    hostLog.module = module;
    hostLog.descriptor = descriptor;
    hostLog.descriptorSize = size;
    return &filterHandleToken;
}

std::int32_t FILTER_CDECL fakeRemoveFilter(crest::FilterHandle handle) {
    ++hostLog.removeCalls;
    hostLog.removedHandle = handle;
    return 1;
}

// Instance memory as the host hands it out: exactly the declared size, with
// guard bytes behind it to catch a module that uses more.
constexpr std::size_t kInstanceBytes = 244;
constexpr unsigned char kGuard = 0xA5;
struct InstanceMemory {
    alignas(16) unsigned char bytes[kInstanceBytes + 64];
    InstanceMemory() { std::memset(bytes, kGuard, sizeof bytes); }
    bool guardIntact() const {
        for (std::size_t i = kInstanceBytes; i < sizeof bytes; ++i)
            if (bytes[i] != kGuard) return false;
        return true;
    }
};

// The module's exported names, read from its loaded export directory.
std::set<std::string> exportedNames(HMODULE module, DWORD* functionCount) {
    const auto* base = reinterpret_cast<const unsigned char*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& entry = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    std::set<std::string> names;
    *functionCount = 0;
    if (entry.VirtualAddress == 0) return names;
    const auto* directory = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);
    *functionCount = directory->NumberOfFunctions;
    const auto* nameOffsets = reinterpret_cast<const DWORD*>(base + directory->AddressOfNames);
    for (DWORD i = 0; i < directory->NumberOfNames; ++i)
        names.insert(reinterpret_cast<const char*>(base + nameOffsets[i]));
    return names;
}

bool insideImage(HMODULE module, const void* pointer) {
    const auto* base = reinterpret_cast<const unsigned char*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
    const auto* address = static_cast<const unsigned char*>(pointer);
    return address >= base && address < base + nt->OptionalHeader.SizeOfImage;
}

// GetProcAddress's type says nothing; the detour through void (*)() tells
// the compiler that the cast to the real type is meant.
template <typename Entry>
Entry entryPoint(HMODULE module, const char* name) {
    return reinterpret_cast<Entry>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

std::string moduleBesideProgram() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string result(path, length);
    const std::size_t slash = result.find_last_of("\\/");
    result.erase(slash == std::string::npos ? 0 : slash + 1);
    return result + "crestdoubler.cpf";
}

// The frame as the engine linked into this program makes it.
std::vector<std::uint32_t> expectedFrame(const crest::pictures::Picture& picture) {
    TestBitmap source(picture.width, picture.height, 0, false);
    loadPicture(source, picture);
    TestBitmap destination(2 * picture.width, 2 * picture.height, 0, false);
    crest::EnlargerState state;
    const crest::FrameView to{static_cast<std::uint8_t*>(destination.pixels), destination.width, destination.height,
                              destination.pitch};
    const crest::ConstFrameView from{static_cast<const std::uint8_t*>(source.pixels), source.width, source.height,
                                     source.pitch};
    if (crest::enlargeFrame(state, to, from) != 0) return {};
    return destination.allPixels();
}

// One frame through the module's callbacks, with a padded source and a
// bottom-up destination: the host's layouts, not the engine's favourite ones.
void runFrameThroughModule(const FilterDescriptor& descriptor, const HostFilterFunctions& functions,
                           void* instance, const crest::pictures::Picture& picture) {
    TestBitmap source(picture.width, picture.height, 12, false);
    loadPicture(source, picture);
    TestBitmap destination(picture.width, picture.height, 8, true);
    const FilterCallContext context{nullptr, instance, &destination, &source};

    CHECK(descriptor.sizeCallback(&context, &functions) == 1);
    CHECK(destination.width == 2 * picture.width);
    CHECK(destination.height == 2 * picture.height);
    CHECK(destination.sizeNotifications == 1);

    CHECK(descriptor.startCallback(&context, &functions) == 0);
    CHECK(descriptor.runCallback(&context, &functions) == 0);
    CHECK(destination.fills >= 1);
    CHECK(destination.firstFill.left == 0 && destination.firstFill.top == 0);
    CHECK(destination.firstFill.width == destination.width && destination.firstFill.height == destination.height);
    CHECK(destination.firstFill.value == crest::kMarkerPixel);
    CHECK(source.wrongSlotCalls == 0 && destination.wrongSlotCalls == 0);

    const std::vector<std::uint32_t> produced = destination.allPixels();
    const std::vector<std::uint32_t> expected = expectedFrame(picture);
    CHECK(!expected.empty());
    if (!CHECK(produced == expected))
        std::printf("  frame %dx%d differs from the engine linked into the test\n", static_cast<int>(picture.width),
                    static_cast<int>(picture.height));
    CHECK(descriptor.endCallback(&context, &functions) == 0);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string path = argc > 1 ? argv[1] : moduleBesideProgram();
    HMODULE module = LoadLibraryA(path.c_str());
    if (!CHECK(module != nullptr)) {
        std::printf("cannot load %s (error %lu)\n", path.c_str(), static_cast<unsigned long>(GetLastError()));
        std::printf("%d passed, %d failed\n", passedChecks, failedChecks);
        return 1;
    }

    // Exactly the three entry points, under their plain names.
    DWORD functionCount = 0;
    const std::set<std::string> names = exportedNames(module, &functionCount);
    CHECK(functionCount == 3);
    CHECK((names == std::set<std::string>{crest::kCheckVersionEntryName, crest::kInitEntryName,
                                          crest::kDeinitEntryName}));
    const auto checkVersion = entryPoint<crest::CheckVersionEntry>(module, crest::kCheckVersionEntryName);
    const auto init = entryPoint<crest::InitEntry>(module, crest::kInitEntryName);
    const auto deinit = entryPoint<crest::DeinitEntry>(module, crest::kDeinitEntryName);
    if (!CHECK(checkVersion != nullptr && init != nullptr && deinit != nullptr)) {
        std::printf("%d passed, %d failed\n", passedChecks, failedChecks);
        return 1;
    }

    CHECK(checkVersion() == 9);

    const HostFilterFunctions functions{fakeAddFilter, fakeRemoveFilter};
    std::int32_t firstVersion = -1;
    std::int32_t secondVersion = -1;
    CHECK(init(module, &functions, &firstVersion, &secondVersion) == 0);
    CHECK(firstVersion == 9 && secondVersion == 9);
    CHECK(hostLog.addCalls == 1);
    CHECK(hostLog.module == module);
    CHECK(hostLog.descriptorSize == 88);
    if (!CHECK(hostLog.descriptor != nullptr)) {
        std::printf("%d passed, %d failed\n", passedChecks, failedChecks);
        return 1;
    }

    // The descriptor as the host reads it: 22 words.
    const FilterDescriptor& descriptor = *hostLog.descriptor;
    std::uint32_t words[22];
    std::memcpy(words, &descriptor, sizeof words);
    CHECK(words[0] == 0 && words[1] == 0 && words[2] == 0);
    CHECK(words[3] != 0 && std::strcmp(reinterpret_cast<const char*>(words[3]), "crestdoubler") == 0);
    CHECK(words[4] != 0 && words[5] != 0);
    CHECK(words[7] == kInstanceBytes);
    for (int slot : {8, 9, 10, 11, 14, 15, 21})
        if (!CHECK(words[slot] != 0 && insideImage(module, reinterpret_cast<const void*>(words[slot]))))
            std::printf("  descriptor word %d is not a callback in the module\n", slot);
    for (int slot : {6, 12, 13, 16, 17, 18, 19, 20})
        if (!CHECK(words[slot] == 0)) std::printf("  descriptor word %d should be empty\n", slot);

    // An instance, two frames of different sizes through it, then a copy of
    // it running a third.
    InstanceMemory instance;
    const FilterCallContext instanceContext{nullptr, instance.bytes, nullptr, nullptr};
    CHECK(descriptor.initCallback(&instanceContext, &functions) == 0);
    runFrameThroughModule(descriptor, functions, instance.bytes,
                          crest::pictures::makePicture(crest::pictures::Content::natural, 37, 23, 7));
    runFrameThroughModule(descriptor, functions, instance.bytes,
                          crest::pictures::makePicture(crest::pictures::Content::noise, 8, 5, 8));

    InstanceMemory copy;
    descriptor.copyCallback(&instanceContext, &functions, copy.bytes);
    runFrameThroughModule(descriptor, functions, copy.bytes,
                          crest::pictures::makePicture(crest::pictures::Content::strokes, 19, 30, 9));
    const FilterCallContext copyContext{nullptr, copy.bytes, nullptr, nullptr};
    descriptor.deinitCallback(&copyContext, &functions);
    descriptor.deinitCallback(&instanceContext, &functions);
    CHECK(instance.guardIntact());
    CHECK(copy.guardIntact());

    // No instance memory: the run reports it instead of crashing.
    TestBitmap source(2, 2, 0, false);
    TestBitmap destination(4, 4, 0, false);
    const FilterCallContext emptyContext{nullptr, nullptr, &destination, &source};
    CHECK(descriptor.runCallback(&emptyContext, &functions) == 3);

    // Deinit hands back the handle from the add operation, once.
    deinit(module, &functions);
    CHECK(hostLog.removeCalls == 1);
    CHECK(hostLog.removedHandle == &filterHandleToken);
    deinit(module, &functions);
    CHECK(hostLog.removeCalls == 1);

    CHECK(FreeLibrary(module) != 0);

    std::printf("%d passed, %d failed\n", passedChecks, failedChecks);
    return failedChecks == 0 ? 0 : 1;
}
