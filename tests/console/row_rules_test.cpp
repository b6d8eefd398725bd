#include "console/RowRules.h"

#include <gtest/gtest.h>

#include <set>

#include "console/FileDialogSetup.h"
#include "console/ImageRows.h"
#include "console/MsmModel.h"
#include "console/resource.h"

namespace tarnwell {
namespace {

TEST(ImageRowTable, EveryControlIdBelongsToExactlyOneRow) {
    std::set<int> ids;
    for (const ImageRowInfo& info : ImageRows()) {
        EXPECT_TRUE(ids.insert(info.checkId).second) << info.label;
        EXPECT_TRUE(ids.insert(info.editId).second) << info.label;
        EXPECT_TRUE(ids.insert(info.browseId).second) << info.label;
        EXPECT_EQ(info.row, RowOfCheckBox(info.checkId));
        EXPECT_EQ(info.row, RowOfBrowseButton(info.browseId));
        EXPECT_EQ(&info, &RowInfo(info.row));
    }
    EXPECT_EQ(30u, ids.size());
    EXPECT_FALSE(RowOfCheckBox(IDC_EDIT_PARTITION).has_value());
    EXPECT_FALSE(RowOfBrowseButton(IDC_CHECK_PARTITION).has_value());
}

TEST(ImageRowTable, RowsFollowTheEngineArgumentOrder) {
    const char* expected[] = {"Partition table",      "OTP Boot loader",
                              "Pri Boot loader",      "Sec Boot loader header",
                              "Sec Boot loader",      "OEM Sec Boot loader header",
                              "OEM Sec Boot loader ", "AMSS Modem Image header",
                              "AMSS Modem Image",     "CEFS Image"};
    for (int i = 0; i < kImageRowCount; ++i) {
        EXPECT_STREQ(expected[i], ImageRows()[i].label);
        EXPECT_EQ(i, static_cast<int>(ImageRows()[i].row));
    }
}

TEST(ImageRowTable, OnlyOblAndCefsAreHiddenAndUntickedWithoutPath) {
    for (const ImageRowInfo& info : ImageRows()) {
        const bool extra = info.row == ImageRow::Obl || info.row == ImageRow::Cefs;
        EXPECT_EQ(!extra, info.shown) << info.label;
        EXPECT_EQ(!extra, info.tickedAtStart) << info.label;
        EXPECT_EQ(extra, IsBlankPath(info.initialPath)) << info.label;
    }
    EXPECT_STREQ(".\\partition.mbn", RowInfo(ImageRow::Partition).initialPath);
    EXPECT_STREQ(".\\qcsblhd_cfgdata.mbn", RowInfo(ImageRow::Qcsblhd).initialPath);
}

TEST(ImageRowTable, PairsLinkHeadersWithTheirImages) {
    const std::pair<ImageRow, ImageRow> pairs[] = {{ImageRow::Qcsblhd, ImageRow::Qcsbl},
                                                   {ImageRow::Oemsblhd, ImageRow::Oemsbl},
                                                   {ImageRow::Amsshd, ImageRow::Amss}};
    for (const auto& [header, image] : pairs) {
        EXPECT_EQ(PairRole::Header, RoleOf(header));
        EXPECT_EQ(PairRole::Image, RoleOf(image));
        EXPECT_EQ(image, PartnerOf(header));
        EXPECT_EQ(header, PartnerOf(image));
    }
    for (ImageRow single : {ImageRow::Partition, ImageRow::Obl, ImageRow::Pbl, ImageRow::Cefs}) {
        EXPECT_EQ(PairRole::None, RoleOf(single));
        EXPECT_EQ(single, PartnerOf(single));
    }
}

TEST(BlankPath, OnlyWhiteSpaceCountsAsEmpty) {
    EXPECT_TRUE(IsBlankPath(""));
    EXPECT_TRUE(IsBlankPath("   "));
    EXPECT_TRUE(IsBlankPath(" \t\r\n"));
    EXPECT_FALSE(IsBlankPath("  a  "));
    EXPECT_FALSE(IsBlankPath(".\\pbl.mbn"));
}

RowToggle Toggle(ImageRow row, bool nowTicked, bool headerTicked, bool imageTicked, std::string path) {
    return RowToggle{row, nowTicked, headerTicked, imageTicked, std::move(path)};
}

TEST(RowToggleRule, UntickingAHeaderWhileItsImageIsTickedIsRefused) {
    for (ImageRow header : {ImageRow::Qcsblhd, ImageRow::Oemsblhd, ImageRow::Amsshd}) {
        EXPECT_EQ(RowClickAction::WarnAndTickAgain, DecideRowToggle(Toggle(header, false, false, true, "x.mbn")));
        // With the image unticked the header may go.
        EXPECT_EQ(RowClickAction::Nothing, DecideRowToggle(Toggle(header, false, false, false, "x.mbn")));
        EXPECT_EQ(RowClickAction::Nothing, DecideRowToggle(Toggle(header, false, false, false, "")));
    }
}

TEST(RowToggleRule, TickingAnImageWithoutItsHeaderIsRefused) {
    for (ImageRow image : {ImageRow::Qcsbl, ImageRow::Oemsbl, ImageRow::Amss}) {
        EXPECT_EQ(RowClickAction::WarnAndUntickAgain, DecideRowToggle(Toggle(image, true, false, false, "x.mbn")));
        // Refused before the empty path could open a file dialog.
        EXPECT_EQ(RowClickAction::WarnAndUntickAgain, DecideRowToggle(Toggle(image, true, false, false, "")));
        EXPECT_EQ(RowClickAction::Nothing, DecideRowToggle(Toggle(image, true, true, false, "x.mbn")));
        EXPECT_EQ(RowClickAction::Nothing, DecideRowToggle(Toggle(image, false, true, false, "")));
    }
}

TEST(RowToggleRule, TickingARowWithABlankPathAsksForAFile) {
    EXPECT_EQ(RowClickAction::OpenFileDialog, DecideRowToggle(Toggle(ImageRow::Partition, true, false, false, "  ")));
    EXPECT_EQ(RowClickAction::OpenFileDialog, DecideRowToggle(Toggle(ImageRow::Cefs, true, false, false, "")));
    EXPECT_EQ(RowClickAction::OpenFileDialog, DecideRowToggle(Toggle(ImageRow::Amsshd, true, false, false, "")));
    EXPECT_EQ(RowClickAction::OpenFileDialog, DecideRowToggle(Toggle(ImageRow::Amss, true, true, false, " ")));
    EXPECT_EQ(RowClickAction::Nothing, DecideRowToggle(Toggle(ImageRow::Obl, true, false, false, "c:\\obl.mbn")));
    // Unticking never asks and never clears.
    EXPECT_EQ(RowClickAction::Nothing, DecideRowToggle(Toggle(ImageRow::Pbl, false, false, false, "")));
}

TEST(FileDialogSetup, FilterOffersThePatternAndTheDefaultName) {
    const std::string filter = FileDialogFilter(RowInfo(ImageRow::Partition));
    const std::string expected("Multi-image Files (*.Qpart; partition.mbn)\0*.Qpart; partition.mbn\0"
                               "All other files (*.*)\0*.*\0\0",
                               sizeof "Multi-image Files (*.Qpart; partition.mbn)\0*.Qpart; partition.mbn\0"
                                      "All other files (*.*)\0*.*\0\0" - 1);
    EXPECT_EQ(expected, filter);
    EXPECT_NE(std::string::npos, FileDialogFilter(RowInfo(ImageRow::Cefs)).find("(*.cefs; *.Qvcefs)"));
}

TEST(FileDialogSetup, InitialNameIsTheCurrentPathOrTheDefault) {
    EXPECT_EQ("partition.mbn", InitialFileName(RowInfo(ImageRow::Partition), "   "));
    EXPECT_EQ("*.Qvcefs", InitialFileName(RowInfo(ImageRow::Cefs), ""));
    EXPECT_EQ(".\\amss.mbn", InitialFileName(RowInfo(ImageRow::Amss), ".\\amss.mbn"));
}

TEST(FileDialogSetup, ExtensionlessChoiceGetsMbn) {
    EXPECT_EQ("C:\\img\\boot.mbn", ChosenRowPath("C:\\img\\boot"));
    EXPECT_EQ("C:\\img\\boot.bin", ChosenRowPath("C:\\img\\boot.bin"));
    // A dot in a directory name is no extension of the file.
    EXPECT_EQ("C:\\v1.2\\boot.mbn", ChosenRowPath("C:\\v1.2\\boot"));
    EXPECT_EQ("/tmp/a.b/boot.mbn", ChosenRowPath("/tmp/a.b/boot"));
}

TEST(FileDialogSetup, ChoiceThatWouldNotFitIsDropped) {
    const std::string dir = "C:\\" + std::string(240, 'd') + "\\";
    const std::string fits = dir + std::string(259 - dir.size() - 4, 'f');
    ASSERT_EQ(259u, fits.size() + 4);
    EXPECT_EQ(fits + ".mbn", ChosenRowPath(fits));
    EXPECT_FALSE(ChosenRowPath(fits + "g").has_value());
    EXPECT_FALSE(ChosenRowPath("").has_value());
}

TEST(MsmModelChoice, ProgrammerPathFollowsTheModel) {
    EXPECT_EQ("C:\\Tools\\NPRG6280.HEX", ProgrammerPath("C:\\Tools", MsmModel::Msm6280));
    EXPECT_EQ("C:\\Tools\\NPRG6250SEC.HEX", ProgrammerPath("C:\\Tools", MsmModel::Msm6250));
    EXPECT_EQ("D:\\NPRG6260.HEX", ProgrammerPath("D:", MsmModel::Msm6260));
    EXPECT_EQ("D:\\NPRG7200A.HEX", ProgrammerPath("D:", MsmModel::Msm7200));
    EXPECT_EQ(MsmModel::Msm6250, kInitialModel);
    // Only MSM6280 is offered to the operator; the others answer to their ids.
    for (const MsmModelInfo& info : MsmModels()) {
        EXPECT_EQ(info.model == MsmModel::Msm6280, info.shown) << info.label;
        EXPECT_EQ(info.model, ModelOfControl(info.controlId));
    }
    EXPECT_EQ(MsmModel::Msm7200, ModelOfControl(IDC_RADIO_MSM7200));
    EXPECT_FALSE(ModelOfControl(IDC_CHECK_SKIP).has_value());
}

}  // namespace
}  // namespace tarnwell
