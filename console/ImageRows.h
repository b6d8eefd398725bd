// The ten image rows of the dialog: what each row shows at start, what its
// file dialog offers, and how the header rows pair with their images.
#pragma once

#include <array>
#include <optional>

namespace tarnwell {

// In the order of the engine's SetMbnFile arguments after the handle.
enum class ImageRow { Partition, Obl, Pbl, Qcsblhd, Qcsbl, Oemsblhd, Oemsbl, Amsshd, Amss, Cefs };
constexpr int kImageRowCount = 10;

struct ImageRowInfo {
    ImageRow row;
    int checkId;
    int editId;
    int browseId;
    const char* label;  // check box label
    bool shown;         // check box and path display visible at start
    bool tickedAtStart;
    const char* initialPath;  // text of the path display at start
    const char* pattern;      // file dialog pattern
    const char* defaultName;  // initial file name when the path is empty
    const char* dialogTitle;
};

const std::array<ImageRowInfo, kImageRowCount>& ImageRows();
const ImageRowInfo& RowInfo(ImageRow row);
std::optional<ImageRow> RowOfCheckBox(int controlId);
std::optional<ImageRow> RowOfBrowseButton(int controlId);

// QCSBLHD -> QCSBL, OEMSBLHD -> OEMSBL and AMSSHD -> AMSS: an image of a pair
// cannot be sent without its header.
enum class PairRole { None, Header, Image };
PairRole RoleOf(ImageRow row);
// The other row of a pair; the row itself when it has no partner.
ImageRow PartnerOf(ImageRow row);

}  // namespace tarnwell
