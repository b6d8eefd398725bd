// Drives a running Tarnwell.exe as an operator would, from another process:
// opens the port selectors, starts the eight slots against virtual devices,
// reads the log lists, their colours, the message boxes and DownloadOne.txt,
// and checks a picture of the dialog.
// The tests share one Tarnwell process and run in the order written.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "console/resource.h"
#include "gui_picture.h"
#include "gui_remote.h"

namespace tarnwell_gui {
namespace {

struct Options {
    std::string tarnwell;       // Windows path of Tarnwell.exe
    std::string workDirectory;  // its start directory, holding the image files
    std::string screenshot;     // where the picture of the running downloads goes
    std::vector<int> ports;     // COM number given to each slot, in slot order
    int failingSlot = 0;        // 1..8: the slot whose device fails the download
    DWORD downloadTimeoutMs = 150000;
};
Options g_options;

constexpr int kSlots = 8;
const int kSelector[kSlots] = {IDC_COMBO_SLOT1, IDC_COMBO_SLOT2, IDC_COMBO_SLOT3, IDC_COMBO_SLOT4,
                               IDC_COMBO_SLOT5, IDC_COMBO_SLOT6, IDC_COMBO_SLOT7, IDC_COMBO_SLOT8};
const int kStart[kSlots] = {IDC_START_SLOT1, IDC_START_SLOT2, IDC_START_SLOT3, IDC_START_SLOT4,
                            IDC_START_SLOT5, IDC_START_SLOT6, IDC_START_SLOT7, IDC_START_SLOT8};
const int kList[kSlots] = {IDC_LIST_SLOT1, IDC_LIST_SLOT2, IDC_LIST_SLOT3, IDC_LIST_SLOT4,
                           IDC_LIST_SLOT5, IDC_LIST_SLOT6, IDC_LIST_SLOT7, IDC_LIST_SLOT8};
const char* const kSlotNames[kSlots] = {"One", "Two", "Three", "Four", "Five", "Six", "Seven", "Eight"};

constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kRed = RGB(224, 0, 0);
constexpr COLORREF kGrey = RGB(128, 128, 128);
constexpr COLORREF kLightGrey = RGB(224, 224, 224);

std::string Hex(COLORREF colour) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02X%02X%02X", GetRValue(colour), GetGValue(colour), GetBValue(colour));
    return text;
}

const std::regex kStampedLine(R"(\[[0-5][0-9]:[0-5][0-9]:0[0-9]{3}\] .*)");

class TarnwellGui : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_process = new RemoteProcess;
        if (!s_process->Launch(g_options.tarnwell, g_options.workDirectory)) {
            std::fprintf(stderr, "cannot start %s: error %lu\n", g_options.tarnwell.c_str(), GetLastError());
            return;
        }
        s_dialog = s_process->FindTopLevel("#32770", "Tarnwell", 30000);
    }
    static void TearDownTestSuite() {
        s_process->Kill();
        delete s_process;
        s_process = nullptr;
    }
    void SetUp() override { ASSERT_NE(nullptr, s_dialog) << "no Tarnwell dialog"; }

    static HWND Item(int id) { return GetDlgItem(s_dialog, id); }
    static void Click(int id) { PostMessageA(Item(id), BM_CLICK, 0, 0); }
    static std::vector<std::string> Lines(int slot) { return s_process->ListLines(Item(kList[slot])); }
    static std::string ReadWorkFile(const char* name) {
        std::ifstream in(g_options.workDirectory + "\\" + name, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static std::vector<std::string> SplitLines(const std::string& text) {
        std::vector<std::string> lines;
        std::istringstream in(text);
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back(line);
        }
        return lines;
    }
    static bool EndsWith(const std::string& text, const std::string& tail) {
        return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
    }
    static std::string LastLine(int slot) { return s_process->ListLine(Item(kList[slot]), -1); }
    static std::string FirstLine(int slot) { return s_process->ListLine(Item(kList[slot]), 0); }
    static int LineCount(int slot) { return static_cast<int>(SendMessageA(Item(kList[slot]), LVM_GETITEMCOUNT, 0, 0)); }
    // A download ends with its success line or with its first failure line
    // ("... Failed!!", "Reset Failed....").
    static bool IsFinalLine(const std::string& line) {
        return EndsWith(line, "] Download Process Success!!") || line.find(" Failed") != std::string::npos;
    }
    static bool AllSlotsFinished() {
        for (int slot = 0; slot < kSlots; ++slot)
            if (!IsFinalLine(LastLine(slot))) return false;
        return true;
    }

    static RemoteProcess* s_process;
    static HWND s_dialog;
};
RemoteProcess* TarnwellGui::s_process = nullptr;
HWND TarnwellGui::s_dialog = nullptr;

TEST_F(TarnwellGui, DialogOpensWithTheImageRowsAsLaidOut) {
    struct Row {
        int check, edit, browse;
        const char* label;
        bool shown, ticked;
        const char* path;
    };
    const Row rows[] = {
        {IDC_CHECK_PARTITION, IDC_EDIT_PARTITION, IDC_BROWSE_PARTITION, "Partition table", true, true,
         ".\\partition.mbn"},
        {IDC_CHECK_OBL, IDC_EDIT_OBL, IDC_BROWSE_OBL, "OTP Boot loader", false, false, ""},
        {IDC_CHECK_PBL, IDC_EDIT_PBL, IDC_BROWSE_PBL, "Pri Boot loader", true, true, ".\\pbl.mbn"},
        {IDC_CHECK_QCSBLHD, IDC_EDIT_QCSBLHD, IDC_BROWSE_QCSBLHD, "Sec Boot loader header", true, true,
         ".\\qcsblhd_cfgdata.mbn"},
        {IDC_CHECK_QCSBL, IDC_EDIT_QCSBL, IDC_BROWSE_QCSBL, "Sec Boot loader", true, true, ".\\qcsbl.mbn"},
        {IDC_CHECK_OEMSBLHD, IDC_EDIT_OEMSBLHD, IDC_BROWSE_OEMSBLHD, "OEM Sec Boot loader header", true, true,
         ".\\oemsblhd.mbn"},
        {IDC_CHECK_OEMSBL, IDC_EDIT_OEMSBL, IDC_BROWSE_OEMSBL, "OEM Sec Boot loader ", true, true, ".\\oemsbl.mbn"},
        {IDC_CHECK_AMSSHD, IDC_EDIT_AMSSHD, IDC_BROWSE_AMSSHD, "AMSS Modem Image header", true, true, ".\\amsshd.mbn"},
        {IDC_CHECK_AMSS, IDC_EDIT_AMSS, IDC_BROWSE_AMSS, "AMSS Modem Image", true, true, ".\\amss.mbn"},
        {IDC_CHECK_CEFS, IDC_EDIT_CEFS, IDC_BROWSE_CEFS, "CEFS Image", false, false, ""},
    };
    EXPECT_EQ("Tarnwell", WindowText(s_dialog));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        EXPECT_EQ(row.label, WindowText(Item(row.check)));
        EXPECT_EQ(row.shown, IsShown(Item(row.check)));
        EXPECT_EQ(row.shown, IsShown(Item(row.edit)));
        EXPECT_FALSE(IsShown(Item(row.browse)));
        EXPECT_EQ("...", WindowText(Item(row.browse)));
        EXPECT_EQ(row.ticked, IsTicked(Item(row.check)));
        EXPECT_EQ(row.path, WindowText(Item(row.edit)));
    }
}

TEST_F(TarnwellGui, DialogOpensWithModelsSlotsAndButtonsAsLaidOut) {
    const struct {
        int id;
        const char* label;
        bool shown, ticked;
    } models[] = {{IDC_RADIO_MSM6250, "MSM6250", false, true},
                  {IDC_RADIO_MSM6260, "MSM6260", false, false},
                  {IDC_RADIO_MSM6280, "MSM6280", true, false},
                  {IDC_RADIO_MSM7200, "MSM7200", false, false}};
    for (const auto& model : models) {
        SCOPED_TRACE(model.label);
        EXPECT_EQ(model.label, WindowText(Item(model.id)));
        EXPECT_EQ(model.shown, IsShown(Item(model.id)));
        EXPECT_EQ(model.ticked, IsTicked(Item(model.id)));
    }
    EXPECT_EQ("SKIP CHECKING STATUS", WindowText(Item(IDC_CHECK_SKIP)));
    EXPECT_FALSE(IsShown(Item(IDC_CHECK_SKIP)));
    EXPECT_FALSE(IsTicked(Item(IDC_CHECK_SKIP)));
    EXPECT_EQ("Button1", WindowText(Item(IDC_BUTTON1)));
    EXPECT_FALSE(IsShown(Item(IDC_BUTTON1)));
    EXPECT_EQ("START DOWNLOAD", WindowText(Item(IDC_START_DOWNLOAD)));
    EXPECT_EQ("Cancel", WindowText(Item(IDCANCEL)));
    for (int slot = 0; slot < kSlots; ++slot) {
        SCOPED_TRACE(kSlotNames[slot]);
        EXPECT_EQ(std::string("Start") + kSlotNames[slot], WindowText(Item(kStart[slot])));
        EXPECT_TRUE(IsShown(Item(kSelector[slot])));
        EXPECT_EQ(0u, ComboItems(Item(kSelector[slot])).size());
        const HWND list = Item(kList[slot]);
        EXPECT_EQ("SysListView32", ClassName(list));
        EXPECT_EQ(kBlack, ListBackground(list));
        EXPECT_EQ(kBlack, ListTextBackground(list));
        EXPECT_EQ(kLightGrey, static_cast<COLORREF>(SendMessageA(list, LVM_GETTEXTCOLOR, 0, 0)));
        EXPECT_EQ(600, SendMessageA(list, LVM_GETCOLUMNWIDTH, 0, 0));
        EXPECT_EQ(0, SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    }
    EXPECT_TRUE(IsWindowEnabled(Item(IDC_START_SLOT1)));
}

TEST_F(TarnwellGui, AboutBoxOpensFromTheSystemMenu) {
    PostMessageA(s_dialog, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    HWND about = s_process->FindTopLevel("#32770", "About Tarnwell", 10000);
    ASSERT_NE(nullptr, about);
    bool versionShown = false;
    for (HWND child = GetWindow(about, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
        versionShown |= WindowText(child) == "Tarnwell Version 1.0";
    EXPECT_TRUE(versionShown);
    EXPECT_EQ("OK", WindowText(GetDlgItem(about, IDOK)));
    PostMessageA(GetDlgItem(about, IDOK), BM_CLICK, 0, 0);
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(about); }, 10000));
}

TEST_F(TarnwellGui, HeaderStaysTickedWhileItsImageIsTicked) {
    for (int header : {IDC_CHECK_QCSBLHD, IDC_CHECK_OEMSBLHD, IDC_CHECK_AMSSHD}) {
        Click(header);
        std::string text;
        ASSERT_TRUE(s_process->AnswerMessageBox(&text, 10000)) << s_process->DescribeWindows();
        EXPECT_EQ("You cannot download this image without its header file.", text);
        EXPECT_TRUE(WaitFor([&] { return IsTicked(Item(header)); }, 5000));
    }
    EXPECT_TRUE(s_process->MessageBoxes().empty());
}

TEST_F(TarnwellGui, ChoosingMsm6280MovesTheChoice) {
    // The run below needs the programmer of this model (NPRG6280.HEX).
    Click(IDC_RADIO_MSM6280);
    EXPECT_TRUE(WaitFor([&] { return IsTicked(Item(IDC_RADIO_MSM6280)); }, 5000));
    EXPECT_FALSE(IsTicked(Item(IDC_RADIO_MSM6250)));
    EXPECT_FALSE(IsTicked(Item(IDC_RADIO_MSM6260)));
    EXPECT_FALSE(IsTicked(Item(IDC_RADIO_MSM7200)));
}

TEST_F(TarnwellGui, SlotsWithoutAPortSayNoneComPortSelected) {
    Click(IDC_START_DOWNLOAD);
    const bool allLogged = WaitFor(
        [&] {
            for (int slot = 0; slot < kSlots; ++slot)
                if (LineCount(slot) == 0) return false;
            return true;
        },
        20000, 200);
    ASSERT_TRUE(allLogged);
    Sleep(300);
    for (int slot = 0; slot < kSlots; ++slot) {
        const std::vector<std::string> lines = Lines(slot);
        ASSERT_EQ(1u, lines.size()) << kSlotNames[slot];
        EXPECT_TRUE(std::regex_match(lines[0], kStampedLine)) << lines[0];
        EXPECT_TRUE(EndsWith(lines[0], "] None ComPort Selected")) << lines[0];
        EXPECT_EQ(kBlack, ListBackground(Item(kList[slot])));
    }
    EXPECT_EQ(Lines(0), SplitLines(ReadWorkFile("DownloadOne.txt")));
    EXPECT_TRUE(s_process->MessageBoxes().empty());
}

TEST_F(TarnwellGui, SelectorsListTheVirtualPortsInTextOrder) {
    std::vector<std::string> expected;
    for (int port : g_options.ports) expected.push_back("COM " + std::to_string(port));
    std::sort(expected.begin(), expected.end(),
              [](const std::string& a, const std::string& b) { return lstrcmpiA(a.c_str(), b.c_str()) < 0; });
    // A pointer resting where a list drops down would pick the item under it.
    SetCursorPos(0, 0);
    for (int slot = 0; slot < kSlots; ++slot) {
        SCOPED_TRACE(kSlotNames[slot]);
        const HWND selector = Item(kSelector[slot]);
        // Opening the selector refills it.
        SendMessageW(selector, CB_SHOWDROPDOWN, TRUE, 0);
        SendMessageW(selector, CB_SHOWDROPDOWN, FALSE, 0);
        const std::vector<ComboItem> items = ComboItems(selector);
        ASSERT_EQ(expected.size(), items.size());
        for (size_t i = 0; i < items.size(); ++i) {
            EXPECT_EQ(expected[i], items[i].text);
            EXPECT_EQ(std::to_string(items[i].data), items[i].text.substr(4));
        }
        EXPECT_EQ(0, SendMessageW(selector, CB_GETCURSEL, 0, 0));

        // Give the slot its own port.
        const std::string wanted = "COM " + std::to_string(g_options.ports[slot]);
        int index = -1;
        for (size_t i = 0; i < items.size(); ++i)
            if (items[i].text == wanted) index = static_cast<int>(i);
        ASSERT_GE(index, 0);
        SendMessageW(selector, CB_SETCURSEL, index, 0);
        SendMessageW(s_dialog, WM_COMMAND, MAKEWPARAM(kSelector[slot], CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(selector));
        EXPECT_EQ(index, SendMessageW(selector, CB_GETCURSEL, 0, 0));
    }
    EXPECT_TRUE(IsWindowEnabled(Item(IDC_START_SLOT1)));
    EXPECT_TRUE(IsWindowEnabled(Item(IDC_BROWSE_PARTITION)));
    EXPECT_TRUE(IsWindowEnabled(Item(IDC_BROWSE_CEFS)));
}

TEST_F(TarnwellGui, EightSlotsFlashTheirDevicesAtOnce) {
    Click(IDC_START_DOWNLOAD);

    // Every list is cleared and starts over with the engine's first line.
    // (Only single lines are read while the slots run: each read of a line
    // costs the UI thread a request while eight workers wait on it.)
    const bool allStarted = WaitFor(
        [&] {
            for (int slot = 0; slot < kSlots; ++slot)
                if (!EndsWith(FirstLine(slot), "] Start To Download Process...")) return false;
            return true;
        },
        30000, 200);
    ASSERT_TRUE(allStarted);

    // While they run, neither closing nor a second start of slot 1 is accepted.
    ASSERT_FALSE(EndsWith(LastLine(0), "Download Process Success!!"));
    Click(IDCANCEL);
    std::string text;
    ASSERT_TRUE(s_process->AnswerMessageBox(&text, 10000)) << s_process->DescribeWindows();
    EXPECT_EQ("Download process is still running!!You cant Stop!!", text);
    Click(IDC_START_SLOT1);
    ASSERT_TRUE(s_process->AnswerMessageBox(&text, 10000)) << s_process->DescribeWindows();
    EXPECT_EQ("The download process is still running!!", text);
    EXPECT_FALSE(s_process->HasExited());

    ASSERT_TRUE(WaitFor([&] { return AllSlotsFinished(); }, g_options.downloadTimeoutMs, 500)) << [&] {
        std::string last;
        for (int slot = 0; slot < kSlots; ++slot)
            last += "\n  slot " + std::to_string(slot + 1) + ": " + LastLine(slot);
        return last;
    }();
    for (int slot = 0; slot < kSlots; ++slot) {
        SCOPED_TRACE(kSlotNames[slot]);
        const std::vector<std::string> lines = Lines(slot);
        for (const std::string& line : lines) EXPECT_TRUE(std::regex_match(line, kStampedLine)) << line;
        const HWND list = Item(kList[slot]);
        if (slot + 1 == g_options.failingSlot) {
            // The device refuses to open the AMSS image.
            EXPECT_TRUE(EndsWith(lines.back(), "] Download AMSSHD and AMSS File Failed!!")) << lines.back();
            EXPECT_EQ(kRed, ListBackground(list));
            EXPECT_EQ(kRed, ListTextBackground(list));
        } else {
            EXPECT_TRUE(EndsWith(lines.back(), "] Download Process Success!!")) << lines.back();
            EXPECT_EQ(kGrey, ListBackground(list));
            EXPECT_EQ(kGrey, ListTextBackground(list));
            bool sawProgress = false;
            for (const std::string& line : lines) sawProgress |= line.find("100 % completed.") != std::string::npos;
            EXPECT_TRUE(sawProgress);
        }
    }
    EXPECT_TRUE(s_process->MessageBoxes().empty());
}

// The picture shows what the operator sees once the downloads are over: the
// whole dialog, the failed slot's list red, the others grey. Wine hands a
// window's painting to the X server a little later, so the picture is taken
// again until the lists show their colours or the time is up; it is saved
// either way, for a look at what went wrong.
TEST_F(TarnwellGui, PictureShowsTheFailedSlotRedAndTheOthersGrey) {
    if (g_options.screenshot.empty()) GTEST_SKIP() << "no --screenshot given";
    const auto expected = [](int slot) { return slot + 1 == g_options.failingSlot ? kRed : kGrey; };
    const auto listColour = [&](const Picture& picture, int slot) {
        return DominantColour(picture, ClientAreaIn(s_dialog, Item(kList[slot])));
    };
    Picture picture;
    WaitFor(
        [&] {
            if (!CaptureWindow(s_dialog, &picture)) return false;
            for (int slot = 0; slot < kSlots; ++slot)
                if (listColour(picture, slot).colour != expected(slot)) return false;
            return true;
        },
        10000, 500);
    ASSERT_TRUE(SavePng(picture, g_options.screenshot)) << g_options.screenshot;

    RECT frame;
    ASSERT_TRUE(GetWindowRect(s_dialog, &frame));
    EXPECT_EQ(frame.right - frame.left, picture.width);
    EXPECT_EQ(frame.bottom - frame.top, picture.height);
    const double lit = NonBlackShare(picture);
    std::printf("picture: %d x %d pixels, %.1f %% not black\n", picture.width, picture.height, 100 * lit);
    // Black is only the running lists' background; the finished dialog is mostly light.
    EXPECT_GT(lit, 0.5);
    for (int slot = 0; slot < kSlots; ++slot) {
        SCOPED_TRACE(kSlotNames[slot]);
        const AreaColour found = listColour(picture, slot);
        EXPECT_EQ(Hex(expected(slot)), Hex(found.colour));
        EXPECT_GT(found.share, 0.5);
    }
}

TEST_F(TarnwellGui, DownloadOneTxtHoldsSlotOnesLatestRun) {
    const std::vector<std::string> file = SplitLines(ReadWorkFile("DownloadOne.txt"));
    const std::vector<std::string> list = Lines(0);
    EXPECT_EQ(list, file);
    ASSERT_FALSE(file.empty());
    EXPECT_TRUE(EndsWith(file.front(), "] Start To Download Process..."));
    for (const std::string& line : file) EXPECT_EQ(std::string::npos, line.find("None ComPort Selected"));
}

TEST_F(TarnwellGui, ImageWithoutItsHeaderIsRefusedAndCancelCloses) {
    // Untick the QCSBL image, then its header; ticking the image again is refused.
    Click(IDC_CHECK_QCSBL);
    ASSERT_TRUE(WaitFor([&] { return !IsTicked(Item(IDC_CHECK_QCSBL)); }, 5000));
    Click(IDC_CHECK_QCSBLHD);
    ASSERT_TRUE(WaitFor([&] { return !IsTicked(Item(IDC_CHECK_QCSBLHD)); }, 5000));
    Click(IDC_CHECK_QCSBL);
    std::string text;
    ASSERT_TRUE(s_process->AnswerMessageBox(&text, 10000)) << s_process->DescribeWindows();
    EXPECT_EQ("You cannot download this image without its header file.", text);
    EXPECT_TRUE(WaitFor([&] { return !IsTicked(Item(IDC_CHECK_QCSBL)); }, 5000));
    EXPECT_FALSE(IsTicked(Item(IDC_CHECK_QCSBLHD)));

    // Nothing runs any more: Cancel closes the program.
    Click(IDCANCEL);
    EXPECT_TRUE(s_process->HasExited(15000));
    EXPECT_EQ(0u, s_process->ExitCode());
}

}  // namespace
}  // namespace tarnwell_gui

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    using tarnwell_gui::g_options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const std::string value = argv[i + 1];
        if (key == "--tarnwell")
            g_options.tarnwell = value;
        else if (key == "--workdir")
            g_options.workDirectory = value;
        else if (key == "--screenshot")
            g_options.screenshot = value;
        else if (key == "--failing-slot")
            g_options.failingSlot = std::atoi(value.c_str());
        else if (key == "--timeout-s")
            g_options.downloadTimeoutMs = static_cast<DWORD>(std::atoi(value.c_str())) * 1000;
        else if (key == "--ports") {
            std::stringstream list(value);
            std::string port;
            while (std::getline(list, port, ',')) g_options.ports.push_back(std::atoi(port.c_str()));
        } else {
            std::fprintf(stderr, "unknown option %s\n", key.c_str());
            return 2;
        }
    }
    if (g_options.tarnwell.empty() || g_options.workDirectory.empty() || g_options.ports.size() != 8) {
        std::fprintf(stderr,
                     "usage: gui_driver --tarnwell EXE --workdir DIR --ports p1,...,p8 [--failing-slot N] "
                     "[--screenshot PNG] [--timeout-s N]\n");
        return 2;
    }
    return RUN_ALL_TESTS();
}
