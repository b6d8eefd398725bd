#include "console/ImageRows.h"

#include "console/resource.h"

namespace tarnwell {

namespace {

// clang-format off
const std::array<ImageRowInfo, kImageRowCount> kRows = {{
    {ImageRow::Partition, IDC_CHECK_PARTITION, IDC_EDIT_PARTITION, IDC_BROWSE_PARTITION,
     "Partition table", true, true, ".\\partition.mbn",
     "*.Qpart", "partition.mbn", "Browse for partition file"},
    {ImageRow::Obl, IDC_CHECK_OBL, IDC_EDIT_OBL, IDC_BROWSE_OBL,
     "OTP Boot loader", false, false, "",
     "*.Qobl", "obl.mbn", "Browse for OTP Boot loader"},
    {ImageRow::Pbl, IDC_CHECK_PBL, IDC_EDIT_PBL, IDC_BROWSE_PBL,
     "Pri Boot loader", true, true, ".\\pbl.mbn",
     "*.Qpbl", "pbl.mbn", "Browse for Primary Boot Loader"},
    {ImageRow::Qcsblhd, IDC_CHECK_QCSBLHD, IDC_EDIT_QCSBLHD, IDC_BROWSE_QCSBLHD,
     "Sec Boot loader header", true, true, ".\\qcsblhd_cfgdata.mbn",
     "*.Qcsblhd", "qcsblhd_cfgdata.mbn", "Browse for Secondary Boot Loader Header"},
    {ImageRow::Qcsbl, IDC_CHECK_QCSBL, IDC_EDIT_QCSBL, IDC_BROWSE_QCSBL,
     "Sec Boot loader", true, true, ".\\qcsbl.mbn",
     "*.Qcsbl", "qcsbl.mbn", "Browse for Secondary Boot Loader"},
    {ImageRow::Oemsblhd, IDC_CHECK_OEMSBLHD, IDC_EDIT_OEMSBLHD, IDC_BROWSE_OEMSBLHD,
     "OEM Sec Boot loader header", true, true, ".\\oemsblhd.mbn",
     "*.Qoemsbhd", "oemsblhd.mbn", "Browse for OEM Secondary Boot Loader Header"},
    {ImageRow::Oemsbl, IDC_CHECK_OEMSBL, IDC_EDIT_OEMSBL, IDC_BROWSE_OEMSBL,
     "OEM Sec Boot loader ", true, true, ".\\oemsbl.mbn",
     "*.Qoemsbl", "oemsbl.mbn", "Browse for OEM Secondary Boot Loader"},
    {ImageRow::Amsshd, IDC_CHECK_AMSSHD, IDC_EDIT_AMSSHD, IDC_BROWSE_AMSSHD,
     "AMSS Modem Image header", true, true, ".\\amsshd.mbn",
     "*.Qapphd", "amsshd.mbn", "Browse for AMSS Modem Image Header"},
    {ImageRow::Amss, IDC_CHECK_AMSS, IDC_EDIT_AMSS, IDC_BROWSE_AMSS,
     "AMSS Modem Image", true, true, ".\\amss.mbn",
     "*.Qapp", "amss.mbn", "Browse for AMSS Modem Image"},
    {ImageRow::Cefs, IDC_CHECK_CEFS, IDC_EDIT_CEFS, IDC_BROWSE_CEFS,
     "CEFS Image", false, false, "",
     "*.cefs", "*.Qvcefs", "Browse for CEFS file"},
}};
// clang-format on

}  // namespace

const std::array<ImageRowInfo, kImageRowCount>& ImageRows() { return kRows; }

const ImageRowInfo& RowInfo(ImageRow row) { return kRows[static_cast<int>(row)]; }

std::optional<ImageRow> RowOfCheckBox(int controlId) {
    for (const ImageRowInfo& info : kRows)
        if (info.checkId == controlId) return info.row;
    return std::nullopt;
}

std::optional<ImageRow> RowOfBrowseButton(int controlId) {
    for (const ImageRowInfo& info : kRows)
        if (info.browseId == controlId) return info.row;
    return std::nullopt;
}

PairRole RoleOf(ImageRow row) {
    switch (row) {
        case ImageRow::Qcsblhd:
        case ImageRow::Oemsblhd:
        case ImageRow::Amsshd: return PairRole::Header;
        case ImageRow::Qcsbl:
        case ImageRow::Oemsbl:
        case ImageRow::Amss: return PairRole::Image;
        default: return PairRole::None;
    }
}

ImageRow PartnerOf(ImageRow row) {
    switch (row) {
        case ImageRow::Qcsblhd: return ImageRow::Qcsbl;
        case ImageRow::Qcsbl: return ImageRow::Qcsblhd;
        case ImageRow::Oemsblhd: return ImageRow::Oemsbl;
        case ImageRow::Oemsbl: return ImageRow::Oemsblhd;
        case ImageRow::Amsshd: return ImageRow::Amss;
        case ImageRow::Amss: return ImageRow::Amsshd;
        default: return row;
    }
}

}  // namespace tarnwell
