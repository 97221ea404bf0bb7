// The module as a host sees it: loaded through the OS loader, reached only
// through its exported entry points and the descriptor they register.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "engine/enlarger.h"
#include "tests/host/fake_host.h"
#include "tests/support/frame_helpers.h"

namespace crest {
namespace {

using testing::hostCalls;
using testing::InstanceDriver;

class LoadedModule : public ::testing::Test {
protected:
    void SetUp() override {
        handle_ = dlopen(CRESTDOUBLER_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle_, nullptr) << dlerror();
        checkVersion_ = reinterpret_cast<CheckVersionEntry>(dlsym(handle_, kCheckVersionEntryName));
        init_ = reinterpret_cast<InitEntry>(dlsym(handle_, kInitEntryName));
        deinit_ = reinterpret_cast<DeinitEntry>(dlsym(handle_, kDeinitEntryName));
        ASSERT_NE(checkVersion_, nullptr);
        ASSERT_NE(init_, nullptr);
        ASSERT_NE(deinit_, nullptr);
        hostCalls() = {};
    }
    void TearDown() override {
        if (handle_ != nullptr) dlclose(handle_);
    }

    // Registers the filter and returns the descriptor the module handed over.
    const FilterDescriptor& registerFilter() {
        static int token;
        hostCalls().handleToReturn = &token;
        std::int32_t first = 0, second = 0;
        EXPECT_EQ(init_(this, &testing::fakeHostFunctions(), &first, &second), 0);
        return *hostCalls().addDescriptor;
    }

    void* handle_ = nullptr;
    CheckVersionEntry checkVersion_ = nullptr;
    InitEntry init_ = nullptr;
    DeinitEntry deinit_ = nullptr;
};

TEST_F(LoadedModule, ExportsOnlyItsThreeEntryPoints) {
    // Engine and callback symbols stay inside the module.
    for (const char* hidden : {"_ZN5crest12enlargeFrameERNS_13EnlargerStateERKNS_9FrameViewERKNS_14ConstFrameViewE",
                               "_ZN5crest12initInstanceEPKNS_17FilterCallContextEPKNS_19HostFilterFunctionsE",
                               "_ZN5crest16filterDescriptorEv", "filterHandle"})
        EXPECT_EQ(dlsym(handle_, hidden), nullptr) << hidden;
}

TEST_F(LoadedModule, ReportsVersionNine) { EXPECT_EQ(checkVersion_(), 9); }

TEST_F(LoadedModule, InitRegistersTheDescriptorAndWritesBothVersions) {
    for (bool hostReturnsNull : {false, true}) {
        hostCalls() = {};
        static int token;
        hostCalls().handleToReturn = hostReturnsNull ? nullptr : &token;
        std::int32_t first = 0, second = 0;
        int moduleValue;
        EXPECT_EQ(init_(&moduleValue, &testing::fakeHostFunctions(), &first, &second), 0);
        EXPECT_EQ(first, 9);
        EXPECT_EQ(second, 9);
        EXPECT_EQ(hostCalls().adds, 1);
        EXPECT_EQ(hostCalls().addModule, &moduleValue);
        EXPECT_EQ(hostCalls().addSize, static_cast<std::int32_t>(sizeof(FilterDescriptor)));
        if (sizeof(void*) == 4) {
            EXPECT_EQ(hostCalls().addSize, 88);
        }
        deinit_(nullptr, &testing::fakeHostFunctions());
        EXPECT_EQ(hostCalls().removes, hostReturnsNull ? 0 : 1);
    }
}

TEST_F(LoadedModule, DescriptorNamesTheFilterAndListsItsCallbacks) {
    const FilterDescriptor& d = registerFilter();
    EXPECT_STREQ(d.name, "crestdoubler");
    EXPECT_STREQ(d.maker, "Orlenwick");
    EXPECT_STREQ(d.description,
                 "Performs a 2:1 enlargement on an image while preserving edges, using the Li-Orchard algorithm.");
    EXPECT_EQ(d.instanceDataSize, sizeof(EnlargerState));
    if (sizeof(void*) == 4) {
        EXPECT_EQ(d.instanceDataSize, 244u);
    }
    for (void* reserved : d.hostReserved) EXPECT_EQ(reserved, nullptr);
    EXPECT_EQ(d.privateData, nullptr);
    EXPECT_EQ(d.unusedSlot12, nullptr);
    EXPECT_EQ(d.unusedSlot13, nullptr);
    for (void* unused : d.unusedSlots16To20) EXPECT_EQ(unused, nullptr);
    for (const void* callback :
         {reinterpret_cast<const void*>(d.initCallback), reinterpret_cast<const void*>(d.deinitCallback),
          reinterpret_cast<const void*>(d.runCallback), reinterpret_cast<const void*>(d.sizeCallback),
          reinterpret_cast<const void*>(d.startCallback), reinterpret_cast<const void*>(d.endCallback),
          reinterpret_cast<const void*>(d.copyCallback)})
        EXPECT_NE(callback, nullptr);
    deinit_(nullptr, &testing::fakeHostFunctions());
}

TEST_F(LoadedModule, DeinitGivesTheHandleBackExactlyOnce) {
    deinit_(nullptr, &testing::fakeHostFunctions());
    EXPECT_EQ(hostCalls().removes, 0) << "no handle held yet";
    registerFilter();
    const FilterHandle handle = hostCalls().handleToReturn;
    deinit_(nullptr, &testing::fakeHostFunctions());
    EXPECT_EQ(hostCalls().removes, 1);
    EXPECT_EQ(hostCalls().removedHandle, handle);
    deinit_(nullptr, &testing::fakeHostFunctions());
    EXPECT_EQ(hostCalls().removes, 1);
}

TEST_F(LoadedModule, SizeDoublesBothFieldsBeforeTellingTheBitmap) {
    const FilterDescriptor& d = registerFilter();
    testing::ProbeBitmap destination(320, 240);
    FilterCallContext context{nullptr, nullptr, &destination, nullptr};
    EXPECT_EQ(d.sizeCallback(&context, &testing::fakeHostFunctions()), 1);
    EXPECT_EQ(destination.width, 640);
    EXPECT_EQ(destination.height, 480);
    ASSERT_EQ(destination.notifiedSizes.size(), 1u);
    EXPECT_EQ(destination.notifiedSizes[0], (std::pair<std::int32_t, std::int32_t>{640, 480}));
    deinit_(nullptr, &testing::fakeHostFunctions());
}

TEST_F(LoadedModule, InstanceLifecycleProducesTheEnginesFrames) {
    const FilterDescriptor& d = registerFilter();
    const auto first = pictures::makePicture(pictures::Content::natural, 41, 27, 1);
    const auto second = pictures::makePicture(pictures::Content::noise, 12, 30, 2);
    InstanceDriver instance(d);
    ASSERT_EQ(instance.init(), 0);
    EXPECT_EQ(d.startCallback(&instance.context, &testing::fakeHostFunctions()), 0);
    // Frames with and without end between them, and of changing sizes.
    for (bool end : {false, true, true, false}) {
        for (const auto* picture : {&first, &second}) {
            const auto frame = instance.enlarge(*picture, end);
            EXPECT_EQ(frame.result, 0);
            EXPECT_EQ(frame.pixels, testing::enlarge(*picture).pixels);
        }
    }
    EXPECT_EQ(d.endCallback(&instance.context, &testing::fakeHostFunctions()), 0);
    instance.deinit();
    deinit_(nullptr, &testing::fakeHostFunctions());
}

// Run fills the destination with the marker through the bitmap first; a frame
// the engine refuses keeps it whole.
TEST_F(LoadedModule, RunFillsTheDestinationWithTheMarkerFirst) {
    const FilterDescriptor& d = registerFilter();
    InstanceDriver instance(d);
    ASSERT_EQ(instance.init(), 0);
    FrameBitmap source(4, 3);
    for (const std::int32_t destinationWidth : {8, 7}) {
        FrameBitmap destination(destinationWidth, 6);
        instance.context.source = &source;
        instance.context.destination = &destination;
        const bool doubled = destinationWidth == 8;
        EXPECT_EQ(d.runCallback(&instance.context, &testing::fakeHostFunctions()) == 0, doubled);
        EXPECT_EQ(destination.fills(), 1);
        int markers = 0;
        for (std::int32_t y = 0; y < destination.height; ++y)
            for (std::int32_t x = 0; x < destination.width; ++x) markers += destination.get(x, y) == kMarkerPixel;
        EXPECT_EQ(markers, doubled ? 0 : 7 * 6);
    }
    instance.context.source = instance.context.destination = nullptr;
    instance.deinit();
    deinit_(nullptr, &testing::fakeHostFunctions());
}

TEST_F(LoadedModule, CopyOutlivesItsOriginal) {
    const FilterDescriptor& d = registerFilter();
    const auto picture = pictures::makePicture(pictures::Content::natural, 33, 21, 4);
    auto original = std::make_unique<InstanceDriver>(d);
    ASSERT_EQ(original->init(), 0);
    const auto expected = original->enlarge(picture, false);

    InstanceDriver copy(d);
    d.copyCallback(&original->context, &testing::fakeHostFunctions(), copy.memory.data());
    original->deinit();
    std::memset(original->memory.data(), 0xEE, original->memory.size());
    original.reset();
    for (int i = 0; i < 2; ++i) {
        const auto frame = copy.enlarge(picture);
        EXPECT_EQ(frame.result, 0);
        EXPECT_EQ(frame.pixels, expected.pixels);
    }
    copy.deinit();
    deinit_(nullptr, &testing::fakeHostFunctions());
}

TEST_F(LoadedModule, NullInstanceMemoryIsLeftAlone) {
    const FilterDescriptor& d = registerFilter();
    FilterCallContext empty{};
    EXPECT_EQ(d.initCallback(&empty, &testing::fakeHostFunctions()), 0);
    InstanceDriver instance(d);
    ASSERT_EQ(instance.init(), 0);
    const std::vector<std::uint8_t> before = instance.memory;
    d.copyCallback(&instance.context, &testing::fakeHostFunctions(), nullptr);
    EXPECT_EQ(instance.memory, before);
    EXPECT_NE(d.runCallback(&empty, &testing::fakeHostFunctions()), 0) << "no instance, no frame";
    instance.deinit();
    deinit_(nullptr, &testing::fakeHostFunctions());
}

}  // namespace
}  // namespace crest
