// The product's facts as the C++ side reads them, stated here again on their
// own: an edit of update/product_facts.cmake that changes one, or a fault in
// the header the build generates from it, is caught.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "update/product.h"

namespace morivane {
namespace {

TEST(ProductFacts, ProductRegistryKeyVersionsAndTimeStamp) {
    EXPECT_STREQ(kProductName, "Morivane");
    EXPECT_STREQ(kProductKeyPrefix, "SOFTWARE\\KESTRON\\");
    EXPECT_STREQ(kUpdatableFileVersion, "1, 0, 0, 1");
    EXPECT_STREQ(kUpdatedFileVersion, "1, 0, 0, 2");
    // The run cuts 12 bytes, the executable's name, off BootDirectory.
    EXPECT_STREQ(kExecutableName, "Morivane.exe");
    EXPECT_EQ(std::strlen(kExecutableName), 12u);

    using namespace std::chrono;
    const sys_seconds stamp = sys_days{year{1998} / October / 15} + hours{15};
    EXPECT_EQ(kUpdateTimestamp, stamp.time_since_epoch().count());
    EXPECT_EQ(kUpdateTimestamp, 908463600);
}

TEST(ProductFacts, FiveFilesInTheOrderOfTheRun) {
    struct Row {
        int payloadId;
        const char* relativePath;
    };
    const Row expected[] = {{130, nullptr},
                            {137, "dat\\Iobjectc.til"},
                            {138, "dat\\Iobjecto.til"},
                            {139, "dat\\Iobjecte.til"},
                            {140, "dat\\Iobjecth.til"}};
    ASSERT_EQ(kUpdateRows, 5);
    for (int row = 0; row < kUpdateRows; ++row) {
        SCOPED_TRACE(row);
        EXPECT_EQ(kUpdateFiles[row].payloadId, expected[row].payloadId);
        if (expected[row].relativePath == nullptr) {
            EXPECT_EQ(kUpdateFiles[row].relativePath, nullptr);
        } else {
            EXPECT_STREQ(kUpdateFiles[row].relativePath, expected[row].relativePath);
        }
    }
}

}  // namespace
}  // namespace morivane
