// How the listener reads the device's answer to the probe.
#include <gtest/gtest.h>

#include <vector>

#include "serial/SerialIO.h"

namespace fennix {
namespace {

using Bytes = std::vector<uint8_t>;

struct Classified {
    bool matched;
    uint32_t mode;
    uint32_t notification;
};

Classified Classify(const Bytes& chunk) {
    Classified c{false, 0, 0};
    c.matched = ClassifyProbeAnswer(chunk.data(), chunk.size(), &c.mode, &c.notification);
    return c;
}

const Bytes kAtAnswer = {0x61, 0x74, 0x0D, 0x0D, 0x0A, 0x4F, 0x4B, 0x0D, 0x0A, 0x1C, 0xD5, 0x7E};

TEST(SerialIOClassify, EachRowGivesItsModeAndNotification) {
    Classified at = Classify(kAtAnswer);
    EXPECT_TRUE(at.matched);
    EXPECT_EQ(kPhoneModeAt, at.mode);
    EXPECT_EQ(kNotifyDS, at.notification);

    Classified diag = Classify({0x14, 0x61, 0x74, 0x0D, 0x1C, 0xD5, 0x7D, 0x5E});
    EXPECT_TRUE(diag.matched);
    EXPECT_EQ(kPhoneModeDIAG, diag.mode);
    EXPECT_EQ(kNotifyDIAG, diag.notification);

    Classified diag2 = Classify({0x13, 0x61, 0x74, 0x0D, 0x62, 0x09, 0x7E});
    EXPECT_TRUE(diag2.matched);
    EXPECT_EQ(kPhoneModeDIAG, diag2.mode);

    Classified dl = Classify({0x7E, 0x02, 0x6A, 0xD3, 0x7E});
    EXPECT_TRUE(dl.matched);
    EXPECT_EQ(kPhoneModeDL, dl.mode);
    EXPECT_EQ(kNotifyDL, dl.notification);
}

TEST(SerialIOClassify, RowsMatchTheStartOfALongerChunk) {
    Bytes longer = kAtAnswer;
    longer.insert(longer.end(), {0x13, 0x06, 0x7E});
    EXPECT_EQ(kPhoneModeAt, Classify(longer).mode);
    EXPECT_EQ(kPhoneModeDL, Classify({0x7E, 0x02, 0x6A, 0xD3, 0x7E, 0x00, 0x11}).mode);
}

TEST(SerialIOClassify, ElevenByteNearMissOfTheAtAnswerIsNoMode) {
    Bytes nearMiss(kAtAnswer.begin(), kAtAnswer.end() - 1);
    EXPECT_FALSE(Classify(nearMiss).matched);
    // One wrong byte anywhere in a row.
    for (size_t i = 0; i < kAtAnswer.size(); ++i) {
        Bytes wrong = kAtAnswer;
        wrong[i] ^= 0x20;
        EXPECT_FALSE(Classify(wrong).matched) << "byte " << i;
    }
    EXPECT_FALSE(Classify({0x7E, 0x02, 0x6A, 0xD3}).matched);
    EXPECT_FALSE(Classify({0x7E, 0x03, 0x6A, 0xD3, 0x7E}).matched);
    EXPECT_FALSE(Classify({0x13, 0x61, 0x74, 0x0D, 0x62, 0x09}).matched);
    EXPECT_FALSE(Classify({}).matched);
}

TEST(SerialIOClassify, TheProbeIsTheAtTextAndANopInDiagForm) {
    const Bytes probe(CSerialIO::kProbe, CSerialIO::kProbe + sizeof CSerialIO::kProbe);
    EXPECT_EQ((Bytes{0x61, 0x74, 0x0D, 0x1C, 0xD5, 0x7E, 0x06, 0x4E, 0x95, 0x7E}), probe);
}

}  // namespace
}  // namespace fennix
